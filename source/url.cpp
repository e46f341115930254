// The source root, URL predicates, paths below the root, request URLs,
// redaction of URLs in messages, Base64 and random identifiers.
#include "source/url.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/limits.h"
#include "common/text.h"
#include "platform/platform.h"

using namespace klaspnet::text;
using klaspnet::limits::url_max;

namespace klaspnet::detail {

namespace {

// The white space trimmed around a configured URL: TAB, LF, CR and SPACE
// (not VT or FF).
bool is_ws(unsigned char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

// Scheme length of the n bytes at s. Never reads past n.
scheme_len scheme_n(const char *s, size_t n)
{
    if (!s || n < 7 || !ci_equal(s, "http", 4)) return no_scheme;
    if (s[4] == ':') return (s[5] == '/' && s[6] == '/') ? scheme_http : no_scheme;
    if (n < 8 || to_lower(s[4]) != 's') return no_scheme;
    return (s[5] == ':' && s[6] == '/' && s[7] == '/') ? scheme_https : no_scheme;
}

// Length of the text at s, but at most 8 (all scheme_n ever looks at).
size_t head_len(const char *s)
{
    size_t n = 0;
    while (n < 8 && s[n]) n++;
    return n;
}

// End of the authority that starts at s: the first "/", "?" or "#", or the NUL.
const char *authority_end(const char *s)
{
    while (*s && *s != '/' && *s != '?' && *s != '#') s++;
    return s;
}

// Start of the host part of the authority [a, e): after its last "@".
const char *host_start(const char *a, const char *e)
{
    const char *h = a;
    for (const char *p = a; p < e; p++)
        if (*p == '@') h = p + 1;
    return h;
}

bool same_host(const char *a, size_t an, const char *b, size_t bn) { return an == bn && ci_equal(a, b, an); }

void put_msg(char *msg, size_t msg_size, const char *text)
{
    if (msg && msg_size) std::snprintf(msg, msg_size, "%s", text);
}

// Bytes that may stay bare in the path of the canonical root: all but those
// RFC 3986 excludes from a path and that browsers escape, and every
// non-ASCII byte. "%" stays: escapes already written are kept as they are.
constexpr byte_set k_keep_root_path = make_set([](unsigned char c) {
    switch (c) {
    case ' ':
    case '"':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}': return false;
    default: return c < 128;
    }
});

// Bounded writer for klaspnet_redact: keeps at most size - 1 bytes.
struct bounded {
    char *out;
    size_t size;
    size_t len = 0;
    void add(const char *s, size_t n)
    {
        size_t room = size - 1 - len;
        if (n > room) n = room;
        std::memcpy(out + len, s, n);
        len += n;
        out[len] = '\0';
    }
};

// The pieces of a configured root URL that passed every check.
struct root_parts {
    scheme_len scheme;
    const char *auth;     // the authority: userinfo, host and port
    const char *at;       // its last "@", or null
    const char *host;     // host and port, after the "@"
    const char *auth_end; // end of the authority
    const char *path_end; // end of the path: "#" or the end of the text
};

// The checks of a root URL, in order; null with the parts filled, or the
// reason it is refused. [s, s + n) is the URL with surrounding white space
// already trimmed.
const char *check_root(const char *s, size_t n, root_parts *r, char *long_msg, size_t long_size)
{
    if (n == 0) return "settings key URL is empty";
    if (n > url_max) {
        std::snprintf(long_msg, long_size, "URL is longer than %zu bytes", url_max);
        return long_msg;
    }
    r->scheme = scheme_n(s, n);
    if (r->scheme == no_scheme) return "URL must start with http:// or https://";
    for (size_t i = 0; i < n; i++) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 32 || c == 127) return "URL contains a control character";
    }
    const char *end = s + n;
    r->auth = s + r->scheme + 3;
    r->auth_end = r->auth;
    while (r->auth_end < end && *r->auth_end != '/' && *r->auth_end != '?' && *r->auth_end != '#') r->auth_end++;
    if (r->auth_end == r->auth) return "URL has no host";
    r->at = nullptr;
    for (const char *p = r->auth; p < r->auth_end; p++)
        if (*p == '@') r->at = p;
    r->host = r->at ? r->at + 1 : r->auth;
    if (r->host == r->auth_end || *r->host == ':') return "URL has no host";
    for (const char *p = r->host; p < r->auth_end; p++) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == ' ' || c == '\\' || c >= 128) return "URL host is not a valid host name";
    }
    r->path_end = r->auth_end;
    while (r->path_end < end && *r->path_end != '?' && *r->path_end != '#') r->path_end++;
    if (r->path_end < end && *r->path_end == '?') return "URL must not carry a query string";
    return nullptr;
}

// The canonical root: lower-case scheme and host, the path with unsafe bytes
// escaped, a final "/". Null when memory runs out.
char *canonical_root(const root_parts &r)
{
    klaspnet_buf b{};
    bool ok = klaspnet_buf_adds(&b, r.scheme == scheme_https ? "https://" : "http://") == 0;
    for (const char *p = r.host; ok && p < r.auth_end; p++) {
        const char c = static_cast<char>(to_lower(*p));
        ok = klaspnet_buf_add(&b, &c, 1) == 0;
    }
    if (ok && r.path_end == r.auth_end) ok = klaspnet_buf_add(&b, "/", 1) == 0;
    if (ok)
        ok = klaspnet_buf_add_pct(&b, r.auth_end, static_cast<size_t>(r.path_end - r.auth_end), k_keep_root_path) == 0;
    if (ok && b.data[b.len - 1] != '/') ok = klaspnet_buf_add(&b, "/", 1) == 0;
    if (!ok) {
        klaspnet_buf_free(&b);
        return nullptr;
    }
    return b.data;
}

// The credentials of the userinfo before the "@": user name and password,
// each percent-decoded (bytes after a decoded NUL cleared). False when
// memory runs out.
bool split_credentials(const root_parts &r, klaspnet_root *root)
{
    const char *colon = r.auth;
    while (colon < r.at && *colon != ':') colon++;
    root->user = pct_decode(r.auth, static_cast<size_t>(colon - r.auth), nullptr, true);
    root->pass = colon < r.at ? pct_decode(colon + 1, static_cast<size_t>(r.at - colon - 1), nullptr, true)
                              : klaspnet_strdup("");
    return root->user && root->pass;
}

} // namespace

scheme_len http_scheme(const char *url)
{
    if (!url) return no_scheme;
    return scheme_n(url, head_len(url));
}

} // namespace klaspnet::detail

using namespace klaspnet::detail;

void klaspnet_root_free(klaspnet_root *root)
{
    if (!root) return;
    std::free(root->url);
    klaspnet_free_secret(root->user);
    klaspnet_free_secret(root->pass);
    root->url = nullptr;
    root->user = nullptr;
    root->pass = nullptr;
}

int klaspnet_root_parse(const char *url, klaspnet_root *root, char *msg, size_t msg_size)
{
    return klaspnet_root_parsen(url, url ? std::strlen(url) : 0, root, msg, msg_size);
}

int klaspnet_root_parsen(const char *url, size_t len, klaspnet_root *root, char *msg, size_t msg_size)
{
    root->url = nullptr;
    root->user = nullptr;
    root->pass = nullptr;
    if (!url) {
        put_msg(msg, msg_size, "settings key URL is missing");
        return -1;
    }
    const char *s = url;
    const char *lim = url + len;
    while (s < lim && is_ws(static_cast<unsigned char>(*s))) s++;
    size_t n = static_cast<size_t>(lim - s);
    while (n && is_ws(static_cast<unsigned char>(s[n - 1]))) n--;

    root_parts r{};
    char too_long[64];
    if (const char *why = check_root(s, n, &r, too_long, sizeof too_long)) {
        put_msg(msg, msg_size, why);
        return -1;
    }
    root->url = canonical_root(r);
    if (!root->url || (r.at && !split_credentials(r, root))) {
        klaspnet_root_free(root);
        put_msg(msg, msg_size, "out of memory");
        return -1;
    }
    return 0;
}

namespace klaspnet::detail {

int hostport(const char *url, const char **host, size_t *host_len, int *port)
{
    const scheme_len sl = http_scheme(url);
    if (sl == no_scheme) {
        *host = url;
        *host_len = 0;
        *port = 0;
        return 0;
    }
    const char *a = url + sl + 3;
    const char *e = authority_end(a);
    const char *h = host_start(a, e);
    const char *bracket = nullptr;
    for (const char *p = h; p < e; p++)
        if (*p == ']') bracket = p;
    const char *sep = nullptr;
    for (const char *p = bracket ? bracket : h; p < e; p++)
        if (*p == ':') sep = p;
    const int def = sl == scheme_https ? 443 : 80;
    *host = h;
    if (sep) {
        *host_len = static_cast<size_t>(sep - h);
        *port = sep + 1 == e ? def : read_int_clamped(sep + 1);
    } else {
        *host_len = static_cast<size_t>(e - h);
        *port = def;
    }
    return *port;
}

} // namespace klaspnet::detail

int klaspnet_url_is_http(const char *url)
{
    const scheme_len sl = http_scheme(url);
    if (sl == no_scheme) return 0;
    const char *a = url + sl + 3;
    const char *e = authority_end(a);
    if (e == a) return 0;
    const char *h = host_start(a, e);
    return (h < e && *h != ':') ? 1 : 0;
}

int klaspnet_url_is_https(const char *url)
{
    return (http_scheme(url) == scheme_https && klaspnet_url_is_http(url)) ? 1 : 0;
}

int klaspnet_same_origin(const char *a, const char *b)
{
    const scheme_len sa = http_scheme(a);
    if (sa == no_scheme || sa != http_scheme(b)) return 0;
    const char *ha, *hb;
    size_t na, nb;
    int pa, pb;
    hostport(a, &ha, &na, &pa);
    hostport(b, &hb, &nb, &pb);
    return (pa == pb && same_host(ha, na, hb, nb)) ? 1 : 0;
}

int klaspnet_is_https_upgrade(const char *from, const char *to)
{
    if (http_scheme(from) != scheme_http || http_scheme(to) != scheme_https) return 0;
    const char *ha, *hb;
    size_t na, nb;
    int pa, pb;
    hostport(from, &ha, &na, &pa);
    hostport(to, &hb, &nb, &pb);
    return same_host(ha, na, hb, nb) ? 1 : 0;
}

int klaspnet_path_norm(const char *path, klaspnet_buf *out)
{
    out->len = 0;
    if (klaspnet_buf_add(out, "", 0) != 0) return -1;
    if (!path) return 0;
    const char *p = path;
    for (;;) {
        while (*p == '/') p++;
        if (!*p) return 0;
        const char *seg = p;
        while (*p && *p != '/') p++;
        size_t n = static_cast<size_t>(p - seg);
        // "." and ".." are refused rather than resolved: a path that names
        // the parent could otherwise climb above the root.
        if ((n == 1 && seg[0] == '.') || (n == 2 && seg[0] == '.' && seg[1] == '.')) return -1;
        for (size_t i = 0; i < n; i++) {
            unsigned char c = static_cast<unsigned char>(seg[i]);
            if (c < 32 || c == 127) return -1;
        }
        if (!utf8_valid(seg, n)) return -1;
        if (klaspnet_buf_add(out, "/", 1) != 0 || klaspnet_buf_add(out, seg, n) != 0) return -1;
    }
}

int klaspnet_path_url(const char *root_url, const char *path, int folder, klaspnet_buf *out)
{
    out->len = 0;
    if (klaspnet_buf_adds(out, root_url) != 0) return -1;
    const char *p = path ? path : "";
    while (*p == '/') {
        const char *seg = ++p;
        while (*p && *p != '/') p++;
        const auto n = static_cast<size_t>(p - seg);
        // Stop early on a path far beyond the limit; the answer is -1 anyway.
        if (n > url_max - (out->len < url_max ? out->len : url_max)) return -1;
        if (klaspnet_buf_add_pct(out, seg, n) != 0) return -1;
        if ((*p == '/' || folder) && klaspnet_buf_add(out, "/", 1) != 0) return -1;
    }
    return out->len > url_max ? -1 : 0;
}

void klaspnet_redact(const char *url, char *out, size_t size)
{
    if (!out || size == 0) return;
    out[0] = '\0';
    if (!url) return;
    bounded w{out, size};
    const char *p = url;
    const scheme_len sl = http_scheme(url);
    if (sl != no_scheme) {
        w.add(url, static_cast<size_t>(sl) + 3); // the scheme as written
        const char *a = url + sl + 3;
        const char *e = authority_end(a);
        const char *h = host_start(a, e); // userinfo left out
        w.add(h, static_cast<size_t>(e - h));
        p = e;
    }
    const char *q = p;
    while (*q && *q != '?' && *q != '#') q++;
    w.add(p, static_cast<size_t>(q - p));
    if (*q) w.add("?<redacted>", 11);
}

char *klaspnet_base64(const char *text)
{
    static constexpr char k_alpha[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t n = std::strlen(text);
    size_t m = (n + 2) / 3 * 4;
    char *out = static_cast<char *>(std::malloc(m + 1));
    if (!out) return nullptr;
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
    size_t o = 0, i = 0;
    for (; i + 3 <= n; i += 3) {
        unsigned v = (s[i] << 16) | (s[i + 1] << 8) | s[i + 2];
        out[o++] = k_alpha[(v >> 18) & 63];
        out[o++] = k_alpha[(v >> 12) & 63];
        out[o++] = k_alpha[(v >> 6) & 63];
        out[o++] = k_alpha[v & 63];
    }
    if (n - i == 1) {
        unsigned v = s[i] << 16;
        out[o++] = k_alpha[(v >> 18) & 63];
        out[o++] = k_alpha[(v >> 12) & 63];
        out[o++] = '=';
        out[o++] = '=';
    } else if (n - i == 2) {
        unsigned v = (s[i] << 16) | (s[i + 1] << 8);
        out[o++] = k_alpha[(v >> 18) & 63];
        out[o++] = k_alpha[(v >> 12) & 63];
        out[o++] = k_alpha[(v >> 6) & 63];
        out[o++] = '=';
    }
    out[o] = '\0';
    return out;
}

int klaspnet_guid(char *out)
{
    unsigned char b[16];
    for (int i = 0; i < 4; i++) {
        uint32_t v = klaspnet::platform::rand32();
        for (int k = 0; k < 4; k++) b[i * 4 + k] = static_cast<unsigned char>(v >> (8 * k));
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40); // version 4: random
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80); // variant of RFC 4122
    return std::snprintf(out, 37, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                         b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}
