// One GET through host transports that record exactly what the library sends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "source/fetch.h"
#include "support/exact.h"
#include "support/host.h"

namespace {

using ktest::answer;
using ktest::page;
using ktest::redirect;

std::optional<std::string> text(const char *s) { return s ? std::optional<std::string>(s) : std::nullopt; }

// A velkaron_io answer: status, and a body and error text (null: none handed over).
answer plain(int32_t rc, int32_t status, const char *body, const char *error)
{
    answer a;
    a.rc = rc;
    a.status = status;
    a.body = text(body);
    a.error = text(error);
    return a;
}

// The recording host, checked as it goes: the library clears every output
// before it calls the transport.
struct checked_host : ktest::recording_host {
    ~checked_host() { EXPECT_EQ(dirty_outputs(), 0) << "an output was not cleared before the call"; }
};

int32_t unused_get(void *, const char *, char **, int32_t *, char **)
{
    ADD_FAILURE() << "the plain get must not be called when an extension is given";
    return -1;
}

// The velkaron_http road; its body pieces are 1000 bytes unless a test says otherwise.
struct ext_setup {
    checked_host host;
    velkaron_io io{nullptr, unused_get, nullptr, nullptr};
    velkaron_http http = host.http();
    klaspnet_conn conn{&io, &http, nullptr, nullptr};
    ext_setup() { host.piece = 1000; }
};

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
    checked_host ph;
    velkaron_io io = ph.io(false);
    velkaron_io no_get{&ph, nullptr, nullptr, nullptr};
    klaspnet_conn ok{&io, nullptr, nullptr, nullptr};
    klaspnet_conn no_io{nullptr, nullptr, nullptr, nullptr};
    klaspnet_conn bad_io{&no_get, nullptr, nullptr, nullptr};
    velkaron_http http = ph.http();
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
    EXPECT_TRUE(ph.gets.empty());
}

// ---- plain road ------------------------------------------------------------

TEST(FetchPlain, ErrorStatusIsAnAnswer)
{
    checked_host ph;
    velkaron_io io = ph.io(true);
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
    EXPECT_EQ(ph.frees(), 0);
    klaspnet_resp_free(&f.r);
    EXPECT_EQ(ph.frees(), 1);
}

TEST(FetchPlain, BodyLimit)
{
    checked_host ph;
    std::string ten(10, 'x');
    ph.answers["http://h/"] = page(ten);
    for (bool with_free : {false, true}) {
        velkaron_io io = ph.io(with_free);
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
    checked_host ph;
    velkaron_io io = ph.io(false);
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
        ph.gets.clear();
        klaspnet_conn c{&io, nullptr, w.user, w.password};
        fetched f;
        f.rc = klaspnet_fetch(&c, "http://h/x?y=1", 0, 1000, &f.r);
        EXPECT_EQ(f.rc, 0) << w.sent;
        ASSERT_EQ(ph.gets.size(), 1u);
        EXPECT_EQ(ph.gets[0], w.sent);
        EXPECT_STREQ(f.r.final_url, "http://h/x?y=1") << w.sent;
    }
    // Without a user name the URL goes out unchanged, even with a password.
    ph.gets.clear();
    klaspnet_conn c{&io, nullptr, nullptr, "pw"};
    fetched f;
    f.rc = klaspnet_fetch(&c, "https://h/", 0, 1000, &f.r);
    ASSERT_EQ(ph.gets.size(), 1u);
    EXPECT_EQ(ph.gets[0], "https://h/");
}

TEST(FetchPlain, RangeIsRefusedWithoutCallingTheTransport)
{
    checked_host ph;
    velkaron_io io = ph.io(false);
    klaspnet_conn c{&io, nullptr, "user", "secret"};
    fetched f;
    f.rc = klaspnet_fetch(&c, "http://h/f", 1, 1000, &f.r);
    EXPECT_EQ(f.rc, -2);
    EXPECT_STREQ(f.r.error, "the transport has no request headers (velkaron_io v1): Range cannot be sent");
    EXPECT_TRUE(ph.gets.empty());
    EXPECT_EQ(f.r.body, nullptr);
}

TEST(FetchPlain, TransportFailures)
{
    struct row {
        answer a;
        bool with_free;
        const char *error;
        int frees; // body and error text handed back
    } rows[] = {
        {plain(-1, 0, nullptr, "connection refused"), true, "GET http://h/a?<redacted>: connection refused", 1},
        {plain(-1, 0, nullptr, "connection refused"), false, "GET http://h/a?<redacted>: connection refused", 0},
        {plain(7, 0, nullptr, nullptr), true, "GET http://h/a?<redacted>: transport failure", 0},
        {plain(-1, 500, "partial", "timeout"), true, "GET http://h/a?<redacted>: timeout", 2},
        {plain(-1, 500, "partial", nullptr), false, "GET http://h/a?<redacted>: transport failure", 0},
        {plain(0, 200, nullptr, nullptr), true, "GET http://h/a?<redacted>: transport failure", 0},
        {plain(0, 200, nullptr, "no body"), true, "GET http://h/a?<redacted>: no body", 1},
        {plain(0, 200, "ok", "warning"), true, "", 2}, // a success may still carry a text
    };
    for (const row &w : rows) {
        checked_host ph;
        ph.answers["http://h/a?q=secret"] = w.a;
        velkaron_io io = ph.io(w.with_free);
        klaspnet_conn c{&io, nullptr, nullptr, nullptr};
        fetched f;
        f.rc = klaspnet_fetch(&c, "http://h/a?q=secret", 0, 100, &f.r);
        EXPECT_EQ(f.rc, *w.error ? -1 : 0) << w.error;
        EXPECT_STREQ(f.r.error, w.error);
        klaspnet_resp_free(&f.r);
        EXPECT_EQ(ph.frees(), w.frees) << w.error;
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
            *error = ktest::heap_cstr(static_cast<const char *>(ctx));
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
            *error = ktest::heap_cstr(*static_cast<std::string *>(ctx));
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
    ASSERT_EQ(s.host.requests.size(), 1u);
    const ktest::request &h = s.host.requests[0];
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
    s.host.requests.clear();
    s.conn.user = "u";
    fetched p;
    p.rc = klaspnet_fetch(&s.conn, "http://h/a/", 1, 1000, &p.r);
    ASSERT_EQ(s.host.requests.size(), 1u);
    EXPECT_EQ(s.host.requests[0].headers,
              (std::vector<std::string>{"Accept: text/html,application/xhtml+xml,*/*;q=0.8",
                                        "User-Agent: velkaron-aspnet/1.0.0", "Range: bytes=0-0"}));
    EXPECT_TRUE(s.host.requests[0].has_user);
    EXPECT_EQ(s.host.requests[0].user, "u");
    EXPECT_TRUE(s.host.requests[0].has_password);
    EXPECT_EQ(s.host.requests[0].password, "");
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
    ASSERT_EQ(s.host.requests.size(), 6u);
    for (const ktest::request &h : s.host.requests) {
        EXPECT_EQ(h.user, "user") << h.url;
        EXPECT_EQ(h.password, "pw") << h.url;
        EXPECT_EQ(h.headers.size(), 2u) << h.url;
    }

    // One more hop is refused, naming the requested URL.
    s.host.answers["http://h/5?x=1"] = redirect(302, "/6");
    s.host.answers["http://h/6"] = page("six");
    s.host.requests.clear();
    fetched g;
    g.rc = klaspnet_fetch(&s.conn, "http://h/0", 0, 100, &g.r);
    EXPECT_EQ(g.rc, -2);
    EXPECT_STREQ(g.r.error, "GET http://h/0: more than 5 redirects");
    EXPECT_EQ(g.r.body, nullptr);
    EXPECT_EQ(g.r.final_url, nullptr);
    EXPECT_EQ(s.host.requests.size(), 6u);
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
        EXPECT_EQ(s.host.requests.size(), 1u) << w.what;
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
        EXPECT_EQ(s.host.requests.size(), 1u) << w.location;
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
    ASSERT_EQ(s.host.requests.size(), 3u);
    EXPECT_EQ(s.host.requests[1].url, "http://h/b?x=1");
    EXPECT_EQ(s.host.requests[2].url, "http://h/c");
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
    ASSERT_EQ(s.host.requests.size(), 5u);
    bool want[] = {true, true, true, false, false};
    for (size_t i = 0; i < 5; i++) {
        const ktest::request &h = s.host.requests[i];
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
    ASSERT_EQ(s.host.requests.size(), 3u);
    EXPECT_TRUE(s.host.requests[0].has_user);
    EXPECT_TRUE(s.host.requests[1].has_user);
    EXPECT_FALSE(s.host.requests[2].has_user);
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
        if (w.with_free) s.http = s.host.http(true);
        s.host.answers["http://h/a"] = redirect(302, "/b");
        s.host.answers["http://h/b"] = ktest::failure(w.rc, text(w.error));
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/a", 0, 100, &f.r);
        EXPECT_EQ(f.rc, -1);
        EXPECT_STREQ(f.r.error, w.want);
        EXPECT_EQ(s.host.frees(), w.frees) << w.want;
        EXPECT_EQ(f.r.body, nullptr);
        EXPECT_EQ(f.r.final_url, nullptr);
    }
    // A success that also hands back an error text: the text is released.
    ext_setup s;
    s.http = s.host.http(true);
    answer a = page("fine");
    a.error = "note";
    s.host.answers["http://h/"] = a;
    fetched f;
    f.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 100, &f.r);
    EXPECT_EQ(f.rc, 0);
    EXPECT_EQ(s.host.frees(), 1);
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
        s.host.answers["http://h/"] = ktest::failure(-1, w.error);
        fetched f;
        f.rc = klaspnet_fetch(&s.conn, "http://h/", 0, 100, &f.r);
        EXPECT_STREQ(f.r.error, w.want);
    }
    // Without a user name nothing is masked, whatever the password.
    ext_setup s;
    s.conn.password = "hunter2";
    s.host.answers["http://h/"] = ktest::failure(-1, "hunter2");
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
