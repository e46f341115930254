// One HTTP GET through the host's transport.
//
// A plain velkaron_io transport sends no headers and follows redirects
// itself, so the library can only hand it a URL (with the credentials written
// into its userinfo) and take the body. Through a velkaron_http extension the
// library sends its own headers, reads the response headers it needs and
// follows redirects under its own rules: at most 5, http(s) only, never from
// https down to http, and credentials only while the redirects stay within
// the origin (or move it from http to https on the same host), so that a
// server cannot bounce the password to a host of its choosing.
#include "source/fetch.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/limits.h"
#include "common/text.h"
#include "listing/kldlp.h"
#include "source/buf.h"
#include "source/url.h"

using namespace klaspnet::text;
using namespace klaspnet::detail;
namespace limits = klaspnet::limits;

namespace {

constexpr char k_accept[] = "Accept: text/html,application/xhtml+xml,*/*;q=0.8";
constexpr char k_agent[] = "User-Agent: velkaron-aspnet/1.0.0";
constexpr char k_range[] = "Range: bytes=0-0";
constexpr char k_oom[] = "out of memory";

// ---- error texts -----------------------------------------------------------

// Overwrites every occurrence of secret in text: a secret of three or more
// characters becomes exactly "***" (so its length is not shown), a shorter
// one has each character replaced by "*". The bytes the text no longer
// uses after it shrank are cleared: they held the rest of it.
void mask(char *text, const char *secret)
{
    size_t n = std::strlen(secret);
    if (n == 0) return;
    const size_t before = std::strlen(text);
    char *p = text;
    while ((p = std::strstr(p, secret)) != nullptr) {
        if (n >= 3) {
            std::memcpy(p, "***", 3);
            std::memmove(p + 3, p + n, std::strlen(p + n) + 1);
            p += 3;
        } else {
            std::memset(p, '*', n);
            p += n;
        }
    }
    const size_t after = std::strlen(text);
    if (after < before) klaspnet_wipe(text + after, before - after);
}

// The userinfo form of a credential ("%40" for "@", ...), null when it reads
// the same as the text itself or memory runs out. The caller releases it with
// klaspnet_free_secret.
char *pct_form(const char *s)
{
    klaspnet_buf b = klaspnet_secret_buf();
    if (klaspnet_buf_add_pct(&b, s, std::strlen(s)) != 0 || std::strcmp(b.data, s) == 0) {
        klaspnet_buf_wipe(&b);
        return nullptr;
    }
    return b.data;
}

// Masks a credential and the form it takes inside a URL's userinfo: a
// transport that echoes its request URL shows it the way the plain road
// wrote it there.
void mask_both(char *text, const char *secret)
{
    mask(text, secret);
    if (char *enc = pct_form(secret)) {
        mask(text, enc);
        klaspnet_free_secret(enc);
    }
}

void scrub(const klaspnet_conn *c, char *text)
{
    const char *user = c->mask_user ? c->mask_user : c->user;
    const char *password = c->mask_user ? c->mask_password : c->password;
    if (!user) return;
    if (password && *password) mask_both(text, password);
    if (std::strlen(user) > 3) mask_both(text, user);
}

// "GET <redacted URL>: <reason>". The whole text is built and masked before
// it is cut to the size of the error field, so that a cut can never keep the
// first characters of a credential; it is then made valid UTF-8 (a
// transport's text may be Latin-1) and cut on a whole character. A reason
// longer than the room of the assembly buffer is cut there: 4 KiB is far
// beyond the 255 bytes kept, also after masking shortened the text.
void set_err(const klaspnet_conn *c, klaspnet_resp *r, const char *url, const char *reason)
{
    char red[limits::url_msg_size];
    klaspnet_redact(url, red, sizeof red);
    char whole[4096];
    std::snprintf(whole, sizeof whole, "GET %s: %s", red, reason);
    scrub(c, whole);
    const size_t len = utf8_whole_prefix(whole, std::strlen(whole));
    const char *text = whole;
    char *fixed = utf8_repaired(whole, len);
    if (fixed) text = fixed;
    const size_t n = utf8_cut(text, fixed ? std::strlen(fixed) : len, sizeof r->error - 1);
    std::memcpy(r->error, text, n);
    r->error[n] = '\0';
    klaspnet_free_secret(fixed);
    klaspnet_wipe(whole, sizeof whole);
}

void set_plain_err(klaspnet_resp *r, const char *text) { std::snprintf(r->error, sizeof r->error, "%s", text); }

// ---- plain road ------------------------------------------------------------

// The URL with "user:password@" inserted after "://". The buffer holds the
// credentials and must be wiped. 0, or -1 when memory runs out.
int with_userinfo(const char *url, const char *user, const char *password, klaspnet_buf *out)
{
    const char *sep = std::strstr(url, "://");
    if (!sep) return klaspnet_buf_adds(out, url);
    if (!password) password = "";
    size_t head = static_cast<size_t>(sep - url) + 3;
    if (klaspnet_buf_add(out, url, head) != 0 || klaspnet_buf_add_pct(out, user, std::strlen(user)) != 0 ||
        klaspnet_buf_add(out, ":", 1) != 0 || klaspnet_buf_add_pct(out, password, std::strlen(password)) != 0 ||
        klaspnet_buf_add(out, "@", 1) != 0 || klaspnet_buf_adds(out, sep + 3) != 0)
        return -1;
    return 0;
}

// Releases a body or an error text the transport returned. An error text is
// cleared first: a transport may quote the request URL, credentials included.
void io_release(const velkaron_io *io, void *p, bool text = false)
{
    if (!p) return;
    if (text) klaspnet_wipe(p, std::strlen(static_cast<char *>(p)));
    if (io->free)
        io->free(io->ctx, p);
    else
        std::free(p);
}

int fetch_plain(const klaspnet_conn *c, const char *url, int range, uint64_t limit, klaspnet_resp *r)
{
    if (range) {
        set_plain_err(r, "the transport has no request headers (velkaron_io v1): Range cannot be sent");
        return -2;
    }
    klaspnet_buf req = klaspnet_secret_buf();
    if (c->user && with_userinfo(url, c->user, c->password, &req) != 0) {
        klaspnet_buf_wipe(&req);
        set_err(c, r, url, k_oom);
        return -1;
    }
    const velkaron_io *io = c->io;
    char *body = nullptr;
    int32_t status = 0;
    char *err = nullptr;
    int32_t rc = io->get(io->ctx, c->user ? req.data : url, &body, &status, &err);
    klaspnet_buf_wipe(&req);

    if (rc != 0 || !body) {
        set_err(c, r, url, err && *err ? err : "transport failure");
        io_release(io, body);
        io_release(io, err, true);
        return -1;
    }
    io_release(io, err, true);
    r->redirects = -1;
    r->status = status;
    size_t len = std::strlen(body);
    if (len > limit) {
        r->too_large = 1;
        r->body = static_cast<char *>(std::calloc(1, 1));
        r->body_len = 0;
        io_release(io, body);
    } else {
        // The page stays in the transport's own block, released through the
        // transport: a listing of 16 MiB is never copied.
        r->body = body;
        r->body_io = io;
        r->body_len = len;
    }
    r->final_url = klaspnet_strdup(url);
    if (!r->body || !r->final_url) {
        klaspnet_resp_free(r);
        r->body_len = 0;
        set_err(c, r, url, k_oom);
        return -1;
    }
    return 0;
}

// ---- extension road: the response collector ----------------------------------

struct collector {
    klaspnet_buf body;
    uint64_t limit;
    int range;
    int overflow;
    int oom;
    int status;
    char *location;
    int64_t range_first;
    int64_t range_last;
    int64_t range_total;
    int64_t content_length;
    int accept_ranges;
};

// A header name equal to a lower-case name under ASCII case folding.
bool name_is(const char *name, const char *lower_name)
{
    const size_t n = std::strlen(lower_name);
    return std::strlen(name) == n && ci_equal(name, lower_name, n);
}

// Reads a run of decimal digits at *p. 1 with the value, 0 when there is no
// digit, -1 when the number is too large. *p moves past the digits.
// The bound is checked before each further digit, so the largest number read
// is 9223372036854775799 and the accumulation can never overflow.
int read_num(const char **p, int64_t *out)
{
    const char *s = *p;
    if (!is_digit(*s)) return 0;
    int64_t v = 0;
    bool over = false;
    for (; is_digit(*s); s++) {
        if (v > 922337203685477579)
            over = true;
        else
            v = v * 10 + (*s - '0');
    }
    *p = s;
    if (over) return -1;
    *out = v;
    return 1;
}

const char *skip_spaces(const char *s)
{
    while (*s == ' ') s++;
    return s;
}

// "bytes 0-0/12345", "bytes */12345", "bytes 0-0/*": stored only when the
// whole shape matched.
void content_range(collector *k, const char *v)
{
    const char *s = skip_spaces(v);
    if (std::strncmp(s, "bytes", 5) != 0) return;
    s = skip_spaces(s + 5);
    int64_t first = -1, last = -1, total = -1;
    if (*s == '*') {
        s++;
    } else {
        if (read_num(&s, &first) < 0 || *s != '-') return;
        s++;
        if (read_num(&s, &last) < 0) return;
    }
    if (*s != '/') return;
    s++;
    if (read_num(&s, &total) <= 0) total = -1;
    k->range_first = first;
    k->range_last = last;
    k->range_total = total;
}

int32_t x_header(void *ctx, const char *name, const char *value)
{
    auto *k = static_cast<collector *>(ctx);
    if (!k || !name || !value) return 0;
    if (std::strcmp(name, ":status") == 0) {
        // Leading white space and a sign allowed, reading stops at the first
        // non-digit, no digits gives 0.
        k->status = read_int_clamped(value);
    } else if (name_is(name, "location")) {
        char *copy = klaspnet_strdup(value);
        if (!copy) {
            k->oom = 1;
            return 0;
        }
        std::free(k->location);
        k->location = copy;
    } else if (name_is(name, "content-range")) {
        content_range(k, value);
    } else if (name_is(name, "content-length")) {
        const char *s = skip_spaces(value);
        int64_t n = -1;
        if (read_num(&s, &n) <= 0) n = -1;
        k->content_length = n;
        // A body of announced length is collected into one block of exactly
        // that size, never grown and copied on the way. A length beyond the
        // limit reserves nothing: that body is refused anyway.
        if (n > 0 && !k->range && static_cast<uint64_t>(n) <= k->limit && k->body.cap == 0 &&
            klaspnet_buf_reserve(&k->body, static_cast<size_t>(n), true) != 0)
            k->oom = 1;
    } else if (name_is(name, "accept-ranges")) {
        k->accept_ranges = std::strstr(value, "bytes") != nullptr;
    }
    return 0;
}

int32_t x_body(void *ctx, const void *data, uint64_t len)
{
    auto *k = static_cast<collector *>(ctx);
    if (!k) return 1;
    uint64_t limit = k->range ? limits::probe_keep : k->limit;
    uint64_t room = limit - k->body.len;
    if (len <= room) {
        if (len && klaspnet_buf_add(&k->body, data, static_cast<size_t>(len)) != 0) {
            k->oom = 1;
            return 1;
        }
        return 0;
    }
    if (room && klaspnet_buf_add(&k->body, data, static_cast<size_t>(room)) != 0) {
        k->oom = 1;
        return 1;
    }
    k->overflow = 1;
    return 1;
}

void http_release(const velkaron_http *http, char *err)
{
    if (!err) return;
    klaspnet_wipe(err, std::strlen(err));
    void *p = err;
    if (http->free)
        http->free(http->ctx, p);
    else
        std::free(p);
}

bool redirect_status(int st) { return st == 301 || st == 302 || st == 303 || st == 307 || st == 308; }

// ---- extension road: redirect targets ----------------------------------------

// A redirect target never carries userinfo onward: the request URL and the
// final URL are shown to hosts and in results, and credentials are sent
// through the request record only.
void drop_userinfo(char *url)
{
    char *sep = std::strstr(url, "://");
    if (!sep) return;
    char *a = sep + 3;
    size_t alen = std::strcspn(a, "/?#");
    char *at = nullptr;
    for (size_t i = 0; i < alen; i++)
        if (a[i] == '@') at = a + i;
    if (at) std::memmove(a, at + 1, std::strlen(at + 1) + 1);
}

// Servers write raw bytes into Location (a UTF-8 folder name, a space), as
// browsers tolerate. Such bytes may not stand in a request URL, and a URL that
// is not plain ASCII would make every URL built on it (final URL, item URLs)
// unusable in JSON: they are encoded as %XX before the target is checked and
// followed.
constexpr byte_set k_keep_url_bytes = make_set([](unsigned char c) { return c > 0x20 && c < 0x7F; });

// The next URL of a redirect from cur to location, or null with the reason
// and the result (-1 memory, -2 refused) in *why / *rc.
char *redirect_target(const char *cur, const char *location, const char **why, int *rc)
{
    *rc = -2;
    size_t size = std::strlen(cur) + std::strlen(location) + 8;
    auto *next = static_cast<char *>(std::malloc(size));
    if (!next || kldlp_resolve(cur, location, next, size) != 0) {
        std::free(next);
        *why = "redirect Location is not a usable URL";
        return nullptr;
    }
    next[std::strcspn(next, "#")] = '\0';
    drop_userinfo(next);
    const size_t n = std::strlen(next);
    if (pct_encoded_size(next, n, k_keep_url_bytes) != n) {
        klaspnet_buf enc{};
        const int failed = klaspnet_buf_add_pct(&enc, next, n, k_keep_url_bytes);
        std::free(next);
        if (failed) {
            *why = k_oom;
            *rc = -1;
            return nullptr;
        }
        next = enc.data;
    }
    if (!klaspnet_url_is_http(next) || std::strlen(next) > limits::url_max) {
        std::free(next);
        *why = "redirect to a URL that is not http(s)";
        return nullptr;
    }
    if (http_scheme(cur) == scheme_https && http_scheme(next) != scheme_https) {
        std::free(next);
        *why = "redirect from https to http refused";
        return nullptr;
    }
    return next;
}

// ---- extension road: the walk ------------------------------------------------

struct road_state {
    char *cur = nullptr;
    char *origin = nullptr;
    collector k{};

    void drop_collected()
    {
        klaspnet_buf_free(&k.body);
        std::free(k.location);
        k.location = nullptr;
    }
    ~road_state()
    {
        drop_collected();
        std::free(cur);
        std::free(origin);
    }
};

// One exchange with the current URL into a fresh collector; the transport's
// result, with its error text released (the failure text set).
int hop(const klaspnet_conn *c, road_state &s, int range, uint64_t limit, bool creds, int *status, klaspnet_resp *r)
{
    static const char *const headers[3] = {k_accept, k_agent, k_range};
    s.drop_collected();
    s.k = collector{};
    s.k.limit = limit;
    s.k.range = range;
    s.k.range_first = s.k.range_last = s.k.range_total = s.k.content_length = -1;

    velkaron_http_req req{};
    req.size = sizeof(velkaron_http_req);
    req.method = "GET";
    req.url = s.cur;
    req.headers = headers;
    req.header_count = range ? 3 : 2;
    if (creds) {
        req.user = c->user;
        req.password = c->password ? c->password : "";
    }
    req.timeout_ms = limits::request_timeout_ms;
    req.on_header = x_header;
    req.on_body = x_body;
    req.cb_ctx = &s.k;

    const velkaron_http *http = c->http;
    int32_t st = 0;
    char *err = nullptr;
    int32_t rc = http->request(http->ctx, &req, &st, &err);
    if (rc != 0) set_err(c, r, s.cur, err && *err ? err : "transport failure");
    http_release(http, err);
    *status = s.k.status ? s.k.status : st;
    return rc;
}

// The final response: status, body and headers pass to r.
int take_final(road_state &s, int status, int range, klaspnet_resp *r)
{
    std::free(s.k.location);
    s.k.location = nullptr;
    if (!s.k.body.data && klaspnet_buf_add(&s.k.body, "", 0) != 0) return -1;
    r->status = status;
    if (s.k.overflow && !range) {
        r->too_large = 1;
        s.k.body.len = 0;
        s.k.body.data[0] = '\0';
    }
    r->range_first = s.k.range_first;
    r->range_last = s.k.range_last;
    r->range_total = s.k.range_total;
    r->content_length = s.k.content_length;
    r->accept_ranges = s.k.accept_ranges;
    r->body = s.k.body.data;
    r->body_len = s.k.body.len;
    s.k.body = klaspnet_buf{};
    r->final_url = s.cur;
    s.cur = nullptr;
    return 0;
}

int fetch_http(const klaspnet_conn *c, const char *url, int range, uint64_t limit, klaspnet_resp *r)
{
    road_state s;
    s.cur = klaspnet_strdup(url);
    s.origin = klaspnet_strdup(url);
    if (!s.cur || !s.origin) {
        set_err(c, r, url, k_oom);
        return -1;
    }
    bool creds = c->user != nullptr;
    int permanent = 1;
    int budget = limits::redirects_max + 1; // the sixth redirect is refused

    for (;;) {
        int status = 0;
        if (hop(c, s, range, limit, creds, &status, r) != 0) return -1;
        if (s.k.oom) {
            // A body cut short or a lost Location would pass for a good answer.
            set_err(c, r, url, k_oom);
            return -1;
        }
        if (!redirect_status(status) || !s.k.location || !*s.k.location) {
            if (take_final(s, status, range, r) != 0) {
                set_err(c, r, url, k_oom);
                return -1;
            }
            r->permanent = r->redirects ? permanent : 0;
            return 0;
        }

        klaspnet_buf_free(&s.k.body);
        if (--budget == 0) {
            char why[32];
            std::snprintf(why, sizeof why, "more than %d redirects", limits::redirects_max);
            set_err(c, r, url, why);
            return -2;
        }
        const char *why = nullptr;
        int rc = 0;
        char *next = redirect_target(s.cur, s.k.location, &why, &rc);
        if (!next) {
            set_err(c, r, rc == -1 ? url : s.cur, why);
            return rc;
        }
        if (creds) {
            if (klaspnet_same_origin(s.origin, next) || klaspnet_is_https_upgrade(s.origin, next)) {
                char *o = klaspnet_strdup(next);
                if (!o) {
                    std::free(next);
                    set_err(c, r, url, k_oom);
                    return -1;
                }
                std::free(s.origin);
                s.origin = o;
            } else {
                creds = false; // once dropped, never restored
            }
        }
        if (status != 301 && status != 308) permanent = 0;
        r->redirects++;
        std::free(s.cur);
        s.cur = next;
    }
}

} // namespace

int klaspnet_fetch(const klaspnet_conn *c, const char *url, int range, uint64_t limit, klaspnet_resp *r)
{
    if (!r) return -1;
    std::memset(r, 0, sizeof *r);
    r->range_first = r->range_last = r->range_total = r->content_length = -1;
    if (!c || !c->io || !c->io->get || !url) {
        set_plain_err(r, "no transport installed");
        return -1;
    }
    return c->http ? fetch_http(c, url, range, limit, r) : fetch_plain(c, url, range, limit, r);
}

namespace {

void release_body(klaspnet_resp *r)
{
    if (r->body_io)
        io_release(r->body_io, r->body);
    else
        std::free(r->body);
    r->body = nullptr;
    r->body_io = nullptr;
}

} // namespace

void klaspnet_resp_drop_body(klaspnet_resp *r)
{
    if (!r) return;
    release_body(r);
    r->body_len = 0;
}

void klaspnet_resp_free(klaspnet_resp *r)
{
    if (!r) return;
    release_body(r);
    std::free(r->final_url);
    r->final_url = nullptr;
}

void klaspnet_resp_wipe(klaspnet_resp *r)
{
    if (!r) return;
    klaspnet_resp_free(r);
    klaspnet_wipe(r->error, sizeof r->error);
}
