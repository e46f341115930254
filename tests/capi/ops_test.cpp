// The network operations as a host drives them through the module: the
// built-in fake, and a recording host transport (as a plain velkaron_io, and
// with its velkaron_http extension bound).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "capi/module.h"
#include "support/host.h"

namespace {

const char k_listing[] =
    "<html>\r\n<head><title>Index of /m/</title></head>\r\n<body>\r\n<h1>Index of /m/</h1><hr><pre>"
    "<a href=\"../\">../</a>\r\n"
    "<a href=\"Sub/\">Sub/</a>                                               11-Dec-2021 23:59                   -\r\n"
    "<a href=\"a%20b.mp3\">a b.mp3</a>                                        11-Dec-2021 23:59                1234\r\n"
    "</pre><hr></body>\r\n</html>\r\n";

const char k_items[] =
    "{\"items\":[{\"name\":\"Sub\",\"path\":\"/Sub\",\"folder\":true,\"size\":-1,\"mtime_ms\":1639267140000,"
    "\"url\":\"http://h/m/Sub/\"},{\"name\":\"a b.mp3\",\"path\":\"/a b.mp3\",\"folder\":false,\"size\":1234,"
    "\"mtime_ms\":1639267140000,\"url\":\"http://h/m/a%20b.mp3\"}]}";

// Fill a buffer with a pattern so that "whole text or empty" shows.
struct out {
    char b[8192];
    out() { std::memset(b, '#', sizeof b); }
};

class CapiOps : public ::testing::Test {
protected:
    ktest::recording_host rec;
    velkaron_io io = rec.io();
    velkaron_http http = rec.http();
    out o;

    void SetUp() override
    {
        rec.unknown = ktest::failure(1, "host: unknown URL");
        api().fake_reset();
        api().set_io(nullptr);
    }
    void TearDown() override
    {
        api().bind_http(&io, nullptr);
        api().set_io(nullptr);
        api().fake_reset();
    }
    std::string str() const { return o.b; }
};

TEST_F(CapiOps, FakeRoundTrip)
{
    ASSERT_EQ(api().use_fake(), 0);
    ASSERT_EQ(api().fake_set("http://h/m/", 200, nullptr, k_listing), 0);
    ASSERT_EQ(api().fake_set("http://h/m/a%20b.mp3", 206, "Content-Range: bytes 0-0/1234", "x"), 0);
    const char *settings = "{\"URL\":\"http://h/m\",\"ID\":\"src-1\"}";

    ASSERT_EQ(api().validate(settings, o.b, sizeof o.b), 0) << api().last_error();
    EXPECT_EQ(str(), "{\"RuntimeType\":\"ASPNET\"}");
    std::string report = api().result_json();
    EXPECT_NE(report.find("\"transport\":\"velkaron_http\",\"count\":2,"), std::string::npos) << report;
    EXPECT_NE(report.find("\"range\":{\"verdict\":\"verified\",\"file\":\"a b.mp3\",\"http\":206,\"size\":1234}"),
              std::string::npos)
        << report;

    ASSERT_EQ(api().list(settings, "", o.b, sizeof o.b), 0);
    EXPECT_EQ(str(), k_items);

    ASSERT_EQ(
        api().stream_url(settings, "{\"name\":\"a b.mp3\",\"path\":\"/a b.mp3\",\"folder\":false}", o.b, sizeof o.b),
        0);
    EXPECT_EQ(str(), "{\"url\":\"http://h/m/a%20b.mp3\"}");

    ASSERT_EQ(api().stat(settings, "/a b.mp3", o.b, sizeof o.b), 0);
    EXPECT_EQ(str(), "{\"op\":\"stat\",\"path\":\"/a b.mp3\",\"url\":\"http://h/m/a%20b.mp3\",\"http\":206,"
                     "\"range\":true,\"size\":1234,\"redirects\":0}");
    EXPECT_STREQ(api().result_json(), str().c_str());
    EXPECT_STREQ(api().fake_last_request("http://h/m/a%20b.mp3"),
                 "{\"calls\":2,\"range\":\"bytes=0-0\",\"auth\":false}");
}

TEST_F(CapiOps, PlainHostTransport)
{
    rec.answers["http://alice:s%203cret@h/m/"] = ktest::page(k_listing);
    ASSERT_EQ(api().set_io(&io), 0);
    const char *settings = "{\"URL\":\"http://alice:s%203cret@h/m/\",\"ID\":\"x\"}";

    ASSERT_EQ(api().list(settings, "/", o.b, sizeof o.b), 0) << api().last_error();
    EXPECT_EQ(str(), k_items);
    std::string pub = api().result_json();
    EXPECT_NE(pub.find("\"final_url\":\"http://h/m/\",\"redirects\":-1,\"transport\":\"velkaron_io\""),
              std::string::npos)
        << pub;
    // The plain road carries the credentials inside the URL it hands to the host.
    ASSERT_EQ(rec.gets.size(), 1u);
    EXPECT_EQ(rec.gets[0], "http://alice:s%203cret@h/m/");

    ASSERT_EQ(api().validate(settings, o.b, sizeof o.b), 0);
    EXPECT_EQ(str(), "{\"RuntimeType\":\"ASPNET\"}");
    pub += api().result_json();
    EXPECT_NE(pub.find("\"url_rewritten\":false,\"range\":{\"verdict\":\"unverified\",\"file\":\"a b.mp3\",\"http\":"
                       "0,\"size\":-1,\"note\":\"velkaron_io v1 carries no Range header\"}"),
              std::string::npos)
        << pub;
    EXPECT_EQ(rec.gets.size(), 2u); // no probe

    EXPECT_EQ(api().stat(settings, "/a b.mp3", o.b, sizeof o.b), KLASPNET_E_UNSUPPORTED);
    EXPECT_STREQ(api().last_error(), "stat needs a transport with the velkaron_http extension (Range)");

    // A host failure naming the credentials never shows them.
    EXPECT_EQ(api().list(settings, "x", o.b, sizeof o.b), KLASPNET_E_UNAVAILABLE);
    EXPECT_STREQ(api().last_error(), "GET http://h/m/x/: host: unknown URL");
    pub += str() + api().result_json();
    EXPECT_EQ(pub.find("alice"), std::string::npos) << pub;
    EXPECT_EQ(pub.find("3cret"), std::string::npos) << pub;
}

TEST_F(CapiOps, HostExtensionBound)
{
    rec.answers["http://h/m/"] = ktest::page(k_listing, 200, {{"Content-Type", "text/html"}});
    rec.answers["http://h/m/a%20b.mp3"] =
        ktest::page("x", 206, {{"Content-Range", "bytes 0-0/1234"}, {"Content-Length", "1"}});
    ASSERT_EQ(api().set_io(&io), 0);
    ASSERT_EQ(api().bind_http(&io, &http), 0);
    const char *settings = "{\"URL\":\"http://alice:s3cret@h/m/\",\"ID\":\"x\"}";

    ASSERT_EQ(api().validate(settings, o.b, sizeof o.b), 0) << api().last_error();
    std::string pub = api().result_json();
    EXPECT_NE(pub.find("\"transport\":\"velkaron_http\""), std::string::npos) << pub;
    EXPECT_NE(pub.find("\"range\":{\"verdict\":\"verified\",\"file\":\"a b.mp3\",\"http\":206,\"size\":1234}"),
              std::string::npos)
        << pub;
    ASSERT_EQ(rec.requests.size(), 2u);
    const std::vector<std::string> page_headers = {"Accept: text/html,application/xhtml+xml,*/*;q=0.8",
                                                   "User-Agent: velkaron-aspnet/1.0.0"};
    std::vector<std::string> probe_headers = page_headers;
    probe_headers.push_back("Range: bytes=0-0");
    EXPECT_EQ(rec.requests[0].url, "http://h/m/");
    EXPECT_EQ(rec.requests[0].headers, page_headers);
    EXPECT_EQ(rec.requests[1].url, "http://h/m/a%20b.mp3");
    EXPECT_EQ(rec.requests[1].headers, probe_headers);
    for (const auto &q : rec.requests) {
        EXPECT_TRUE(q.has_user);
        EXPECT_EQ(q.user, "alice");
        EXPECT_EQ(q.password, "s3cret");
    }

    ASSERT_EQ(api().stat(settings, "a b.mp3", o.b, sizeof o.b), 0) << api().last_error();
    EXPECT_EQ(str(), "{\"op\":\"stat\",\"path\":\"/a b.mp3\",\"url\":\"http://h/m/a%20b.mp3\",\"http\":206,"
                     "\"range\":true,\"size\":1234,\"redirects\":0}");
    ASSERT_EQ(rec.requests.size(), 3u);
    EXPECT_EQ(rec.requests[2].headers, probe_headers);

    ASSERT_EQ(api().list(settings, nullptr, o.b, sizeof o.b), 0);
    EXPECT_EQ(str(), k_items);
    pub += api().result_json();
    EXPECT_EQ(pub.find("alice"), std::string::npos);
    EXPECT_EQ(pub.find("s3cret"), std::string::npos);

    // Unbound again: stat refuses, list and validate go the plain road.
    ASSERT_EQ(api().bind_http(&io, nullptr), 0);
    EXPECT_EQ(api().stat(settings, "a b.mp3", o.b, sizeof o.b), KLASPNET_E_UNSUPPORTED);
}

TEST_F(CapiOps, HostExtensionPermanentMove)
{
    rec.answers["http://h/m/"] = ktest::page("", 301, {{"Location", "https://h/m/"}});
    rec.answers["https://h/m/"] = ktest::page(k_listing);
    rec.answers["https://h/m/a%20b.mp3"] = ktest::page(std::string(5000, 'z'), 200, {{"Content-Length", "5000"}});
    ASSERT_EQ(api().set_io(&io), 0);
    ASSERT_EQ(api().bind_http(&io, &http), 0);

    ASSERT_EQ(api().validate("{\"URL\":\"http://h/m\",\"ID\":\"x\"}", o.b, sizeof o.b), 0) << api().last_error();
    EXPECT_EQ(str(), "{\"RuntimeType\":\"ASPNET\",\"URL\":\"https://h/m/\"}");
    std::string pub = api().result_json();
    EXPECT_NE(pub.find("\"final_url\":\"https://h/m/\",\"redirects\":1,"), std::string::npos) << pub;
    EXPECT_NE(pub.find("\"url_rewritten\":true,\"range\":{\"verdict\":\"ignored\",\"file\":\"a b.mp3\",\"http\":200,"
                       "\"size\":5000,"),
              std::string::npos)
        << pub;
    EXPECT_NE(pub.find(",\"settings\":{\"RuntimeType\":\"ASPNET\",\"URL\":\"https://h/m/\"}}"), std::string::npos);

    ASSERT_EQ(api().list("{\"URL\":\"http://h/m\"}", "", o.b, sizeof o.b), 0);
    EXPECT_NE(str().find("\"url\":\"https://h/m/a%20b.mp3\""), std::string::npos) << str();
    EXPECT_NE(str().find("\"path\":\"/a b.mp3\""), std::string::npos) << str();

    // With credentials in the root the move is not proposed.
    ASSERT_EQ(api().validate("{\"URL\":\"http://u:p@h/m\",\"ID\":\"x\"}", o.b, sizeof o.b), 0);
    EXPECT_EQ(str(), "{\"RuntimeType\":\"ASPNET\"}");
}

TEST_F(CapiOps, BuffersTooSmallStillPublish)
{
    ASSERT_EQ(api().use_fake(), 0);
    ASSERT_EQ(api().fake_set("http://h/m/", 200, nullptr, k_listing), 0);
    ASSERT_EQ(api().fake_set("http://h/m/a%20b.mp3", 206, "Content-Range: bytes 0-0/1234", "x"), 0);
    const char *settings = "{\"URL\":\"http://h/m\",\"ID\":\"src-1\"}";

    struct op {
        const char *name;
        int32_t (*call)(const char *settings, char *dst, int32_t len);
    } ops[] = {
        {"validate", [](const char *s, char *d, int32_t n) { return api().validate(s, d, n); }},
        {"list", [](const char *s, char *d, int32_t n) { return api().list(s, "", d, n); }},
        {"stat", [](const char *s, char *d, int32_t n) { return api().stat(s, "/a b.mp3", d, n); }},
        {"stream_url",
         [](const char *s, char *d, int32_t n) { return api().stream_url(s, "{\"path\":\"/a\"}", d, n); }},
    };
    for (const op &p : ops) {
        ASSERT_EQ(p.call(settings, o.b, sizeof o.b), 0) << p.name;
        const std::string full_out = o.b;
        const std::string full_pub = api().result_json();
        const std::string need = "output buffer too small: " + std::to_string(full_out.size() + 1) + " bytes needed";
        out small;
        EXPECT_EQ(p.call(settings, small.b, static_cast<int32_t>(full_out.size())), KLASPNET_E_BUFFER) << p.name;
        EXPECT_EQ(small.b[0], '\0') << p.name;
        EXPECT_EQ(small.b[1], '#') << p.name;
        EXPECT_STREQ(api().last_error(), need.c_str()) << p.name;
        EXPECT_STREQ(api().result_json(), full_pub.c_str()) << p.name;
        EXPECT_EQ(p.call(settings, nullptr, 0), KLASPNET_E_BUFFER) << p.name;
        EXPECT_STREQ(api().last_error(), need.c_str()) << p.name;
        EXPECT_STREQ(api().result_json(), full_pub.c_str()) << p.name;
    }
}

TEST_F(CapiOps, NoTransportInstalled)
{
#if defined(KLASPNET_CURL_DEFAULT)
    GTEST_SKIP() << "this build carries a default transport: an operation always has one";
#endif
    const char *settings = "{\"URL\":\"http://h/m\"}";
    EXPECT_EQ(api().validate(settings, o.b, sizeof o.b), KLASPNET_E_INVALID);
    EXPECT_STREQ(o.b, "{\"error\":\"no velkaron_io transport\",\"code\":-8}");
    EXPECT_EQ(api().list(settings, "", o.b, sizeof o.b), KLASPNET_E_INVALID);
    EXPECT_STREQ(o.b, "{\"error\":\"no velkaron_io transport\",\"code\":-8}");
    EXPECT_EQ(api().stat(settings, "/a", o.b, sizeof o.b), KLASPNET_E_UNSUPPORTED);
    EXPECT_STREQ(o.b, "{\"error\":\"stat needs a transport with the velkaron_http extension (Range)\",\"code\":-6}");
    EXPECT_EQ(api().list(nullptr, "", o.b, sizeof o.b), KLASPNET_E_INVALID);
    EXPECT_STREQ(o.b, "{\"error\":\"settings JSON is NULL\",\"code\":-8}");
}

} // namespace
