// Stream URL: the URL the host fetches to play a listed file, and the Basic
// authorization header to send with it when the root carries credentials.
// No network I/O: the transport is ignored.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "klaspnet/klaspnet.h"
#include "source/buf.h"
#include "source/cfg.h"
#include "source/frame.h"
#include "source/ops.h"
#include "source/page.h"
#include "source/url.h"

namespace klaspnet::detail {

namespace {

// A document written compactly; null when memory runs out.
char *write_json(yyjson_mut_doc *doc, const yyjson_alc *alc = nullptr)
{
    return doc ? yyjson_mut_write_opts(doc, 0, alc, nullptr, nullptr) : nullptr;
}

const char k_no_path[] = "entry has no \"path\" string";
const char k_not_file[] = "entry path is not a file path (empty, ., .. or control characters)";

// "Basic " and the Base64 of user ":" password (RFC 7617), or null when
// memory runs out. Every intermediate text is cleared before it is freed;
// the caller wipes the result.
char *basic_header(const char *user, const char *pass)
{
    size_t nu = std::strlen(user), np = std::strlen(pass);
    // Sized once: a buffer that grew by realloc could leave a copy of the
    // user name behind in the block it moved from.
    char *pair = static_cast<char *>(std::malloc(nu + np + 2));
    if (!pair) return nullptr;
    std::memcpy(pair, user, nu);
    pair[nu] = ':';
    std::memcpy(pair + nu + 1, pass, np + 1);
    char *b64 = klaspnet_base64(pair);
    klaspnet_wipe(pair, nu + np + 2);
    std::free(pair);
    if (!b64) return nullptr;
    size_t nb = std::strlen(b64);
    char *hdr = static_cast<char *>(std::malloc(6 + nb + 1));
    if (hdr) {
        std::memcpy(hdr, "Basic ", 6);
        std::memcpy(hdr + 6, b64, nb + 1);
    }
    klaspnet_free_secret(b64);
    return hdr;
}

// The published summary of an answer: its URL and whether it carries a
// header, never the header itself. "{}" when it cannot be built.
char *summary_of(const char *answer)
{
    char *out = nullptr;
    const yyjson_alc *alc = klaspnet_wipe_alc(); // the parsed answer holds the header
    yyjson_doc *in = yyjson_read_opts(const_cast<char *>(answer), std::strlen(answer), 0, alc, nullptr);
    yyjson_val *a = yyjson_doc_get_root(in);
    yyjson_mut_doc *doc = yyjson_is_obj(a) ? yyjson_mut_doc_new(nullptr) : nullptr;
    yyjson_mut_val *o = doc ? yyjson_mut_obj(doc) : nullptr;
    if (o) {
        yyjson_mut_doc_set_root(doc, o);
        yyjson_val *url = yyjson_obj_get(a, "url");
        bool ok = yyjson_mut_obj_add_str(doc, o, "op", "stream_url") && yyjson_mut_obj_add_int(doc, o, "code", 0);
        if (ok && yyjson_is_str(url))
            ok = yyjson_mut_obj_add_strncpy(doc, o, "url", yyjson_get_str(url), yyjson_get_len(url));
        if (ok) ok = yyjson_mut_obj_add_bool(doc, o, "auth_header", yyjson_obj_get(a, "headers") != nullptr);
        if (ok) out = write_json(doc);
    }
    yyjson_mut_doc_free(doc);
    yyjson_doc_free(in);
    return out;
}

struct stream_state {
    klaspnet_cfg cfg{};
    klaspnet_buf path{};
    klaspnet_buf url{};
    ~stream_state()
    {
        klaspnet_buf_free(&url);
        klaspnet_buf_free(&path);
        klaspnet_root_free(&cfg.root); // wipes the password
    }
};

// The normal path of the entry's "path" into s.path, or the reason it names
// no file with its code in *code.
const char *entry_path(const char *entry_json, stream_state &s, int *code)
{
    *code = KLASPNET_E_INVALID;
    yyjson_doc *entry =
        entry_json ? yyjson_read_opts(const_cast<char *>(entry_json), std::strlen(entry_json), 0, nullptr, nullptr)
                   : nullptr;
    yyjson_val *eo = yyjson_doc_get_root(entry);
    const char *why = nullptr;
    if (!yyjson_is_obj(eo)) {
        why = "entry is not a JSON object";
    } else if (yyjson_obj_size(eo) == 0) {
        why = k_no_path;
    } else {
        yyjson_val *p = yyjson_obj_getn(eo, "path", 4);
        yyjson_val *folder = yyjson_obj_getn(eo, "folder", 6);
        if (!yyjson_is_str(p)) {
            why = k_no_path;
        } else if (yyjson_is_true(folder)) {
            *code = KLASPNET_E_NOT_FOUND;
            why = "entry is a folder: a folder has no stream URL";
        } else if (std::strlen(yyjson_get_str(p)) != yyjson_get_len(p) || // a \u0000 is a control byte too
                   klaspnet_path_norm(yyjson_get_str(p), &s.path) != 0 || s.path.len == 0) {
            *code = KLASPNET_E_NOT_FOUND;
            why = k_not_file;
        }
    }
    yyjson_doc_free(entry); // the normal path is a copy
    return why;
}

// The answer {"url":...,"headers":{"Authorization":...}}, written through the
// wiping allocator; null when memory runs out. An empty user name
// (http://@h/) still asks for the header. An answer without the header the
// root needs would send the player to the server without credentials: that
// is an out-of-memory failure, not an answer.
char *answer_text(const stream_state &s, const yyjson_alc *alc)
{
    yyjson_mut_doc *doc = yyjson_mut_doc_new(alc);
    yyjson_mut_val *o = doc ? yyjson_mut_obj(doc) : nullptr;
    char *text = nullptr;
    if (o && yyjson_mut_obj_add_strncpy(doc, o, "url", s.url.data, s.url.len)) {
        yyjson_mut_doc_set_root(doc, o);
        bool ok = true;
        if (s.cfg.root.user) {
            ok = false;
            if (char *hdr = basic_header(s.cfg.root.user, s.cfg.root.pass)) {
                yyjson_mut_val *h = yyjson_mut_obj(doc);
                ok = h && yyjson_mut_obj_add_strcpy(doc, h, "Authorization", hdr) &&
                     yyjson_mut_obj_add_val(doc, o, "headers", h);
                klaspnet_free_secret(hdr);
            }
        }
        if (ok) text = write_json(doc, alc);
    }
    yyjson_mut_doc_free(doc);
    return text;
}

} // namespace

int32_t h_stream_url(const velkaron_io *, const char *settings_json, const char *entry_json, char *dst, int32_t dst_len)
{
    stream_state s;
    char msg[limits::msg_size];
    if (load_cfg(settings_json, &s.cfg) != 0) {
        std::snprintf(msg, sizeof msg, "%s", s.cfg.msg);
        return fail(dst, dst_len, KLASPNET_E_INVALID, msg);
    }
    int code = 0;
    if (const char *why = entry_path(entry_json, s, &code)) {
        std::snprintf(msg, sizeof msg, "%s", why);
        return fail(dst, dst_len, code, msg);
    }
    if (klaspnet_path_url(s.cfg.root.url, s.path.data, 0, &s.url) != 0) return fail_url_too_long(dst, dst_len, "file");

    // The answer may carry the authorization header, so its document and
    // the written text clear their memory when released.
    const yyjson_alc *alc = klaspnet_wipe_alc();
    char *text = answer_text(s, alc);
    if (!text) return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
    char *summary = summary_of(text);
    const int rc = done(dst, dst_len, text, summary ? summary : "{}");
    std::free(summary);
    alc->free(alc->ctx, text); // cleared: it is the header's last copy held by the library
    return rc;
}

} // namespace klaspnet::detail
