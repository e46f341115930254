// The 21 exported functions: thin C wrappers over the C++ inside. Nothing
// thrown inside may cross into the host; a stray exception ends the call as
// an out-of-memory failure instead of terminating the host process.
#include <new>

#include "klaspnet/klaspnet.h"
#include "source/frame.h"
#include "source/ops.h"
#include "source/registry.h"
#include "source/transport_select.h"
#include "transport/fake.h"

using klaspnet::detail::io_hold;
using klaspnet::detail::op_guard;

namespace {

template <class R, class F> R plain_guard(R on_throw, F &&f) noexcept
{
    try {
        return f();
    } catch (...) {
        return on_throw;
    }
}

} // namespace

extern "C" {

KLASPNET_API int32_t klaspnet_validate(const char *settings_json, char *dst, int32_t dst_len)
{
    return op_guard(dst, dst_len,
                    [&] { return klrch_get_impl()->validate(io_hold().get(), settings_json, dst, dst_len); });
}

KLASPNET_API int32_t klaspnet_list(const char *settings_json, const char *folder_id, char *dst, int32_t dst_len)
{
    return op_guard(dst, dst_len,
                    [&] { return klrch_get_impl()->list(io_hold().get(), settings_json, folder_id, dst, dst_len); });
}

KLASPNET_API int32_t klaspnet_stream_url(const char *settings_json, const char *entry_json, char *dst, int32_t dst_len)
{
    return op_guard(dst, dst_len, [&] {
        return klrch_get_impl()->stream_url(io_hold().get(), settings_json, entry_json, dst, dst_len);
    });
}

KLASPNET_API int32_t klaspnet_download(const char *settings_json, const char *entry_json, char *dst, int32_t dst_len)
{
    return op_guard(dst, dst_len, [&] {
        return klrch_get_impl()->download(io_hold().get(), settings_json, entry_json, dst, dst_len);
    });
}

KLASPNET_API int32_t klaspnet_stat(const char *settings_json, const char *path, char *dst, int32_t dst_len)
{
    return op_guard(dst, dst_len, [&] { return klaspnet_stat_io(io_hold().get(), settings_json, path, dst, dst_len); });
}

KLASPNET_API int32_t klaspnet_parse(const char *html, const char *page_url, char *dst, int32_t dst_len)
{
    return op_guard(dst, dst_len, [&] { return klaspnet_parse_page(html, page_url, dst, dst_len); });
}

KLASPNET_API const char *klaspnet_last_error(void)
{
    return plain_guard<const char *>("", [] { return klaspnet_last_error_impl(); });
}

KLASPNET_API const char *klaspnet_result_json(void)
{
    return plain_guard<const char *>("{}", [] { return klaspnet_result_json_impl(); });
}

KLASPNET_API const char *klaspnet_version(void) { return KLASPNET_VERSION_STRING; }

KLASPNET_API const char *klaspnet_runtime_type(void) { return klrch_get_impl()->runtime_type; }

KLASPNET_API int32_t klaspnet_caps(void) { return static_cast<int32_t>(klrch_get_impl()->caps); }

KLASPNET_API const klaspnet_handler *klrch_get(void) { return klrch_get_impl(); }

KLASPNET_API int32_t klaspnet_set_io(const velkaron_io *io)
{
    return plain_guard<int32_t>(KLASPNET_E_FAILED, [&] { return klaspnet_set_io_impl(io); });
}

KLASPNET_API int32_t klaspnet_use_curl(void)
{
    return plain_guard<int32_t>(KLASPNET_E_FAILED, [] { return klaspnet_use_curl_impl(); });
}

KLASPNET_API int32_t klaspnet_use_fake(void)
{
    return plain_guard<int32_t>(KLASPNET_E_FAILED, [] { return klaspnet_use_fake_impl(); });
}

KLASPNET_API int32_t klaspnet_bind_http(const velkaron_io *io, const velkaron_http *http)
{
    return plain_guard<int32_t>(KLASPNET_E_FAILED, [&] { return klaspnet_bind_http_impl(io, http); });
}

KLASPNET_API void klaspnet_fake_reset(void)
{
    plain_guard<int>(0, [] {
        klaspnet_fake_reset_impl();
        return 0;
    });
}

KLASPNET_API int32_t klaspnet_fake_set(const char *url, int32_t status, const char *header_text, const char *body)
{
    return plain_guard<int32_t>(KLASPNET_E_FAILED,
                                [&] { return klaspnet_fake_set_impl(url, status, header_text, body); });
}

KLASPNET_API int32_t klaspnet_fake_fail(const char *url, const char *message)
{
    return plain_guard<int32_t>(KLASPNET_E_FAILED, [&] { return klaspnet_fake_fail_impl(url, message); });
}

KLASPNET_API uint32_t klaspnet_fake_calls(const char *url)
{
    return plain_guard<uint32_t>(0u, [&] { return klaspnet_fake_calls_impl(url); });
}

KLASPNET_API const char *klaspnet_fake_last_request(const char *url)
{
    return plain_guard<const char *>("{}", [&] { return klaspnet_fake_last_request_impl(url); });
}

} // extern "C"
