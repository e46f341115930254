// The scripted in-memory transport, driven through its two callback records.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "source/transport_select.h"
#include "transport/fake.h"

namespace {

const char k_404[] = "<html><body><h1>404 Not Found</h1></body></html>";

struct get_result {
    int32_t rc;
    int32_t status;
    std::string body;
    std::string error;
    bool has_body;
    bool has_error;
};

get_result fget(const char *url)
{
    const velkaron_io *io = klaspnet_io_fake();
    char *body = reinterpret_cast<char *>(1);
    char *err = reinterpret_cast<char *>(1);
    int32_t st = -7;
    get_result r{};
    r.rc = io->get(io->ctx, url, &body, &st, &err);
    r.status = st;
    r.has_body = body != nullptr;
    r.has_error = err != nullptr;
    if (body) r.body = body;
    if (err) r.error = err;
    io->free(io->ctx, body);
    io->free(io->ctx, err);
    return r;
}

struct recorder {
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<size_t> pieces;
    std::string body;
    int stop_at_header = -1; // answer nonzero to this header (0 = ":status")
    int stop_at_piece = -1;
};

int32_t on_header(void *ctx, const char *name, const char *value)
{
    auto *r = static_cast<recorder *>(ctx);
    r->headers.emplace_back(name, value);
    return static_cast<int>(r->headers.size()) - 1 == r->stop_at_header;
}

int32_t on_body(void *ctx, const void *data, uint64_t len)
{
    auto *r = static_cast<recorder *>(ctx);
    r->pieces.push_back(len);
    r->body.append(static_cast<const char *>(data), len);
    return static_cast<int>(r->pieces.size()) - 1 == r->stop_at_piece;
}

struct req_result {
    int32_t rc;
    int32_t status;
    std::string error;
};

req_result frequest(const char *url, recorder *rec, std::vector<const char *> headers = {}, const char *user = nullptr,
                    uint32_t size = sizeof(velkaron_http_req))
{
    velkaron_http_req req{};
    req.size = size;
    req.method = "GET";
    req.url = url;
    req.headers = headers.data();
    req.header_count = headers.size();
    req.user = user;
    req.password = user ? "pw" : nullptr;
    req.timeout_ms = 120000;
    req.on_header = on_header;
    req.on_body = on_body;
    req.cb_ctx = rec;
    const velkaron_http *h = klaspnet_http_fake();
    int32_t st = -7;
    char *err = nullptr;
    req_result r{};
    r.rc = h->request(h->ctx, &req, &st, &err);
    r.status = st;
    if (err) r.error = err;
    h->free(h->ctx, err);
    return r;
}

std::string last(const char *url) { return klaspnet_fake_last_request_impl(url); }

class Fake : public ::testing::Test {
protected:
    void SetUp() override { klaspnet_fake_reset_impl(); }
    void TearDown() override { klaspnet_fake_reset_impl(); }
};

TEST_F(Fake, UnscriptedUrlAnswers404ThroughBothInterfaces)
{
    get_result g = fget("http://h/none");
    EXPECT_EQ(g.rc, 0);
    EXPECT_EQ(g.status, 404);
    EXPECT_EQ(g.body, k_404);
    EXPECT_FALSE(g.has_error);

    recorder rec;
    req_result r = frequest("http://h/none", &rec);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.status, 404);
    ASSERT_EQ(rec.headers.size(), 2u);
    EXPECT_EQ(rec.headers[0], std::make_pair(std::string(":status"), std::string("404")));
    EXPECT_EQ(rec.headers[1], std::make_pair(std::string("Content-Type"), std::string("text/html")));
    EXPECT_EQ(rec.body, k_404);

    EXPECT_EQ(klaspnet_fake_calls_impl(nullptr), 2u);
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/none"), 0u);
    EXPECT_EQ(last("http://h/none"), "{\"calls\":0,\"range\":null,\"auth\":false}");
    EXPECT_EQ(last(nullptr), "{\"calls\":0,\"range\":null,\"auth\":false}");
}

TEST_F(Fake, ControlsRejectMissingArguments)
{
    EXPECT_EQ(klaspnet_fake_set_impl("http://h/", 200, nullptr, nullptr), KLASPNET_E_INVALID);
    EXPECT_EQ(klaspnet_fake_set_impl(nullptr, 200, nullptr, "x"), KLASPNET_E_INVALID);
    EXPECT_EQ(klaspnet_fake_fail_impl(nullptr, "m"), KLASPNET_E_INVALID);
    EXPECT_EQ(fget("http://h/").status, 404); // nothing was scripted
}

TEST_F(Fake, NullHeaderTextDeliversOnlyTheStatus)
{
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/a", 200, nullptr, "hello"), 0);
    recorder rec;
    req_result r = frequest("http://h/a", &rec);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.status, 200);
    ASSERT_EQ(rec.headers.size(), 1u);
    EXPECT_EQ(rec.headers[0].first, ":status");
    EXPECT_EQ(rec.headers[0].second, "200");
    EXPECT_EQ(rec.body, "hello");
}

TEST_F(Fake, HeaderLinesAreSplitAndTrimmed)
{
    ASSERT_EQ(
        klaspnet_fake_set_impl("http://h/a", 206, "X-A:   spaced  \r\nno colon here\n\nX-B :v:w\r\nLast:end", "b"), 0);
    recorder rec;
    ASSERT_EQ(frequest("http://h/a", &rec).rc, 0);
    std::vector<std::pair<std::string, std::string>> want = {
        {":status", "206"}, {"X-A", "spaced"}, {"X-B ", "v:w"}, {"Last", "end"}};
    EXPECT_EQ(rec.headers, want);
}

TEST_F(Fake, CallbacksMayStopTheTransfer)
{
    std::string big(10000, 'x');
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/a", 200, "A: 1\nB: 2", big.c_str()), 0);

    recorder stop_hdr;
    stop_hdr.stop_at_header = 1;
    EXPECT_EQ(frequest("http://h/a", &stop_hdr).rc, 0);
    EXPECT_EQ(stop_hdr.headers.size(), 2u);
    EXPECT_TRUE(stop_hdr.pieces.empty());

    recorder stop_body;
    stop_body.stop_at_piece = 0;
    EXPECT_EQ(frequest("http://h/a", &stop_body).rc, 0);
    EXPECT_EQ(stop_body.pieces, std::vector<size_t>{4096});
}

TEST_F(Fake, BodyArrivesIn4096BytePieces)
{
    std::string big(10000, 'b');
    big[4095] = 'x';
    big[9999] = 'z';
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/big", 200, "", big.c_str()), 0);
    recorder rec;
    ASSERT_EQ(frequest("http://h/big", &rec).rc, 0);
    EXPECT_EQ(rec.pieces, (std::vector<size_t>{4096, 4096, 1808}));
    EXPECT_EQ(rec.body, big);

    // An empty body produces no call at all.
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/empty", 204, nullptr, ""), 0);
    recorder none;
    ASSERT_EQ(frequest("http://h/empty", &none).rc, 0);
    EXPECT_TRUE(none.pieces.empty());
}

TEST_F(Fake, BadRequestRecordsChangeNothing)
{
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/a", 200, nullptr, "x"), 0);
    recorder rec;
    req_result r = frequest("http://h/a", &rec, {}, nullptr, 103);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.error, "bad request");
    r = frequest(nullptr, &rec);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.error, "bad request");
    const velkaron_http *h = klaspnet_http_fake();
    int32_t st = 5;
    char *err = nullptr;
    EXPECT_EQ(h->request(h->ctx, nullptr, &st, &err), -1);
    EXPECT_EQ(st, 0);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, "bad request");
    h->free(h->ctx, err);
    EXPECT_TRUE(rec.headers.empty());
    EXPECT_EQ(klaspnet_fake_calls_impl(nullptr), 0u);

    get_result g = fget(nullptr);
    EXPECT_EQ(g.rc, -1);
    EXPECT_EQ(g.error, "null url");
    EXPECT_FALSE(g.has_body);
}

TEST_F(Fake, RescriptingKeepsCountersAndTheLastWordWins)
{
    ASSERT_EQ(klaspnet_fake_fail_impl("http://h/a", nullptr), 0);
    get_result g = fget("http://h/a");
    EXPECT_EQ(g.rc, -1);
    EXPECT_EQ(g.error, "fake: transport failure");
    EXPECT_FALSE(g.has_body);

    ASSERT_EQ(klaspnet_fake_set_impl("http://h/a", 200, nullptr, "page"), 0);
    g = fget("http://h/a");
    EXPECT_EQ(g.rc, 0);
    EXPECT_EQ(g.body, "page");
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/a"), 2u);

    ASSERT_EQ(klaspnet_fake_fail_impl("http://h/a", "connection reset"), 0);
    g = fget("http://h/a");
    EXPECT_EQ(g.rc, -1);
    EXPECT_EQ(g.error, "connection reset");
    recorder rec;
    req_result r = frequest("http://h/a", &rec);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.error, "connection reset");
    EXPECT_TRUE(rec.headers.empty());
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/a"), 4u);
    EXPECT_EQ(klaspnet_fake_calls_impl(nullptr), 4u);
}

TEST_F(Fake, UrlsMatchByteForByte)
{
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/a?q=1", 200, nullptr, "q"), 0);
    EXPECT_EQ(fget("http://h/a?q=1").body, "q");
    EXPECT_EQ(fget("http://H/a?q=1").status, 404);
    EXPECT_EQ(fget("http://h/a").status, 404);
    EXPECT_EQ(fget("http://h/a?q=1#f").status, 404);
}

TEST_F(Fake, GetWithUserinfoMatchesTheScriptAndReportsAuth)
{
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/a/", 200, nullptr, "ok"), 0);
    get_result g = fget("http://us%40er:p%20w@h/a/");
    EXPECT_EQ(g.rc, 0);
    EXPECT_EQ(g.body, "ok");
    EXPECT_EQ(last("http://h/a/"), "{\"calls\":1,\"range\":null,\"auth\":true}");
    // The last "@" of the authority ends the userinfo; an "@" in the path is not one.
    g = fget("http://a@b@h/a/");
    EXPECT_EQ(g.body, "ok");
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/a/@x", 200, nullptr, "at"), 0);
    EXPECT_EQ(fget("http://h/a/@x").body, "at");
    EXPECT_EQ(last("http://h/a/@x"), "{\"calls\":1,\"range\":null,\"auth\":false}");
    g = fget("http://h/a/");
    EXPECT_EQ(last("http://h/a/"), "{\"calls\":3,\"range\":null,\"auth\":false}");
}

TEST_F(Fake, RequestRecordsRangeAndCredentials)
{
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/f", 206, "Content-Range: bytes 0-0/5", "a"), 0);
    recorder rec;
    frequest("http://h/f", &rec, {"Accept: */*", "Range: bytes=0-0"}, "me");
    EXPECT_EQ(last("http://h/f"), "{\"calls\":1,\"range\":\"bytes=0-0\",\"auth\":true}");

    // The last Range line counts; the name is matched exactly.
    frequest("http://h/f", &rec, {"Range: bytes=1-1", "range: bytes=9-9", "Range: bytes=2-2"});
    EXPECT_EQ(last("http://h/f"), "{\"calls\":2,\"range\":\"bytes=2-2\",\"auth\":false}");
    frequest("http://h/f", &rec, {"range: bytes=9-9", "Range:bytes=9-9"});
    EXPECT_EQ(last("http://h/f"), "{\"calls\":3,\"range\":null,\"auth\":false}");

    // A get clears the recorded range.
    frequest("http://h/f", &rec, {"Range: bytes=0-0"});
    fget("http://h/f");
    EXPECT_EQ(last("http://h/f"), "{\"calls\":5,\"range\":null,\"auth\":false}");
}

TEST_F(Fake, RangeTextsThatNeedEscapingShowAsNull)
{
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/f", 200, nullptr, "a"), 0);
    struct row {
        std::string range;
        bool shown;
    } rows[] = {
        {std::string(63, 'r'), true}, {std::string(64, 'r'), false}, {"bytes=\"0\"", false},
        {"bytes=0\\1", false},        {"bytes=0\t1", false},         {"", true},
    };
    for (const row &r : rows) {
        std::string line = "Range: " + r.range;
        recorder rec;
        frequest("http://h/f", &rec, {line.c_str()});
        std::string got = last("http://h/f");
        std::string range_json = r.shown ? "\"" + r.range + "\"" : "null";
        EXPECT_NE(got.find("\"range\":" + range_json + ","), std::string::npos) << "range [" << r.range << "] " << got;
    }
}

TEST_F(Fake, GetFollowsFiveRedirectsButNotSix)
{
    // /r0 -> /r1 -> ... -> /rN, then the page
    auto chain = [](int hops) {
        for (int i = 0; i < hops; i++) {
            std::string url = "http://h/r" + std::to_string(i);
            std::string loc = "Location: /r" + std::to_string(i + 1);
            ASSERT_EQ(klaspnet_fake_set_impl(url.c_str(), 301 + (i % 2), loc.c_str(), "moved"), 0);
        }
        std::string end = "http://h/r" + std::to_string(hops);
        ASSERT_EQ(klaspnet_fake_set_impl(end.c_str(), 200, nullptr, "end"), 0);
    };
    chain(5);
    get_result g = fget("http://h/r0");
    EXPECT_EQ(g.rc, 0);
    EXPECT_EQ(g.status, 200);
    EXPECT_EQ(g.body, "end");
    EXPECT_EQ(klaspnet_fake_calls_impl(nullptr), 6u);
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/r3"), 1u);

    klaspnet_fake_reset_impl();
    chain(6);
    g = fget("http://h/r0");
    EXPECT_EQ(g.rc, -1);
    EXPECT_EQ(g.error, "Maximum (5) redirects followed");
    EXPECT_FALSE(g.has_body);
    EXPECT_EQ(klaspnet_fake_calls_impl(nullptr), 6u);
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/r5"), 1u);
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/r6"), 0u);
}

TEST_F(Fake, RedirectAuthFlagAppliesToEveryHop)
{
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/a", 302, "Location: http://other/b#frag", ""), 0);
    ASSERT_EQ(klaspnet_fake_set_impl("http://other/b#frag", 200, nullptr, "b"), 0);
    get_result g = fget("http://u:p@h/a");
    EXPECT_EQ(g.body, "b");
    EXPECT_EQ(last("http://other/b#frag"), "{\"calls\":1,\"range\":null,\"auth\":true}");
}

TEST_F(Fake, LocationLinesAndTheirLimits)
{
    struct row {
        const char *what;
        int status;
        const char *headers;
        int want_status;
        const char *want_body;
    } rows[] = {
        {"empty value answers the 3xx", 301, "Location:   \r", 301, "moved"},
        {"not 3xx", 200, "Location: /t", 200, "moved"},
        {"399 counts", 399, "Location: /t", 200, "target"},
        {"upper-case name", 307, "X: y\r\nLOCATION: /t\r\n", 200, "target"},
        {"longer name", 302, "Location-Hint: /t", 302, "moved"},
        {"first line wins", 302, "location: /t\nLocation: /u", 200, "target"},
        {"no headers", 302, nullptr, 302, "moved"},
    };
    for (const row &r : rows) {
        klaspnet_fake_reset_impl();
        ASSERT_EQ(klaspnet_fake_set_impl("http://h/s", r.status, r.headers, "moved"), 0);
        ASSERT_EQ(klaspnet_fake_set_impl("http://h/t", 200, nullptr, "target"), 0);
        ASSERT_EQ(klaspnet_fake_set_impl("http://h/u", 200, nullptr, "other"), 0);
        get_result g = fget("http://h/s");
        EXPECT_EQ(g.rc, 0) << r.what;
        EXPECT_EQ(g.status, r.want_status) << r.what;
        EXPECT_EQ(g.body, r.want_body) << r.what;
    }

    // The request callback never follows: the 3xx and its Location are delivered.
    klaspnet_fake_reset_impl();
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/s", 302, "Location: /t", "moved"), 0);
    recorder rec;
    EXPECT_EQ(frequest("http://h/s", &rec).status, 302);
    ASSERT_EQ(rec.headers.size(), 2u);
    EXPECT_EQ(rec.headers[1].second, "/t");
}

TEST_F(Fake, UnresolvableLocationFails)
{
    // A key without a scheme is no base to resolve against.
    ASSERT_EQ(klaspnet_fake_set_impl("relative/page", 302, "Location: x", "moved"), 0);
    get_result g = fget("relative/page");
    EXPECT_EQ(g.rc, -1);
    EXPECT_EQ(g.error, "fake: bad Location");
}

TEST_F(Fake, PostAnswersLikeGet)
{
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/p", 201, nullptr, "posted"), 0);
    const velkaron_io *io = klaspnet_io_fake();
    char *body = nullptr, *err = nullptr;
    int32_t st = 0;
    EXPECT_EQ(io->post(io->ctx, "http://h/p", "data", 4, &body, &st, &err), 0);
    EXPECT_EQ(st, 201);
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(body, "posted");
    EXPECT_EQ(err, nullptr);
    io->free(io->ctx, body);
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/p"), 1u);
}

TEST_F(Fake, ResetClearsScriptAndCounters)
{
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/a", 200, nullptr, "a"), 0);
    for (int i = 0; i < 40; i++) { // past the first growth of the script
        std::string u = "http://h/n" + std::to_string(i);
        ASSERT_EQ(klaspnet_fake_set_impl(u.c_str(), 200, nullptr, u.c_str()), 0);
    }
    EXPECT_EQ(fget("http://h/n33").body, "http://h/n33");
    fget("http://h/a");
    EXPECT_EQ(last("http://h/a"), "{\"calls\":1,\"range\":null,\"auth\":false}");
    klaspnet_fake_reset_impl();
    EXPECT_EQ(klaspnet_fake_calls_impl(nullptr), 0u);
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/a"), 0u);
    EXPECT_EQ(last("http://h/a"), "{\"calls\":0,\"range\":null,\"auth\":false}");
    EXPECT_EQ(fget("http://h/a").status, 404);
}

TEST_F(Fake, CountersHoldUnderConcurrentUse)
{
    ASSERT_EQ(klaspnet_fake_set_impl("http://h/a", 200, "A: 1", "one"), 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; i++) {
                if (t % 2) {
                    get_result g = fget("http://h/a");
                    EXPECT_EQ(g.rc, 0);
                    EXPECT_TRUE(g.body == "one" || g.body == "two") << g.body;
                } else {
                    recorder rec;
                    frequest("http://h/a", &rec, {"Range: bytes=0-0"});
                    EXPECT_TRUE(rec.body == "one" || rec.body == "two") << rec.body;
                }
            }
        });
    }
    threads.emplace_back([] {
        for (int i = 0; i < 200; i++) {
            klaspnet_fake_set_impl("http://h/a", 200, i % 2 ? "A: 1" : nullptr, i % 2 ? "one" : "two");
            klaspnet_fake_last_request_impl("http://h/a");
        }
    });
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/a"), 800u);
    EXPECT_EQ(klaspnet_fake_calls_impl(nullptr), 800u);
}

TEST_F(Fake, UseFakeMakesItCurrent)
{
    EXPECT_EQ(klaspnet_use_fake_impl(), 0);
    EXPECT_EQ(klaspnet_io_current(), klaspnet_io_fake());
    const velkaron_io *io = klaspnet_io_fake();
    EXPECT_EQ(io->ctx, nullptr);
    EXPECT_NE(io->get, nullptr);
    EXPECT_NE(io->post, nullptr);
    EXPECT_NE(io->free, nullptr);
    const velkaron_http *h = klaspnet_http_fake();
    EXPECT_EQ(h->size, 32u);
    EXPECT_EQ(h->version, 1u);
    EXPECT_EQ(h->ctx, nullptr);
    klaspnet_io_select(nullptr);
}

} // namespace
