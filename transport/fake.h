// The built-in scripted in-memory transport and its controls.
#pragma once

#include <cstdint>

#include "klaspnet/klaspnet.h"

// The fake's constant records (recognised by klaspnet_http_for without binding).
const velkaron_io *klaspnet_io_fake();
const velkaron_http *klaspnet_http_fake();

int32_t klaspnet_use_fake_impl();
void klaspnet_fake_reset_impl();
int32_t klaspnet_fake_set_impl(const char *url, int32_t status, const char *header_text, const char *body);
int32_t klaspnet_fake_fail_impl(const char *url, const char *message);
uint32_t klaspnet_fake_calls_impl(const char *url);
const char *klaspnet_fake_last_request_impl(const char *url);
