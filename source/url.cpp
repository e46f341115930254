// The source root, URL predicates, paths below the root, request URLs,
// redaction of URLs in messages, Base64 and random identifiers.
#include "source/url.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "listing/kldlp.h"
#include "platform/platform.h"

namespace {

// The longest URL the source builds or accepts as its root: servers and
// proxies commonly refuse request lines much beyond 8 KiB.
constexpr size_t k_max_url = 8192;

bool is_ws(unsigned char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

bool is_hex(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int hex_val(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    return lower(c) - 'a' + 10;
}

const char k_hex[] = "0123456789ABCDEF";

// Scheme length (4 or 5) of the n bytes at s, or 0. Never reads past n.
int scheme_n(const char *s, size_t n)
{
    if (!s || n < 7) return 0;
    const char *h = "http";
    for (int i = 0; i < 4; i++)
        if (lower(static_cast<unsigned char>(s[i])) != h[i]) return 0;
    if (s[4] == ':') return (s[5] == '/' && s[6] == '/') ? 4 : 0;
    if (n < 8 || lower(static_cast<unsigned char>(s[4])) != 's') return 0;
    return (s[5] == ':' && s[6] == '/' && s[7] == '/') ? 5 : 0;
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

bool same_host(const char *a, size_t an, const char *b, size_t bn)
{
    if (an != bn) return false;
    for (size_t i = 0; i < an; i++)
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// The decimal number at s as atoi reads it (leading white space, optional
// sign, digits), but clamped instead of overflowing: a port written as
// 4294967376 must not wrap round to 80 and pass for the default port.
int port_number(const char *s)
{
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) s++;
    bool neg = false;
    if (*s == '+' || *s == '-') neg = *s++ == '-';
    long long v = 0;
    while (*s >= '0' && *s <= '9') {
        if (v <= INT_MAX) v = v * 10 + (*s - '0');
        s++;
    }
    if (v > INT_MAX) v = INT_MAX;
    return static_cast<int>(neg ? -v : v);
}

void put_msg(char *msg, size_t msg_size, const char *text)
{
    if (msg && msg_size) std::snprintf(msg, msg_size, "%s", text);
}

// Bytes that may not stand bare in the path of the canonical root: those
// RFC 3986 excludes from a path and that browsers escape, plus every
// non-ASCII byte. "%" is not among them: escapes already written stay as
// they are.
bool root_path_unsafe(unsigned char c)
{
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
    case '}': return true;
    default: return c >= 128;
    }
}

// The unreserved characters of RFC 3986 section 2.3; every other byte of a
// segment is escaped in a request URL.
bool unreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

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

} // namespace

int http_scheme(const char *url)
{
    if (!url) return 0;
    return scheme_n(url, head_len(url));
}

char *pct_decode(const char *s, size_t n)
{
    char *out = static_cast<char *>(std::malloc(n + 1));
    if (!out) return nullptr;
    size_t o = 0;
    for (size_t i = 0; i < n;) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '%' && i + 2 < n && is_hex(static_cast<unsigned char>(s[i + 1])) &&
            is_hex(static_cast<unsigned char>(s[i + 2]))) {
            out[o++] = static_cast<char>(hex_val(static_cast<unsigned char>(s[i + 1])) * 16 +
                                         hex_val(static_cast<unsigned char>(s[i + 2])));
            i += 3;
        } else {
            out[o++] = static_cast<char>(c);
            i++;
        }
    }
    out[o] = '\0';
    // A decoded %00 ends the text early. The bytes behind it are no part of
    // the text, yet they may hold the rest of a password, and the wipe of a
    // secret text reaches only its NUL: clear them now.
    size_t k = std::strlen(out);
    if (k < o) klaspnet_wipe(out + k, o - k);
    return out;
}

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
    if (n == 0) {
        put_msg(msg, msg_size, "settings key URL is empty");
        return -1;
    }
    if (n > k_max_url) {
        put_msg(msg, msg_size, "URL is longer than 8192 bytes");
        return -1;
    }
    int sl = scheme_n(s, n);
    if (sl == 0) {
        put_msg(msg, msg_size, "URL must start with http:// or https://");
        return -1;
    }
    for (size_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 32 || c == 127) {
            put_msg(msg, msg_size, "URL contains a control character");
            return -1;
        }
    }
    const char *end = s + n;
    const char *auth = s + sl + 3;
    const char *auth_end = auth;
    while (auth_end < end && *auth_end != '/' && *auth_end != '?' && *auth_end != '#') auth_end++;
    if (auth_end == auth) {
        put_msg(msg, msg_size, "URL has no host");
        return -1;
    }
    const char *at = nullptr;
    for (const char *p = auth; p < auth_end; p++)
        if (*p == '@') at = p;
    const char *host = at ? at + 1 : auth;
    if (host == auth_end || *host == ':') {
        put_msg(msg, msg_size, "URL has no host");
        return -1;
    }
    for (const char *p = host; p < auth_end; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == ' ' || c == '\\' || c >= 128) {
            put_msg(msg, msg_size, "URL host is not a valid host name");
            return -1;
        }
    }
    const char *path_end = auth_end;
    while (path_end < end && *path_end != '?' && *path_end != '#') path_end++;
    if (path_end < end && *path_end == '?') {
        put_msg(msg, msg_size, "URL must not carry a query string");
        return -1;
    }

    klaspnet_buf b{};
    bool ok = klaspnet_buf_adds(&b, sl == 5 ? "https://" : "http://") == 0;
    for (const char *p = host; ok && p < auth_end; p++) {
        char c = static_cast<char>(lower(static_cast<unsigned char>(*p)));
        ok = klaspnet_buf_add(&b, &c, 1) == 0;
    }
    if (ok && path_end == auth_end) ok = klaspnet_buf_add(&b, "/", 1) == 0;
    const char *run = auth_end; // bytes copied unchanged are appended a run at a time
    for (const char *p = auth_end; ok && p < path_end; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (!root_path_unsafe(c)) continue;
        char esc[3] = {'%', k_hex[c >> 4], k_hex[c & 15]};
        ok = klaspnet_buf_add(&b, run, static_cast<size_t>(p - run)) == 0 && klaspnet_buf_add(&b, esc, 3) == 0;
        run = p + 1;
    }
    if (ok && run < path_end) ok = klaspnet_buf_add(&b, run, static_cast<size_t>(path_end - run)) == 0;
    if (ok && b.data[b.len - 1] != '/') ok = klaspnet_buf_add(&b, "/", 1) == 0;
    if (ok) {
        root->url = b.data; // handed over; b is not used again
        b = klaspnet_buf{};
    } else {
        klaspnet_buf_free(&b);
    }

    if (ok && at) {
        const char *colon = auth;
        while (colon < at && *colon != ':') colon++;
        root->user = pct_decode(auth, static_cast<size_t>(colon - auth));
        root->pass = colon < at ? pct_decode(colon + 1, static_cast<size_t>(at - colon - 1)) : klaspnet_strdup("");
        ok = root->user && root->pass;
    }
    if (!ok) {
        klaspnet_root_free(root);
        put_msg(msg, msg_size, "out of memory");
        return -1;
    }
    return 0;
}

int hostport(const char *url, const char **host, size_t *host_len, int *port)
{
    int sl = http_scheme(url);
    if (sl == 0) {
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
    int def = sl == 5 ? 443 : 80;
    *host = h;
    if (sep) {
        *host_len = static_cast<size_t>(sep - h);
        *port = sep + 1 == e ? def : port_number(sep + 1);
    } else {
        *host_len = static_cast<size_t>(e - h);
        *port = def;
    }
    return *port;
}

int klaspnet_url_is_http(const char *url)
{
    int sl = http_scheme(url);
    if (sl == 0) return 0;
    const char *a = url + sl + 3;
    const char *e = authority_end(a);
    if (e == a) return 0;
    const char *h = host_start(a, e);
    return (h < e && *h != ':') ? 1 : 0;
}

int klaspnet_url_is_https(const char *url) { return (http_scheme(url) == 5 && klaspnet_url_is_http(url)) ? 1 : 0; }

int klaspnet_same_origin(const char *a, const char *b)
{
    int sa = http_scheme(a);
    if (sa == 0 || sa != http_scheme(b)) return 0;
    const char *ha, *hb;
    size_t na, nb;
    int pa, pb;
    hostport(a, &ha, &na, &pa);
    hostport(b, &hb, &nb, &pb);
    return (pa == pb && same_host(ha, na, hb, nb)) ? 1 : 0;
}

int klaspnet_is_https_upgrade(const char *from, const char *to)
{
    if (http_scheme(from) != 4 || http_scheme(to) != 5) return 0;
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
        if (!kldlp_utf8_valid(seg, n)) return -1;
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
        const char *run = seg;
        while (*p && *p != '/') {
            unsigned char c = static_cast<unsigned char>(*p);
            if (!unreserved(c)) {
                char esc[3] = {'%', k_hex[c >> 4], k_hex[c & 15]};
                if (klaspnet_buf_add(out, run, static_cast<size_t>(p - run)) != 0 || klaspnet_buf_add(out, esc, 3) != 0)
                    return -1;
                run = p + 1;
                // Stop early on a path far beyond the limit; the answer is -1 anyway.
                if (out->len > k_max_url) return -1;
            }
            p++;
        }
        if (klaspnet_buf_add(out, run, static_cast<size_t>(p - run)) != 0) return -1;
        if (*p == '/') {
            if (klaspnet_buf_add(out, "/", 1) != 0) return -1;
        } else if (folder) {
            if (klaspnet_buf_add(out, "/", 1) != 0) return -1;
        }
        if (out->len > k_max_url) return -1;
    }
    return out->len > k_max_url ? -1 : 0;
}

void klaspnet_redact(const char *url, char *out, size_t size)
{
    if (!out || size == 0) return;
    out[0] = '\0';
    if (!url) return;
    bounded w{out, size};
    const char *p = url;
    int sl = http_scheme(url);
    if (sl) {
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
        uint32_t v = kl_rand32();
        for (int k = 0; k < 4; k++) b[i * 4 + k] = static_cast<unsigned char>(v >> (8 * k));
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40); // version 4: random
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80); // variant of RFC 4122
    return std::snprintf(out, 37, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                         b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}
