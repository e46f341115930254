// One GET through host transports that record exactly what the library sends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "source/fetch.h"

namespace {

char *heap_text(const std::string &s)
{
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

// ---- a plain velkaron_io host ----------------------------------------------

struct plain_answer {
    int32_t rc = 0;
    int32_t status = 200;
    const char *body = ""; // null: no body
    const char *error = nullptr;
};

struct plain_host {
    std::map<std::string, plain_answer> answers;
    std::vector<std::string> urls;
    int frees = 0;
};

int32_t plain_get(void *ctx, const char *url, char **body, int32_t *status, char **error)
{
    auto *h = static_cast<plain_host *>(ctx);
    EXPECT_EQ(*body, nullptr);
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(*error, nullptr);
    h->urls.emplace_back(url);
    auto it = h->answers.find(url);
    plain_answer a = it == h->answers.end() ? plain_answer{0, 404, "not found", nullptr} : it->second;
    if (a.body) *body = heap_text(a.body);
    if (a.error) *error = heap_text(a.error);
    *status = a.status;
    return a.rc;
}

void counted_free(void *ctx, void *p)
{
    static_cast<plain_host *>(ctx)->frees++;
    std::free(p);
}

velkaron_io plain_io(plain_host *h, bool with_free)
{
    return velkaron_io{h, plain_get, nullptr, with_free ? counted_free : nullptr};
}

// ---- a velkaron_http host --------------------------------------------------

struct answer {
    int32_t rc = 0;
    int32_t status = 200;      // stored through the status output
    bool status_header = true; // deliver ":status" first
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    const char *error = nullptr;
};

struct hop {
    uint32_t size;
    std::string method;
    std::string url;
    std::vector<std::string> headers;
    bool has_user;
    std::string user;
    bool has_password;
    std::string password;
    uint32_t timeout_ms;
    bool reserved_zero;
};

struct http_host {
    std::map<std::string, answer> answers;
    std::vector<hop> hops;
    size_t piece = 1000;
    int frees = 0;
};

int32_t host_request(void *ctx, const velkaron_http_req *req, int32_t *status, char **error)
{
    auto *h = static_cast<http_host *>(ctx);
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(*error, nullptr);
    hop r{};
    r.size = req->size;
    r.method = req->method ? req->method : "(null)";
    r.url = req->url;
    for (uint64_t i = 0; i < req->header_count; i++) r.headers.emplace_back(req->headers[i]);
    r.has_user = req->user != nullptr;
    r.user = req->user ? req->user : "";
    r.has_password = req->password != nullptr;
    r.password = req->password ? req->password : "";
    r.timeout_ms = req->timeout_ms;
    r.reserved_zero = req->reserved0 == 0 && req->reserved1 == 0 && req->reserved2 == 0 && req->reserved3 == 0;
    h->hops.push_back(r);

    auto it = h->answers.find(req->url);
    answer a;
    if (it != h->answers.end())
        a = it->second;
    else
        a.status = 404;
    if (a.error) *error = heap_text(a.error);
    if (a.rc != 0) return a.rc;
    *status = a.status;
    if (a.status_header) {
        std::string st = std::to_string(a.status);
        if (req->on_header(req->cb_ctx, ":status", st.c_str())) return 0;
    }
    for (const auto &[n, v] : a.headers) {
        if (req->on_header(req->cb_ctx, n.c_str(), v.c_str())) return 0;
    }
    for (size_t off = 0; off < a.body.size(); off += h->piece) {
        size_t n = std::min(h->piece, a.body.size() - off);
        if (req->on_body(req->cb_ctx, a.body.data() + off, n)) break;
    }
    return 0;
}

void http_counted_free(void *ctx, void *p)
{
    static_cast<http_host *>(ctx)->frees++;
    std::free(p);
}

int32_t unused_get(void *, const char *, char **, int32_t *, char **)
{
    ADD_FAILURE() << "the plain get must not be called when an extension is given";
    return -1;
}

struct ext_setup {
    http_host host;
    velkaron_io io{nullptr, unused_get, nullptr, nullptr};
    velkaron_http http{32, 1, &host, host_request, nullptr};
    klaspnet_conn conn{&io, &http, nullptr, nullptr};
};

answer redirect(int status, const std::string &location)
{
    answer a;
    a.status = status;
    a.headers = {{"Location", location}};
    a.body = "moved";
    return a;
}

answer page(const std::string &body, int status = 200)
{
    answer a;
    a.status = status;
    a.body = body;
    return a;
}

struct fetched {
    int rc = 0;
    klaspnet_resp r{};
    fetched() = default;
    fetched(const fetched &) = delete;
    ~fetched() { klaspnet_resp_free(&r); }
};

// ---- start ---------------------------------------------------------------

TEST(FetchStart, NoTransportInstalled)
{
    plain_host ph;
    velkaron_io io = plain_io(&ph, false);
    velkaron_io no_get{&ph, nullptr, nullptr, nullptr};
    klaspnet_conn ok{&io, nullptr, nullptr, nullptr};
    klaspnet_conn no_io{nullptr, nullptr, nullptr, nullptr};
    klaspnet_conn bad_io{&no_get, nullptr, nullptr, nullptr};
    velkaron_http http{32, 1, nullptr, host_request, nullptr};
    klaspnet_conn ext_no_get{&no_get, &http, "user", "secret"};
    struct row {
        const char *what;
        const klaspnet_conn *c;
        const char *url;
    } rows[] = {{"null conn", nullptr, "http://h/"},
                {"null io", &no_io, "http://h/"},
                {"no get", &bad_io, "http://h/"},
                {"extension but no get", &ext_no_get, "http://h/"},
                {"null url", &ok, nullptr}};
    for (const row &w : rows) {
        fetched f;
        std::memset(&f.r, 0x5a, sizeof f.r);
        f.r.body = nullptr;
        f.r.final_url = nullptr;
        f.rc = klaspnet_fetch(w.c, w.url, 0, 100, &f.r);
        EXPECT_EQ(f.rc, -1) << w.what;
        EXPECT_STREQ(f.r.error, "no transport installed") << w.what;
        EXPECT_EQ(f.r.body, nullptr) << w.what;
        EXPECT_EQ(f.r.final_url, nullptr) << w.what;
        EXPECT_EQ(f.r.status, 0) << w.what;
        EXPECT_EQ(f.r.range_first, -1) << w.what;
        EXPECT_EQ(f.r.range_total, -1) << w.what;
        EXPECT_EQ(f.r.content_length, -1) << w.what;
        EXPECT_EQ(f.r.too_large, 0) << w.what;
    }
    EXPECT_TRUE(ph.urls.empty());
}

// ---- plain road ------------------------------------------------------------

TEST(FetchPlain, ErrorStatusIsAnAnswer)
{
    plain_host ph;
    velkaron_io io = plain_io(&ph, true);
    klaspnet_conn c{&io, nullptr, nullptr, nullptr};
    fetched f;
    f.rc = klaspnet_fetch(&c, "http://h/missing", 0, 1000, &f.r);
    EXPECT_EQ(f.rc, 0);
    EXPECT_EQ(f.r.status, 404);
    EXPECT_STREQ(f.r.body, "not found");
    EXPECT_EQ(f.r.body_len, 9u);
    EXPECT_STREQ(f.r.final_url, "http://h/missing");
    EXPECT_EQ(f.r.redirects, -1);
    EXPECT_EQ(f.r.permanent, 0);
    EXPECT_EQ(f.r.content_length, -1);
    EXPECT_STREQ(f.r.error, "");
    // The body is the transport's own text, kept rather than copied, and it
    // goes back to the transport with the response.
    EXPECT_EQ(ph.frees, 0);
    klaspnet_resp_free(&f.r);
    EXPECT_EQ(ph.frees, 1);
}

TEST(FetchPlain, BodyLimit)
{
    plain_host ph;
    std::string ten(10, 'x');
    ph.answers["http://h/"] = {0, 200, ten.c_str(), nullptr};
    for (bool with_free : {false, true}) {
        velkaron_io io = plain_io(&ph, with_free);
        klaspnet_conn c{&io, nullptr, nullptr, nullptr};
        fetched at;
        at.rc = klaspnet_fetch(&c, "http://h/", 0, 10, &at.r);
        EXPECT_EQ(at.rc, 0);
        EXPECT_EQ(at.r.too_large, 0);
        EXPECT_EQ(at.r.body_len, 10u);
        EXPECT_STREQ(at.r.body, ten.c_str());

        fetched over;
        over.rc = klaspnet_fetch(&c, "http://h/", 0, 9, &over.r);
        EXPECT_EQ(over.rc, 0);
        EXPECT_EQ(over.r.too_large, 1);
        EXPECT_EQ(over.r.body_len, 0u);
        ASSERT_NE(over.r.body, nullptr);
        EXPECT_STREQ(over.r.body, "");
        EXPECT_STREQ(over.r.final_url, "http://h/");
    }
}

TEST(FetchPlain, CredentialsGoIntoTheUrlPercentEncoded)
{
    plain_host ph;
    velkaron_io io = plain_io(&ph, false);
    struct row {
        const char *user;
        const char *password;
        const char *sent;
    } rows[] = {
        {"a@b", "p w", "http://a%40b:p%20w@h/x?y=1"},
        {"user", nullptr, "http://user:@h/x?y=1"},
        {"Az09-._~", "\xC3\xA9:/%", "http://Az09-._~:%C3%A9%3A%2F%25@h/x?y=1"},
        {"", "", "http://:@h/x?y=1"},
    };
    for (const row &w : rows) {
        ph.urls.clear();
        klaspnet_conn c{&io, nullptr, w.user, w.password};
        fetched f;
        f.rc = klaspnet_fetch(&c, "http://h/x?y=1", 0, 1000, &f.r);
        EXPECT_EQ(f.rc, 0) << w.sent;
        ASSERT_EQ(ph.urls.size(), 1u);
        EXPECT_EQ(ph.urls[0], w.sent);
        EXPECT_STREQ(f.r.final_url, "http://h/x?y=1") << w.sent;
    }
    // Without a user name the URL goes out unchanged, even with a password.
    ph.urls.clear();
    klaspnet_conn c{&io, nullptr, nullptr, "pw"};
    fetched f;
    f.rc = klaspnet_fetch(&c, "https://h/", 0, 1000, &f.r);
    ASSERT_EQ(ph.urls.size(), 1u);
    EXPECT_EQ(ph.urls[0], "https://h/");
}

TEST(FetchPlain, RangeIsRefusedWithoutCallingTheTransport)
{
    plain_host ph;
    velkaron_io io = plain_io(&ph, false);
    klaspnet_conn c{&io, nullptr, "user", "secret"};
    fetched f;
    f.rc = klaspnet_fetch(&c, "http://h/f", 1, 1000, &f.r);
    EXPECT_EQ(f.rc, -2);
    EXPECT_STREQ(f.r.error, "the transport has no request headers (velkaron_io v1): Range cannot be sent");
    EXPECT_TRUE(ph.urls.empty());
    EXPECT_EQ(f.r.body, nullptr);
}

TEST(FetchPlain, TransportFailures)
{
    struct row {
        plain_answer a;
        bool with_free;
        const char *error;
        int frees; // body and error text handed back
    } rows[] = {
        {{-1, 0, nullptr, "connection refused"}, true, "GET http://h/a?<redacted>: connection refused", 1},
        {{-1, 0, nullptr, "connection refused"}, false, "GET http://h/a?<redacted>: connection refused", 0},
        {{7, 0, nullptr, nullptr}, true, "GET http://h/a?<redacted>: transport failure", 0},
        {{-1, 500, "partial", "timeout"}, true, "GET http://h/a?<redacted>: timeout", 2},
        {{-1, 500, "partial", nullptr}, false, "GET http://h/a?<redacted>: transport failure", 0},
        {{0, 200, nullptr, nullptr}, true, "GET http://h/a?<redacted>: transport failure", 0},
        {{0, 200, nullptr, "no body"}, true, "GET http://h/a?<redacted>: no body", 1},
        {{0, 200, "ok", "warning"}, true, "", 2}, // a success may still carry a text
    };
    for (const row &w : rows) {
        plain_host ph;
        ph.answers["http://h/a?q=secret"] = w.a;
        velkaron_io io = plain_io(&ph, w.with_free);
        klaspnet_conn c{&io, nullptr, nullptr, nullptr};
        fetched f;
        f.rc = klaspnet_fetch(&c, "http://h/a?q=secret", 0, 100, &f.r);
        EXPECT_EQ(f.rc, *w.error ? -1 : 0) << w.error;
        EXPECT_STREQ(f.r.error, w.error);
        klaspnet_resp_free(&f.r);
        EXPECT_EQ(ph.frees, w.frees) << w.error;
        if (*w.error) {
            EXPECT_EQ(f.r.body, nullptr) << w.error;
            EXPECT_EQ(f.r.final_url, nullptr) << w.error;
        }
    }
}

TEST(FetchPlain, ErrorTextsMaskCredentials)
{
    struct row {
        const char *user;
        const char *password;
        const char *transport_error;
        const char *want;
    } rows[] = {
        {"bob", "hunter2", "login bob:hunter2 refused", "GET http://h/: login bob:*** refused"},
        {"alice", "pw", "alice:pw pw", "GET http://h/: ***:** **"},
        {"al", "x", "al:x x", "GET http://h/: al:* *"},
        {"user", "longpassword", "longpasswordlongpassword", "GET http://h/: ******"},
        {"user", "", "user: nothing", "GET http://h/: ***: nothing"},
        // the userinfo form that a transport may echo from its request URL
        {"me@home", "p w", "GET http://me%40home:p%20w@h/", "GET http://h/: GET http://***:***@h/"},
    };
    struct local {
        // Fails every URL with the text given as context.
        static int32_t get(void *ctx, const char *, char **, int32_t *, char **error)
        {
            *error = heap_text(static_cast<const char *>(ctx));
            return -1;
        }
    };
    for (const row &w : rows) {
        velkaron_io io{const_cast<char *>(w.transport_error), local::get, nullptr, nullptr};
        klaspnet_conn c{&io, nullptr, w.user, w.password};
        fetched f;
        f.rc = klaspnet_fetch(&c, "http://h/", 0, 100, &f.r);
        EXPECT_EQ(f.rc, -1);
        EXPECT_STREQ(f.r.error, w.want) << w.transport_error;
    }
}

TEST(FetchPlain, ErrorTextIsCutTo255Bytes)
{
    std::string long_error(600, 'e');
    struct local {
        static int32_t get(void *ctx, const char *, char **, int32_t *, char **error)
        {
            *error = heap_text(*static_cast<std::string *>(ctx));
            return -1;
        }
    };
    velkaron_io io{&long_error, local::get, nullptr, nullptr};
    klaspnet_conn c{&io, nullptr, nullptr, nullptr};
    fetched f;
    f.rc = klaspnet_fetch(&c, "http://h/", 0, 100, &f.r);
    EXPECT_EQ(f.rc, -1);
    EXPECT_EQ(std::strlen(f.r.error), 255u);
    EXPECT_EQ(std::string(f.r.error).substr(0, 14), "GET http://h/:");
}

// ---- extension road ----------------------------------------------------------

TEST(FetchHttp, SendsTheFixedRequest)
{
    ext_setup s;
    s.host.answers["http://h/a/"] = page("listing");
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/a/", 0, 1000, &f.r);
    EXPECT_EQ(f.rc, 0);
    ASSERT_EQ(s.host.hops.size(), 1u);
    const hop &h = s.host.hops[0];
    EXPECT_EQ(h.size, 104u);
    EXPECT_EQ(h.method, "GET");
    EXPECT_EQ(h.url, "http://h/a/");
    EXPECT_EQ(h.headers, (std::vector<std::string>{"Accept: text/html,application/xhtml+xml,*/*;q=0.8",
                                                   "User-Agent: velkaron-aspnet/1.0.0"}));
    EXPECT_FALSE(h.has_user);
    EXPECT_FALSE(h.has_password);
    EXPECT_EQ(h.timeout_ms, 120000u);
    EXPECT_TRUE(h.reserved_zero);
    EXPECT_EQ(f.r.status, 200);
    EXPECT_STREQ(f.r.body, "listing");
    EXPECT_EQ(f.r.body_len, 7u);
    EXPECT_STREQ(f.r.final_url, "http://h/a/");
    EXPECT_EQ(f.r.redirects, 0);
    EXPECT_EQ(f.r.permanent, 0);

    // A Range probe adds the third line; a null password goes out as "".
    s.host.hops.clear();
    s.conn.user = "u";
    fetched p;
    p.rc = klaspnet_fetch(&s.conn, "http://h/a/", 1, 1000, &p.r);
    ASSERT_EQ(s.host.hops.size(), 1u);
    EXPECT_EQ(s.host.hops[0].headers,
              (std::vector<std::string>{"Accept: text/html,application/xhtml+xml,*/*;q=0.8",
                                        "User-Agent: velkaron-aspnet/1.0.0", "Range: bytes=0-0"}));
    EXPECT_TRUE(s.host.hops[0].has_user);
    EXPECT_EQ(s.host.hops[0].user, "u");
    EXPECT_TRUE(s.host.hops[0].has_password);
    EXPECT_EQ(s.host.hops[0].password, "");
}

TEST(FetchHttp, StatusComesFromThePseudoHeaderFirst)
{
    struct row {
        bool status_header;
        int32_t out_status;
        std::vector<std::pair<std::string, std::string>> extra;
        int want;
    } rows[] = {
        {true, 200, {}, 200},
        {false, 203, {}, 203},
        {false, 200, {{":status", "  +206 OK"}}, 206},
        {false, 200, {{":status", "abc"}}, 200}, // no digits: the output counts
        {false, 0, {}, 0},
    };
    for (const row &w : rows) {
        ext_setup s;
        answer a = page("x", w.out_status);
        a.status_header = w.status_header;
        a.headers = w.extra;
        s.host.answers["http://h/"] = a;
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 100, &f.r);
        EXPECT_EQ(f.rc, 0);
        EXPECT_EQ(f.r.status, w.want) << w.out_status;
    }
}

TEST(FetchHttp, FollowsEveryRedirectStatus)
{
    ext_setup s;
    s.conn.user = "user";
    s.conn.password = "pw";
    s.host.answers["http://h/0"] = redirect(301, "/1");
    s.host.answers["http://h/1"] = redirect(302, "2");
    s.host.answers["http://h/2"] = redirect(303, "http://h/3");
    s.host.answers["http://h/3"] = redirect(307, "//h/4");
    s.host.answers["http://h/4"] = redirect(308, "./5?x=1");
    s.host.answers["http://h/5?x=1"] = page("five");
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/0", 0, 100, &f.r);
    EXPECT_EQ(f.rc, 0);
    EXPECT_EQ(f.r.status, 200);
    EXPECT_EQ(f.r.redirects, 5);
    EXPECT_EQ(f.r.permanent, 0);
    EXPECT_STREQ(f.r.body, "five");
    EXPECT_STREQ(f.r.final_url, "http://h/5?x=1");
    ASSERT_EQ(s.host.hops.size(), 6u);
    for (const hop &h : s.host.hops) {
        EXPECT_EQ(h.user, "user") << h.url;
        EXPECT_EQ(h.password, "pw") << h.url;
        EXPECT_EQ(h.headers.size(), 2u) << h.url;
    }

    // One more hop is refused, naming the requested URL.
    s.host.answers["http://h/5?x=1"] = redirect(302, "/6");
    s.host.answers["http://h/6"] = page("six");
    s.host.hops.clear();
    fetched g;
    g.rc = klaspnet_fetch(&s.conn, "http://h/0", 0, 100, &g.r);
    EXPECT_EQ(g.rc, -2);
    EXPECT_STREQ(g.r.error, "GET http://h/0: more than 5 redirects");
    EXPECT_EQ(g.r.body, nullptr);
    EXPECT_EQ(g.r.final_url, nullptr);
    EXPECT_EQ(s.host.hops.size(), 6u);
}

TEST(FetchHttp, WhatIsNotFollowed)
{
    struct row {
        const char *what;
        answer a;
    } rows[] = {
        {"300", redirect(300, "/t")},
        {"304", redirect(304, "/t")},
        {"301 without Location", page("moved", 301)},
        {"301 with empty Location", redirect(301, "")},
        {"200 with Location", redirect(200, "/t")},
    };
    for (const row &w : rows) {
        ext_setup s;
        s.host.answers["http://h/s"] = w.a;
        s.host.answers["http://h/t"] = page("target");
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/s", 0, 100, &f.r);
        EXPECT_EQ(f.rc, 0) << w.what;
        EXPECT_EQ(f.r.status, w.a.status) << w.what;
        EXPECT_EQ(s.host.hops.size(), 1u) << w.what;
        EXPECT_EQ(f.r.redirects, 0) << w.what;
        EXPECT_STREQ(f.r.final_url, "http://h/s") << w.what;
    }
}

TEST(FetchHttp, PermanentOnlyWhenEveryHopWasPermanent)
{
    struct row {
        std::vector<int> statuses;
        int permanent;
    } rows[] = {
        {{}, 0}, {{302}, 0}, {{301}, 1}, {{308}, 1}, {{301, 308}, 1}, {{301, 307, 308}, 0}, {{303, 301}, 0},
    };
    for (const row &w : rows) {
        ext_setup s;
        for (size_t i = 0; i < w.statuses.size(); i++)
            s.host.answers["http://h/" + std::to_string(i)] = redirect(w.statuses[i], "/" + std::to_string(i + 1));
        s.host.answers["http://h/" + std::to_string(w.statuses.size())] = page("end");
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/0", 0, 100, &f.r);
        EXPECT_EQ(f.rc, 0);
        EXPECT_EQ(f.r.redirects, static_cast<int>(w.statuses.size()));
        EXPECT_EQ(f.r.permanent, w.permanent) << "hops " << w.statuses.size();
    }
}

TEST(FetchHttp, RefusedRedirects)
{
    struct row {
        const char *start;
        const char *location;
        const char *error;
    } rows[] = {
        {"https://h/a?k=v", "http://h/a", "GET https://h/a?<redacted>: redirect from https to http refused"},
        {"http://h/a", "ftp://h/file", "GET http://h/a: redirect to a URL that is not http(s)"},
        {"http://h/a", "mailto:x@h", "GET http://h/a: redirect to a URL that is not http(s)"},
        {"http://h/a", "http:", "GET http://h/a: redirect to a URL that is not http(s)"},
        {"http://h/a", "//:80/x", "GET http://h/a: redirect to a URL that is not http(s)"},
        {"http://h/a", "http://u:p@/x", "GET http://h/a: redirect to a URL that is not http(s)"},
        {"relative/a", "b", "GET relative/a: redirect Location is not a usable URL"},
    };
    for (const row &w : rows) {
        ext_setup s;
        s.host.answers[w.start] = redirect(302, w.location);
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, w.start, 0, 100, &f.r);
        EXPECT_EQ(f.rc, -2) << w.location;
        EXPECT_STREQ(f.r.error, w.error);
        EXPECT_EQ(f.r.body, nullptr);
        EXPECT_EQ(f.r.final_url, nullptr);
        EXPECT_EQ(s.host.hops.size(), 1u) << w.location;
    }

    // The refusal names the URL that redirected, not the one asked for.
    ext_setup s;
    s.host.answers["http://h/a"] = redirect(301, "https://h/b");
    s.host.answers["https://h/b"] = redirect(301, "http://h/c");
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/a", 0, 100, &f.r);
    EXPECT_EQ(f.rc, -2);
    EXPECT_STREQ(f.r.error, "GET https://h/b: redirect from https to http refused");
}

TEST(FetchHttp, OverlongRedirectTargetIsRefused)
{
    std::string path(8192 - std::strlen("http://h/"), 'p');
    for (bool fits : {true, false}) {
        std::string target = "http://h/" + path + (fits ? "" : "q");
        ext_setup s;
        s.host.answers["http://h/a"] = redirect(302, target + "#fragment-is-cut-first");
        s.host.answers[target] = page("far");
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/a", 0, 100, &f.r);
        if (fits) {
            EXPECT_EQ(f.rc, 0);
            EXPECT_STREQ(f.r.body, "far");
        } else {
            EXPECT_EQ(f.rc, -2);
            EXPECT_STREQ(f.r.error, "GET http://h/a: redirect to a URL that is not http(s)");
        }
    }
}

TEST(FetchHttp, FragmentAndUserinfoOfALocationAreNotSent)
{
    ext_setup s;
    s.host.answers["http://h/a"] = redirect(302, "/b?x=1#frag");
    s.host.answers["http://h/b?x=1"] = redirect(302, "http://someone:pw@h/c#");
    s.host.answers["http://h/c"] = page("c");
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/a", 0, 100, &f.r);
    EXPECT_EQ(f.rc, 0);
    ASSERT_EQ(s.host.hops.size(), 3u);
    EXPECT_EQ(s.host.hops[1].url, "http://h/b?x=1");
    EXPECT_EQ(s.host.hops[2].url, "http://h/c");
    EXPECT_STREQ(f.r.final_url, "http://h/c");
}

TEST(FetchHttp, CredentialsStayWithinTheOrigin)
{
    ext_setup s;
    s.conn.user = "user";
    s.conn.password = "secret";
    s.host.answers["http://h/1"] = redirect(301, "https://H:443/2");  // upgrade: kept
    s.host.answers["https://H:443/2"] = redirect(302, "https://h/3"); // same origin: kept
    s.host.answers["https://h/3"] = redirect(302, "https://other/4"); // elsewhere: dropped
    s.host.answers["https://other/4"] = redirect(302, "https://h/5"); // back: still dropped
    s.host.answers["https://h/5"] = page("five");
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/1", 0, 100, &f.r);
    EXPECT_EQ(f.rc, 0);
    ASSERT_EQ(s.host.hops.size(), 5u);
    bool want[] = {true, true, true, false, false};
    for (size_t i = 0; i < 5; i++) {
        const hop &h = s.host.hops[i];
        EXPECT_EQ(h.has_user, want[i]) << h.url;
        EXPECT_EQ(h.has_password, want[i]) << h.url;
        if (want[i]) {
            EXPECT_EQ(h.user, "user");
            EXPECT_EQ(h.password, "secret");
        }
    }
}

TEST(FetchHttp, CredentialsDropOnPortChangeAndUpgradeMovesTheOrigin)
{
    ext_setup s;
    s.conn.user = "user";
    s.conn.password = "secret";
    // The upgrade to https ignores the port and makes https://h:8443 the
    // origin; port 443 of the same host is then another origin.
    s.host.answers["http://h/1"] = redirect(302, "https://h:8443/2");  // upgrade ignores the port
    s.host.answers["https://h:8443/2"] = redirect(302, "https://h/3"); // port 443 is another origin
    s.host.answers["https://h/3"] = page("three");
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/1", 0, 100, &f.r);
    EXPECT_EQ(f.rc, 0);
    ASSERT_EQ(s.host.hops.size(), 3u);
    EXPECT_TRUE(s.host.hops[0].has_user);
    EXPECT_TRUE(s.host.hops[1].has_user);
    EXPECT_FALSE(s.host.hops[2].has_user);
}

TEST(FetchHttp, BodyLimit)
{
    std::string body(5000, 'b');
    for (size_t piece : {1000u, 4096u, 5000u}) {
        ext_setup s;
        s.host.piece = piece;
        s.host.answers["http://h/"] = page(body);
        fetched at;
        at.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 5000, &at.r);
        EXPECT_EQ(at.rc, 0);
        EXPECT_EQ(at.r.too_large, 0) << piece;
        EXPECT_EQ(at.r.body_len, 5000u) << piece;
        EXPECT_EQ(std::string(at.r.body), body);

        fetched over;
        over.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 4999, &over.r);
        EXPECT_EQ(over.rc, 0);
        EXPECT_EQ(over.r.too_large, 1) << piece;
        EXPECT_EQ(over.r.body_len, 0u);
        ASSERT_NE(over.r.body, nullptr);
        EXPECT_STREQ(over.r.body, "");
        EXPECT_EQ(over.r.status, 200);
    }
}

// The body is collected into a block sized by Content-Length; a length that
// is wrong either way, beyond the limit or unreadable changes nothing of what
// is received.
TEST(FetchHttp, BodyWhateverContentLengthSays)
{
    const std::string body(5000, 'c');
    for (const char *length : {"5000", "1", "4999", "5001", "999999999", "x"}) {
        for (uint64_t limit : {5000u, 4999u}) {
            ext_setup s;
            answer a = page(body);
            a.headers = {{"Content-Length", length}};
            s.host.answers["http://h/"] = a;
            fetched f;
            f.rc = klaspnet_fetch(&s.conn, "http://h/", 0, limit, &f.r);
            EXPECT_EQ(f.rc, 0) << length;
            ASSERT_NE(f.r.body, nullptr);
            EXPECT_EQ(f.r.too_large, limit < body.size() ? 1 : 0) << length << " " << limit;
            EXPECT_EQ(std::string(f.r.body, f.r.body_len), limit < body.size() ? "" : body) << length;
            EXPECT_EQ(f.r.body[f.r.body_len], '\0');
        }
    }
}

TEST(FetchHttp, EmptyBodyIsAnEmptyText)
{
    ext_setup s;
    s.host.answers["http://h/"] = page("", 204);
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 0, &f.r);
    EXPECT_EQ(f.rc, 0);
    ASSERT_NE(f.r.body, nullptr);
    EXPECT_STREQ(f.r.body, "");
    EXPECT_EQ(f.r.too_large, 0);
}

TEST(FetchHttp, RangeProbeKeepsAtMost64Bytes)
{
    ext_setup s;
    s.host.answers["http://h/f"] = page(std::string(100, 'r'), 200);
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/f", 1, 1u << 20, &f.r);
    EXPECT_EQ(f.rc, 0);
    EXPECT_EQ(f.r.too_large, 0);
    EXPECT_EQ(f.r.body_len, 64u);
    EXPECT_EQ(std::string(f.r.body), std::string(64, 'r'));
}

TEST(FetchHttp, ContentRange)
{
    struct row {
        const char *value;
        int64_t first, last, total;
    } rows[] = {
        {"bytes 0-0/12345", 0, 0, 12345},
        {"bytes */12345", -1, -1, 12345},
        {"bytes 0-0/*", 0, 0, -1},
        {"  bytes   5-9/10 trailing", 5, 9, 10},
        {"bytes0-0/7", 0, 0, 7},
        {"bytes -/7", -1, -1, 7},
        {"bytes 0-0/", 0, 0, -1},
        {"Bytes 0-0/12345", -1, -1, -1},
        {"bytes 0-0 /5", -1, -1, -1},
        {"bytes 0/5", -1, -1, -1},
        {"bytes *-/5", -1, -1, -1},
        {"bytes 9223372036854775799-9223372036854775799/9223372036854775799", 9223372036854775799, 9223372036854775799,
         9223372036854775799},
        {"bytes 9223372036854775800-0/5", -1, -1, -1},
        {"bytes 0-9223372036854775807/5", -1, -1, -1},
        {"bytes 0-0/9223372036854775800", 0, 0, -1},
        {"bytes 0-0/99999999999999999999999", 0, 0, -1},
        {"", -1, -1, -1},
    };
    for (const row &w : rows) {
        ext_setup s;
        answer a = page("x", 206);
        a.headers = {{"content-RANGE", w.value}};
        s.host.answers["http://h/f"] = a;
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/f", 1, 100, &f.r);
        EXPECT_EQ(f.rc, 0);
        EXPECT_EQ(f.r.range_first, w.first) << w.value;
        EXPECT_EQ(f.r.range_last, w.last) << w.value;
        EXPECT_EQ(f.r.range_total, w.total) << w.value;
    }
}

TEST(FetchHttp, ContentLengthAndAcceptRanges)
{
    struct row {
        const char *length;
        int64_t want;
    } rows[] = {
        {"12345", 12345},
        {"   42 bytes", 42},
        {"", -1},
        {"abc", -1},
        {"-5", -1},
        {"0", 0},
        {"922337203685477579", 922337203685477579},
        {"9223372036854775799", 9223372036854775799},
        {"9223372036854775800", -1},
        {"9223372036854775807", -1},
        {"\t5", -1},
    };
    for (const row &w : rows) {
        ext_setup s;
        answer a = page("x");
        a.headers = {{"Content-Length", w.length}, {"ACCEPT-RANGES", "none, bytes"}};
        s.host.answers["http://h/"] = a;
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 100, &f.r);
        EXPECT_EQ(f.rc, 0);
        EXPECT_EQ(f.r.content_length, w.want) << w.length;
        EXPECT_EQ(f.r.accept_ranges, 1);
    }
    struct ar_row {
        std::vector<std::pair<std::string, std::string>> headers;
        int want;
    } ar_rows[] = {
        {{{"Accept-Ranges", "Bytes"}}, 0},
        {{{"Accept-Ranges", "none"}}, 0},
        {{{"Accept-Ranges", "bytes"}, {"Accept-Ranges", "none"}}, 0},
        {{{"Accept-Ranges", "none"}, {"accept-ranges", "bytes"}}, 1},
        {{}, 0},
    };
    for (const ar_row &w : ar_rows) {
        ext_setup s;
        answer a = page("x");
        a.headers = w.headers;
        s.host.answers["http://h/"] = a;
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 100, &f.r);
        EXPECT_EQ(f.r.accept_ranges, w.want) << w.headers.size();
    }
}

TEST(FetchHttp, HeadersOfRedirectHopsAreForgotten)
{
    ext_setup s;
    answer r = redirect(302, "/b");
    r.headers.push_back({"Content-Length", "5"});
    r.headers.push_back({"Content-Range", "bytes 0-0/9"});
    r.headers.push_back({"Accept-Ranges", "bytes"});
    s.host.answers["http://h/a"] = r;
    answer b = page("b");
    b.headers = {{"Location", "/ignored"}, {"Location", ""}}; // 200: not followed anyway
    s.host.answers["http://h/b"] = b;
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/a", 0, 100, &f.r);
    EXPECT_EQ(f.rc, 0);
    EXPECT_EQ(f.r.content_length, -1);
    EXPECT_EQ(f.r.range_total, -1);
    EXPECT_EQ(f.r.accept_ranges, 0);
    EXPECT_STREQ(f.r.body, "b");

    // A later Location replaces an earlier one.
    ext_setup t;
    answer two = redirect(302, "/first");
    two.headers.push_back({"location", "/second"});
    t.host.answers["http://h/a"] = two;
    t.host.answers["http://h/second"] = page("second");
    fetched g;
    g.rc = klaspnet_fetch(&t.conn, "http://h/a", 0, 100, &g.r);
    EXPECT_STREQ(g.r.body, "second");
}

TEST(FetchHttp, TransportFailures)
{
    struct row {
        int32_t rc;
        const char *error;
        bool with_free;
        const char *want;
        int frees;
    } rows[] = {
        {-1, "connection reset", true, "GET http://h/b: connection reset", 1},
        {-1, "connection reset", false, "GET http://h/b: connection reset", 0},
        {5, nullptr, true, "GET http://h/b: transport failure", 0},
        {-1, nullptr, false, "GET http://h/b: transport failure", 0},
    };
    for (const row &w : rows) {
        ext_setup s;
        if (w.with_free) s.http.free = http_counted_free;
        s.host.answers["http://h/a"] = redirect(302, "/b");
        answer a;
        a.rc = w.rc;
        a.error = w.error;
        s.host.answers["http://h/b"] = a;
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/a", 0, 100, &f.r);
        EXPECT_EQ(f.rc, -1);
        EXPECT_STREQ(f.r.error, w.want);
        EXPECT_EQ(s.host.frees, w.frees) << w.want;
        EXPECT_EQ(f.r.body, nullptr);
        EXPECT_EQ(f.r.final_url, nullptr);
    }
    // A success that also hands back an error text: the text is released.
    ext_setup s;
    s.http.free = http_counted_free;
    answer a = page("fine");
    a.error = "note";
    s.host.answers["http://h/"] = a;
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 100, &f.r);
    EXPECT_EQ(f.rc, 0);
    EXPECT_EQ(s.host.frees, 1);
    EXPECT_STREQ(f.r.body, "fine");
}

TEST(FetchHttp, ErrorTextsMaskCredentials)
{
    struct row {
        const char *user;
        const char *password;
        const char *error;
        const char *want;
    } rows[] = {
        {"bob", "hunter2", "bob/hunter2", "GET http://h/: bob/***"},
        {"bobby", "hunter2", "bobby/hunter2/bobby", "GET http://h/: ***/***/***"},
        {"bob", "ab", "ab-ab", "GET http://h/: **-**"},
        {"bob", nullptr, "bob", "GET http://h/: bob"},
    };
    for (const row &w : rows) {
        ext_setup s;
        s.conn.user = w.user;
        s.conn.password = w.password;
        answer a;
        a.rc = -1;
        a.error = w.error;
        s.host.answers["http://h/"] = a;
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 100, &f.r);
        EXPECT_STREQ(f.r.error, w.want);
    }
    // Without a user name nothing is masked, whatever the password.
    ext_setup s;
    s.conn.password = "hunter2";
    answer a;
    a.rc = -1;
    a.error = "hunter2";
    s.host.answers["http://h/"] = a;
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 100, &f.r);
    EXPECT_STREQ(f.r.error, "GET http://h/: hunter2");
}

TEST(FetchHttp, NullHeaderPartsAreIgnored)
{
    struct local {
        static int32_t request(void *, const velkaron_http_req *req, int32_t *status, char **)
        {
            req->on_header(req->cb_ctx, nullptr, "x");
            req->on_header(req->cb_ctx, "Location", nullptr);
            req->on_header(req->cb_ctx, ":status", "200");
            req->on_body(req->cb_ctx, "ok", 2);
            *status = 200;
            return 0;
        }
    };
    velkaron_io io{nullptr, unused_get, nullptr, nullptr};
    velkaron_http http{32, 1, nullptr, local::request, nullptr};
    klaspnet_conn c{&io, &http, nullptr, nullptr};
    fetched f;
    f.rc = klaspnet_fetch(&c, "http://h/", 0, 100, &f.r);
    EXPECT_EQ(f.rc, 0);
    EXPECT_STREQ(f.r.body, "ok");
}

TEST(FetchFree, ReleasesOnlyTheOwnedTexts)
{
    klaspnet_resp_free(nullptr);
    klaspnet_resp r{};
    r.status = 200;
    r.body = static_cast<char *>(std::malloc(4));
    r.final_url = static_cast<char *>(std::malloc(4));
    klaspnet_resp_free(&r);
    EXPECT_EQ(r.body, nullptr);
    EXPECT_EQ(r.final_url, nullptr);
    EXPECT_EQ(r.status, 200);
    klaspnet_resp_free(&r);
}

} // namespace
