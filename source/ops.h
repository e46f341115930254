// The source's operations. Each ends through exactly one call of fail() or done().
#pragma once

#include <cstdint>

#include "klaspnet/klaspnet.h"

namespace klaspnet::detail {

int32_t h_validate(const velkaron_io *io, const char *settings_json, char *dst, int32_t dst_len);
int32_t h_list(const velkaron_io *io, const char *settings_json, const char *folder_id, char *dst, int32_t dst_len);
int32_t h_stream_url(const velkaron_io *io, const char *settings_json, const char *entry_json, char *dst,
                     int32_t dst_len);
int32_t h_download(const velkaron_io *io, const char *settings_json, const char *entry_json, char *dst,
                   int32_t dst_len);

} // namespace klaspnet::detail

int32_t klaspnet_stat_io(const velkaron_io *io, const char *settings_json, const char *path, char *dst,
                         int32_t dst_len);
int32_t klaspnet_parse_page(const char *html, const char *page_url, char *dst, int32_t dst_len);

// Bodies of the exports that are not plain dispatch (frame.cpp).
const char *klaspnet_last_error_impl();
const char *klaspnet_result_json_impl();
const klaspnet_handler *klrch_get_impl();
