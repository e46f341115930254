#include "source/frame.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "common/limits.h"
#include "common/text.h"
#include "klaspnet/klaspnet.h"
#include "platform/platform.h"
#include "source/buf.h"
#include "source/ops.h"

namespace {

// Published state. The most recent operation of any thread wins.
klaspnet::platform::lock g_res_lock;
char g_err[klaspnet::limits::last_error_size];
char *g_json;
char g_err_ret[klaspnet::limits::last_error_size];
char *g_json_ret;

const char k_empty_json[] = "{}";

} // namespace

void klaspnet_publish(const char *message, const char *result_json)
{
    // The copy is made before the lock so that the lock covers only a short
    // memcpy and a pointer exchange.
    char *copy = klaspnet_strdup(result_json ? result_json : k_empty_json);
    char *old;
    {
        klaspnet::platform::guard g(g_res_lock);
        if (!message || !*message) {
            g_err[0] = '\0';
        } else {
            size_t n = std::strlen(message);
            // Cut at 511 bytes, on a whole character.
            if (n > sizeof g_err - 1) n = klaspnet::text::utf8_whole_prefix(message, sizeof g_err - 1);
            std::memcpy(g_err, message, n);
            g_err[n] = '\0';
        }
        old = g_json;
        g_json = copy;
    }
    std::free(old);
}

namespace klaspnet::detail {

int put_out(char *dst, int32_t dst_len, const char *text)
{
    bool usable = dst && dst_len > 0;
    if (!text) {
        if (!usable) return KLASPNET_E_BUFFER;
        dst[0] = '\0';
        return 0;
    }
    if (!usable) return KLASPNET_E_BUFFER;
    size_t n = std::strlen(text);
    if (static_cast<size_t>(dst_len) < n + 1) {
        dst[0] = '\0';
        return KLASPNET_E_BUFFER;
    }
    std::memcpy(dst, text, n + 1);
    return 0;
}

int fail(char *dst, int32_t dst_len, int code, const char *message)
{
    // Messages may quote bytes the library did not make: a transport's error
    // text, a page title cut at 200 bytes inside a character. The JSON writer
    // refuses text that is not UTF-8, which would turn the error into "{}",
    // so each byte that starts no well-formed sequence becomes U+FFFD.
    char *repaired = message ? text::utf8_repaired(message, std::strlen(message)) : nullptr;
    if (repaired) message = repaired;
    char *json = nullptr;
    if (yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr)) {
        yyjson_mut_val *root = yyjson_mut_obj(doc);
        if (root) {
            yyjson_mut_doc_set_root(doc, root);
            yyjson_mut_obj_add_str(doc, root, "error", message ? message : "");
            yyjson_mut_obj_add_int(doc, root, "code", code);
            json = yyjson_mut_write_opts(doc, 0, nullptr, nullptr, nullptr);
        }
        yyjson_mut_doc_free(doc);
    }
    klaspnet_publish(message, json);
    if (dst && dst_len > 0) {
        if (put_out(dst, dst_len, json ? json : "") != 0) dst[0] = '\0';
    }
    std::free(json);
    std::free(repaired);
    return code;
}

int fail_url_too_long(char *dst, int32_t dst_len, const char *what)
{
    char msg[limits::msg_size];
    std::snprintf(msg, sizeof msg, "%s URL longer than %zu bytes", what, limits::url_max);
    return fail(dst, dst_len, KLASPNET_E_INVALID, msg);
}

int done(char *dst, int32_t dst_len, const char *out_json, const char *publish_json)
{
    const char *pub = publish_json ? publish_json : out_json;
    klaspnet_publish("", pub);
    int rc = put_out(dst, dst_len, out_json);
    if (rc == KLASPNET_E_BUFFER) {
        char msg[96];
        std::snprintf(msg, sizeof msg, "output buffer too small: %zu bytes needed", std::strlen(out_json) + 1);
        klaspnet_publish(msg, pub);
    }
    return rc;
}

} // namespace klaspnet::detail

const char *klaspnet_last_error_impl()
{
    klaspnet::platform::guard g(g_res_lock);
    std::memcpy(g_err_ret, g_err, sizeof g_err);
    return g_err_ret;
}

const char *klaspnet_result_json_impl()
{
    klaspnet::platform::guard g(g_res_lock);
    char *copy = klaspnet_strdup(g_json ? g_json : k_empty_json);
    if (copy) {
        std::free(g_json_ret);
        g_json_ret = copy;
        return copy;
    }
    return g_json_ret ? g_json_ret : k_empty_json;
}

namespace klaspnet::detail {

int32_t h_download(const velkaron_io *, const char *, const char *, char *dst, int32_t dst_len)
{
    return fail(dst, dst_len, KLASPNET_E_UNSUPPORTED,
                "ASPNET is a read-only listing source: download is not supported");
}

namespace {

// The table's entries are guarded like the exports: a host may call them
// directly, with a transport of its own choosing.
int32_t validate_entry(const velkaron_io *io, const char *settings, char *dst, int32_t dst_len)
{
    return op_guard(dst, dst_len, [&] { return h_validate(io, settings, dst, dst_len); });
}

int32_t list_entry(const velkaron_io *io, const char *settings, const char *folder, char *dst, int32_t dst_len)
{
    return op_guard(dst, dst_len, [&] { return h_list(io, settings, folder, dst, dst_len); });
}

int32_t stream_url_entry(const velkaron_io *io, const char *settings, const char *entry, char *dst, int32_t dst_len)
{
    return op_guard(dst, dst_len, [&] { return h_stream_url(io, settings, entry, dst, dst_len); });
}

int32_t download_entry(const velkaron_io *io, const char *settings, const char *entry, char *dst, int32_t dst_len)
{
    return op_guard(dst, dst_len, [&] { return h_download(io, settings, entry, dst, dst_len); });
}

constexpr klaspnet_handler k_handler = {
    "ASPNET", 0x23u, validate_entry, list_entry, stream_url_entry, download_entry,
};

} // namespace

} // namespace klaspnet::detail

const klaspnet_handler *klrch_get_impl() { return &klaspnet::detail::k_handler; }
