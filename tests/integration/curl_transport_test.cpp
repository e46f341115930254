// The libcurl transport on its own, against the real servers: what a host
// transport must do for the library (one exchange, headers reported, body
// streamed, stops honoured, credentials presented, timeouts kept).
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "transport/curl_transport.h"

namespace {

using it::by_name;

struct exchange {
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    int body_calls = 0;
    size_t stop_at_header = 0; // stop after this many headers (0: never)
    bool stop_at_body = false; // stop at the first body piece
    int32_t rc = 0;
    int32_t status = 0;
    std::string error;

    const std::string *header(const char *name) const
    {
        for (const auto &h : headers)
            if (strcasecmp(h.first.c_str(), name) == 0) return &h.second;
        return nullptr;
    }
};

int32_t on_header(void *ctx, const char *name, const char *value)
{
    auto *x = static_cast<exchange *>(ctx);
    x->headers.emplace_back(name, value);
    return x->stop_at_header && x->headers.size() >= x->stop_at_header ? 1 : 0;
}

int32_t on_body(void *ctx, const void *data, uint64_t len)
{
    auto *x = static_cast<exchange *>(ctx);
    x->body.append(static_cast<const char *>(data), len);
    x->body_calls++;
    return x->stop_at_body ? 1 : 0;
}

void request(exchange &x, const std::string &url, std::vector<const char *> hdrs = {}, const char *user = nullptr,
             const char *password = nullptr, uint32_t timeout_ms = 120000)
{
    const velkaron_http *http = klaspnet_curl_http();
    velkaron_http_req req{};
    req.size = sizeof req;
    req.method = "GET";
    req.url = url.c_str();
    req.headers = hdrs.data();
    req.header_count = hdrs.size();
    req.user = user;
    req.password = user ? (password ? password : "") : nullptr;
    req.timeout_ms = timeout_ms;
    req.on_header = on_header;
    req.on_body = on_body;
    req.cb_ctx = &x;
    char *err = nullptr;
    x.rc = http->request(http->ctx, &req, &x.status, &err);
    if (err) {
        x.error = err;
        if (http->free)
            http->free(http->ctx, err);
        else
            std::free(err);
    }
}

struct got {
    bool had_body;
    int32_t rc;
    int32_t status;
    std::string body;
    std::string error;
};

got get(const std::string &url)
{
    const velkaron_io *io = klaspnet_curl_io();
    char *body = nullptr, *err = nullptr;
    got g{};
    g.rc = io->get(io->ctx, url.c_str(), &body, &g.status, &err);
    g.had_body = body != nullptr;
    if (body) g.body = body;
    if (err) g.error = err;
    io->free(io->ctx, body);
    io->free(io->ctx, err);
    return g;
}

TEST(CurlHttp, ReportsStatusFirstThenEveryHeaderTrimmed)
{
    IT_REQUIRE_SERVERS();
    exchange x;
    request(x, by_name("nginx-exact").media_url(),
            {"Accept: text/html,application/xhtml+xml,*/*;q=0.8", "User-Agent: velkaron-aspnet/1.0.0"});
    ASSERT_EQ(x.rc, 0) << x.error;
    EXPECT_EQ(x.status, 200);
    ASSERT_FALSE(x.headers.empty());
    EXPECT_EQ(x.headers[0].first, ":status");
    EXPECT_EQ(x.headers[0].second, "200");
    ASSERT_NE(x.header("Server"), nullptr);
    EXPECT_EQ(x.header("Server")->rfind("nginx", 0), 0u);
    for (const auto &h : x.headers) {
        ASSERT_FALSE(h.first.empty());
        EXPECT_NE(h.first.back(), ' ') << h.first;
        if (!h.second.empty()) {
            EXPECT_NE(h.second.front(), ' ') << h.first;
            EXPECT_NE(h.second.back(), '\r') << h.first;
            EXPECT_NE(h.second.back(), ' ') << h.first;
        }
    }
    EXPECT_NE(x.body.find("Index of /media/"), std::string::npos);
}

TEST(CurlHttp, PerformsOneExchangeAndFollowsNoRedirect)
{
    IT_REQUIRE_SERVERS();
    const it::server &s = by_name("nginx-exact");
    exchange x;
    request(x, s.base() + "/moved/");
    ASSERT_EQ(x.rc, 0) << x.error;
    EXPECT_EQ(x.status, 301);
    ASSERT_NE(x.header("Location"), nullptr);
    EXPECT_EQ(*x.header("Location"), s.base() + "/media/");
    EXPECT_EQ(x.body.find("Index of"), std::string::npos);
}

TEST(CurlHttp, SendsRangeAndReportsContentRange)
{
    IT_REQUIRE_SERVERS();
    for (const char *name : {"nginx-exact", "apache-table"}) {
        SCOPED_TRACE(name);
        exchange x;
        request(x, by_name(name).media_url() + "big.bin", {"Range: bytes=0-0"});
        ASSERT_EQ(x.rc, 0) << x.error;
        EXPECT_EQ(x.status, 206);
        ASSERT_NE(x.header("Content-Range"), nullptr);
        EXPECT_EQ(*x.header("Content-Range"), "bytes 0-0/123456789");
        EXPECT_EQ(x.body.size(), 1u);
    }
}

TEST(CurlHttp, StopsWhenTheBodyCallbackAsks)
{
    IT_REQUIRE_SERVERS();
    exchange x;
    x.stop_at_body = true;
    request(x, by_name("nginx-exact").media_url() + "big.bin");
    // The answer was obtained; the transfer ended at the first piece.
    ASSERT_EQ(x.rc, 0) << x.error;
    EXPECT_EQ(x.status, 200);
    EXPECT_EQ(x.body_calls, 1);
    EXPECT_LT(x.body.size(), size_t{1} << 20);
    ASSERT_NE(x.header("Content-Length"), nullptr);
    EXPECT_EQ(*x.header("Content-Length"), "123456789");
}

TEST(CurlHttp, StopsWhenTheHeaderCallbackAsks)
{
    IT_REQUIRE_SERVERS();
    exchange x;
    x.stop_at_header = 1;
    request(x, by_name("nginx-exact").media_url() + "big.bin");
    ASSERT_EQ(x.rc, 0) << x.error;
    EXPECT_EQ(x.status, 200);
    ASSERT_EQ(x.headers.size(), 1u);
    EXPECT_EQ(x.headers[0].first, ":status");
    EXPECT_EQ(x.body_calls, 0);
}

TEST(CurlHttp, PresentsUserAndPasswordAsBasicAuthentication)
{
    IT_REQUIRE_SERVERS();
    for (const char *name : {"nginx-exact", "apache-table"}) {
        SCOPED_TRACE(name);
        const std::string url = by_name(name).private_url();
        exchange with, without, wrong;
        request(with, url, {}, it::k_user, it::k_password);
        request(without, url);
        request(wrong, url, {}, it::k_user, "wrong");
        EXPECT_EQ(with.rc, 0) << with.error;
        EXPECT_EQ(with.status, 200);
        EXPECT_EQ(without.rc, 0);
        EXPECT_EQ(without.status, 401);
        EXPECT_EQ(wrong.status, 401);
        // One exchange: a 401 is reported, not retried with other schemes.
        ASSERT_FALSE(without.headers.empty());
        EXPECT_EQ(without.headers[0].second, "401");
    }
}

TEST(CurlHttp, HonoursTimeoutMs)
{
    // A listening socket that never answers: the connection is accepted by
    // the kernel, the request is never served.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(fd, 4), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len), 0);
    std::string url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
    exchange x;
    auto t0 = std::chrono::steady_clock::now();
    request(x, url, {}, nullptr, nullptr, 300);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    close(fd);
    EXPECT_NE(x.rc, 0);
    EXPECT_FALSE(x.error.empty());
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 5000);
}

TEST(CurlHttp, ReportsAFailedConnectionWithAnErrorText)
{
    std::vector<int> ports;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len), 0);
    std::string url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
    close(fd); // nobody listens there now
    exchange x;
    request(x, url);
    EXPECT_NE(x.rc, 0);
    EXPECT_FALSE(x.error.empty());
    got g = get(url);
    EXPECT_NE(g.rc, 0);
    EXPECT_FALSE(g.error.empty());
}

TEST(CurlGet, FollowsRedirectsItself)
{
    IT_REQUIRE_SERVERS();
    const it::server &s = by_name("nginx-exact");
    got g = get(s.base() + "/moved-twice/"); // 308, then 301, then the listing
    ASSERT_EQ(g.rc, 0) << g.error;
    EXPECT_EQ(g.status, 200);
    EXPECT_NE(g.body.find("Index of /media/"), std::string::npos);
}

TEST(CurlGet, StopsAfterFiveRedirects)
{
    IT_REQUIRE_SERVERS();
    got g = get(by_name("nginx-exact").base() + "/loop/");
    EXPECT_NE(g.rc, 0);
    EXPECT_FALSE(g.error.empty());
}

TEST(CurlGet, ReturnsErrorStatusesAsAnswers)
{
    IT_REQUIRE_SERVERS();
    got g = get(by_name("apache-table").media_url() + "no-such-folder/");
    ASSERT_EQ(g.rc, 0) << g.error;
    EXPECT_EQ(g.status, 404);
}

TEST(CurlGet, SendsUserinfoAsBasicAuthentication)
{
    IT_REQUIRE_SERVERS();
    for (const char *name : {"nginx-exact", "apache-table"}) {
        SCOPED_TRACE(name);
        const std::string url = by_name(name).private_url();
        got ok = get(it::with_credentials(url, it::k_user, it::k_password));
        EXPECT_EQ(ok.rc, 0) << ok.error;
        EXPECT_EQ(ok.status, 200);
        got refused = get(url);
        EXPECT_EQ(refused.status, 401);
    }
}

TEST(CurlGet, DeliversEmptyBodiesAsEmptyTexts)
{
    IT_REQUIRE_SERVERS();
    got g = get(by_name("nginx-exact").media_url() + "c%2B%2B%20%2B%20more.txt");
    ASSERT_EQ(g.rc, 0) << g.error;
    EXPECT_EQ(g.status, 200);
    EXPECT_TRUE(g.had_body);
    EXPECT_EQ(g.body, "");
}

} // namespace
