#include "source/frame.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "klaspnet/klaspnet.h"
#include "platform/platform.h"
#include "source/buf.h"
#include "source/ops.h"

namespace {

// Published state. The most recent operation of any thread wins.
kl_lock g_res_lock;
char g_err[512];
char *g_json;
char g_err_ret[512];
char *g_json_ret;

const char k_empty_json[] = "{}";

// Length of the well-formed UTF-8 sequence at p (at most n bytes), or 0.
size_t utf8_seq(const unsigned char *p, size_t n)
{
    if (p[0] < 0x80) return 1;
    size_t len;
    uint32_t cp, min;
    if ((p[0] & 0xE0) == 0xC0) {
        len = 2, cp = p[0] & 0x1F, min = 0x80;
    } else if ((p[0] & 0xF0) == 0xE0) {
        len = 3, cp = p[0] & 0x0F, min = 0x800;
    } else if ((p[0] & 0xF8) == 0xF0) {
        len = 4, cp = p[0] & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (len > n) return 0;
    for (size_t i = 1; i < len; i++) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

// Messages may quote bytes the library did not make: a transport's error
// text, a page title cut at 200 bytes inside a character. The JSON writer
// refuses text that is not UTF-8, which would turn the error into "{}", so
// each byte that does not start a well-formed sequence becomes U+FFFD.
// Returns null when the message is already well-formed (or memory runs out:
// the message is then used as it is).
char *utf8_repaired(const char *msg)
{
    const auto *s = reinterpret_cast<const unsigned char *>(msg);
    size_t n = std::strlen(msg), bad = 0;
    for (size_t i = 0; i < n;) {
        size_t l = utf8_seq(s + i, n - i);
        if (l == 0) {
            bad++;
            i++;
        } else {
            i += l;
        }
    }
    if (bad == 0) return nullptr;
    auto *out = static_cast<char *>(std::malloc(n + 2 * bad + 1));
    if (!out) return nullptr;
    char *o = out;
    for (size_t i = 0; i < n;) {
        size_t l = utf8_seq(s + i, n - i);
        if (l == 0) {
            std::memcpy(o, "\xEF\xBF\xBD", 3);
            o += 3;
            i++;
        } else {
            std::memcpy(o, s + i, l);
            o += l;
            i += l;
        }
    }
    *o = '\0';
    return out;
}

} // namespace

void klaspnet_publish(const char *message, const char *result_json)
{
    // The copy is made before the lock so that the lock covers only a short
    // memcpy and a pointer exchange.
    char *copy = klaspnet_strdup(result_json ? result_json : k_empty_json);
    char *old;
    {
        kl_guard g(g_res_lock);
        if (!message || !*message) {
            g_err[0] = '\0';
        } else {
            size_t n = std::strlen(message);
            if (n > sizeof g_err - 1) n = sizeof g_err - 1; // cut at 511 bytes, without regard to UTF-8
            std::memcpy(g_err, message, n);
            g_err[n] = '\0';
        }
        old = g_json;
        g_json = copy;
    }
    std::free(old);
}

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
    char *repaired = message ? utf8_repaired(message) : nullptr;
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

const char *klaspnet_last_error_impl()
{
    kl_guard g(g_res_lock);
    std::memcpy(g_err_ret, g_err, sizeof g_err);
    return g_err_ret;
}

const char *klaspnet_result_json_impl()
{
    kl_guard g(g_res_lock);
    char *copy = klaspnet_strdup(g_json ? g_json : k_empty_json);
    if (copy) {
        std::free(g_json_ret);
        g_json_ret = copy;
        return copy;
    }
    return g_json_ret ? g_json_ret : k_empty_json;
}

int32_t h_download(const velkaron_io *, const char *, const char *, char *dst, int32_t dst_len)
{
    return fail(dst, dst_len, KLASPNET_E_UNSUPPORTED,
                "ASPNET is a read-only listing source: download is not supported");
}

namespace {
constexpr klaspnet_handler k_handler = {
    "ASPNET", 0x23u, h_validate, h_list, h_stream_url, h_download,
};
} // namespace

const klaspnet_handler *klrch_get_impl() { return &k_handler; }
