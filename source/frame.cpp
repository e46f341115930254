#include "source/frame.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

void klaspnet_publish_owned(const char *message, char *result_json)
{
    char *drop;
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
        // The text handed out by klaspnet_result_json stays valid until the
        // next call of that function, so a published text it still refers
        // to is left to that slot.
        drop = g_json != g_json_ret ? g_json : nullptr;
        g_json = result_json;
    }
    std::free(drop);
}

void klaspnet_publish(const char *message, const char *result_json)
{
    // The copy is made before the lock so that the lock covers only a short
    // memcpy and a pointer exchange. Out of memory publishes none ("{}").
    klaspnet_publish_owned(message, result_json ? klaspnet_strdup(result_json) : nullptr);
}

namespace klaspnet::detail {

namespace {

// head, the n bytes at body, and tail into (dst, dst_len) with a NUL: all of
// it, or "" when it does not fit. 0, or -9 with the size needed in *need.
int put_parts(char *dst, int32_t dst_len, const char *head, const char *body, size_t n, const char *tail, size_t *need)
{
    const size_t hn = std::strlen(head), tn = std::strlen(tail);
    *need = hn + n + tn + 1;
    if (!dst || dst_len <= 0) return KLASPNET_E_BUFFER;
    if (static_cast<size_t>(dst_len) < *need) {
        dst[0] = '\0';
        return KLASPNET_E_BUFFER;
    }
    std::memcpy(dst, head, hn);
    std::memcpy(dst + hn, body, n);
    std::memcpy(dst + hn + n, tail, tn + 1);
    return 0;
}

// The last error of a success: "" or, when the answer did not fit, the size
// it needs.
void publish_success(int rc, size_t need, char *result)
{
    char msg[96] = "";
    if (rc == KLASPNET_E_BUFFER) std::snprintf(msg, sizeof msg, "output buffer too small: %zu bytes needed", need);
    klaspnet_publish_owned(msg, result);
}

} // namespace

int put_out(char *dst, int32_t dst_len, const char *text)
{
    if (!text) {
        if (!dst || dst_len <= 0) return KLASPNET_E_BUFFER;
        dst[0] = '\0';
        return 0;
    }
    size_t need;
    return put_parts(dst, dst_len, "", text, std::strlen(text), "", &need);
}

int fail(char *dst, int32_t dst_len, int code, const char *message)
{
    // Messages may quote bytes the library did not make: a transport's error
    // text, a page title cut at 200 bytes inside a character. The last error
    // keeps the repaired text the error JSON shows: each byte that starts no
    // well-formed sequence becomes U+FFFD.
    char *repaired = message ? text::utf8_repaired(message, std::strlen(message)) : nullptr;
    if (repaired) message = repaired;
    json_writer w;
    w.obj_begin();
    w.key("error");
    w.str(message ? message : "");
    w.key("code");
    w.num(code);
    w.obj_end();
    size_t n = 0;
    char *json = w.take(&n);
    // The buffer is written before the text is published: from then on
    // another thread's publication may release it.
    size_t need;
    if (dst && dst_len > 0 && (!json || put_parts(dst, dst_len, "", json, n, "", &need) != 0)) dst[0] = '\0';
    klaspnet_publish_owned(message, json);
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
    char *pub = klaspnet_strdup(publish_json ? publish_json : out_json);
    size_t need;
    const int rc = put_parts(dst, dst_len, "", out_json, std::strlen(out_json), "", &need);
    publish_success(rc, need, pub);
    return rc;
}

int done_json(char *dst, int32_t dst_len, json_writer &w, const char *oom_message, answer_part part)
{
    size_t n = 0;
    char *text = w.take(&n);
    if (!text) return fail(dst, dst_len, KLASPNET_E_FAILED, oom_message);
    if (part.len == SIZE_MAX) part = {0, n};
    size_t need;
    const int rc = put_parts(dst, dst_len, part.head, text + part.from, part.len, part.tail, &need);
    publish_success(rc, need, text);
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
    // The published text never changes once published, so the slot hands
    // out that text itself rather than a copy of it: it stays valid until
    // the next call, because a publication leaves a text this slot refers
    // to alone (klaspnet_publish_owned), and a listing of many megabytes is
    // neither copied nor held twice.
    char *drop;
    const char *out;
    {
        klaspnet::platform::guard g(g_res_lock);
        drop = g_json_ret != g_json ? g_json_ret : nullptr;
        g_json_ret = g_json;
        out = g_json ? g_json : k_empty_json;
    }
    std::free(drop);
    return out;
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
