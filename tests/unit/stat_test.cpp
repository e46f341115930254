// The stat operation: the output object for every kind of answer, failures
// with their exact messages and codes, and what the Range probe sends.
#include <gtest/gtest.h>

#include <string>

#include "net_fixture.h"

namespace {

using namespace netfix;

const char k_settings[] = "{\"URL\":\"http://h/m\"}";
const char k_path[] = "/Films/a b.mkv";
const std::string k_file = "http://h/m/Films/a%20b.mkv";

class Stat : public op_test {
protected:
    int stat(const char *path = k_path, const char *settings = k_settings, const velkaron_io *io = fake_io(),
             int32_t len = -1)
    {
        o = out();
        return klaspnet_stat_io(io, settings, path, o.b, len < 0 ? o.len() : len);
    }
};

std::string answer(int http, bool range, long long size, const std::string &url = k_file, int redirects = 0)
{
    return "{\"op\":\"stat\",\"path\":\"/Films/a b.mkv\",\"url\":\"" + url + "\",\"http\":" + std::to_string(http) +
           ",\"range\":" + (range ? "true" : "false") + ",\"size\":" + std::to_string(size) +
           ",\"redirects\":" + std::to_string(redirects) + "}";
}

TEST_F(Stat, Answers)
{
    struct {
        const char *name;
        int status;
        const char *headers;
        bool range;
        long long size;
    } rows[] = {
        {"206", 206, "Content-Range: bytes 0-0/1234", true, 1234},
        {"206 total *", 206, "Content-Range: bytes 0-0/*", true, -1},
        {"206 no last", 206, "Content-Range: bytes 0-/99", true, 99},
        {"206 from 5", 206, "Content-Range: bytes 5-5/1234", false, -1},
        {"206 bare", 206, nullptr, false, -1},
        {"200 length", 200, "Content-Length: 99", false, 99},
        {"200 no length", 200, nullptr, false, -1},
        {"200 with a Content-Range", 200, "Content-Range: bytes 0-0/7\nContent-Length: 7", false, 7},
        {"204", 204, "Content-Length: 5", false, -1},
    };
    for (auto &r : rows) {
        set(k_file, r.status, r.headers, "some body");
        EXPECT_EQ(stat(), 0) << r.name;
        EXPECT_EQ(o.str(), answer(r.status, r.range, r.size)) << r.name;
        EXPECT_EQ(published(), o.str()) << r.name;
        EXPECT_EQ(last_error(), "") << r.name;
    }
    EXPECT_STREQ(klaspnet_fake_last_request_impl(k_file.c_str()),
                 "{\"calls\":9,\"range\":\"bytes=0-0\",\"auth\":false}");
}

TEST_F(Stat, PathIsNormalised)
{
    set(k_file, 206, "Content-Range: bytes 0-0/1", "x");
    EXPECT_EQ(stat("Films//a b.mkv/"), 0);
    EXPECT_EQ(o.str(), answer(206, true, 1));
}

TEST_F(Stat, Failures)
{
    struct {
        const char *path;
        const char *settings;
        const velkaron_io *io;
        int code;
        const char *message;
    } rows[] = {
        {k_path, nullptr, fake_io(), -8, "settings JSON is NULL"},
        {k_path, "{}", fake_io(), -8, "settings key URL is missing (the ASPNET source needs the directory URL)"},
        {"/", k_settings, nullptr, -2, "path is not a file path"},
        {"", k_settings, nullptr, -2, "path is not a file path"},
        {nullptr, k_settings, nullptr, -2, "path is not a file path"},
        {"a/../b", k_settings, fake_io(), -2, "path is not a file path"},
        {"a/\x7f", k_settings, fake_io(), -2, "path is not a file path"},
        {k_path, k_settings, nullptr, -6, "stat needs a transport with the velkaron_http extension (Range)"},
        {k_path, k_settings, plain_io(), -6, "stat needs a transport with the velkaron_http extension (Range)"},
    };
    for (auto &r : rows) expect_fail(stat(r.path, r.settings, r.io), r.code, r.message);
    std::string long_path(8192 - 11 + 1, 'a');
    expect_fail(stat(long_path.c_str()), -8, "file URL longer than 8192 bytes");
    EXPECT_EQ(klaspnet_fake_calls_impl(nullptr), 0u);
}

TEST_F(Stat, StatusFailures)
{
    struct {
        int status;
        int code;
    } rows[] = {{401, -1}, {403, -1}, {407, -1}, {404, -2}, {410, -2}, {429, -3},
                {408, -4}, {500, -4}, {503, -4}, {418, -5}, {302, -5}, {304, -5}};
    for (auto &r : rows) {
        set(k_file, r.status, nullptr, "");
        expect_fail(stat(), r.code, "GET " + k_file + ": HTTP " + std::to_string(r.status));
    }
}

TEST_F(Stat, FetchFailures)
{
    ASSERT_EQ(klaspnet_fake_fail_impl(k_file.c_str(), "reset by peer"), 0);
    expect_fail(stat(), -4, "GET " + k_file + ": reset by peer");
    redirect(k_file, 301, "ftp://h/x");
    expect_fail(stat(), -5, "GET " + k_file + ": redirect to a URL that is not http(s)");
    redirect("https://h/m/Films/a%20b.mkv", 301, "http://h/x");
    expect_fail(stat(k_path, "{\"URL\":\"https://h/m\"}"), -5,
                "GET https://h/m/Films/a%20b.mkv: redirect from https to http refused");
}

TEST_F(Stat, FollowsRedirects)
{
    redirect(k_file, 301, "/store/a.mkv?sig=abc");
    set("http://h/store/a.mkv?sig=abc", 206, "Content-Range: bytes 0-0/42", "x");
    EXPECT_EQ(stat(), 0);
    EXPECT_EQ(o.str(), answer(206, true, 42, "http://h/store/a.mkv?<redacted>", 1));
    // The failure message names the URL requested, not the one redirected to.
    set("http://h/store/a.mkv?sig=abc", 404, nullptr, "");
    expect_fail(stat(), -2, "GET " + k_file + ": HTTP 404");
}

TEST_F(Stat, BufferTooSmall)
{
    set(k_file, 206, "Content-Range: bytes 0-0/1234", "x");
    const std::string full = answer(206, true, 1234);
    for (int32_t len : {0, 1, static_cast<int32_t>(full.size())}) {
        EXPECT_EQ(stat(k_path, k_settings, fake_io(), len), KLASPNET_E_BUFFER) << len;
        if (len > 0) {
            EXPECT_EQ(o.b[0], '\0');
        }
        EXPECT_EQ(published(), full);
        EXPECT_EQ(last_error(), "output buffer too small: " + std::to_string(full.size() + 1) + " bytes needed");
    }
    EXPECT_EQ(stat(k_path, k_settings, fake_io(), static_cast<int32_t>(full.size() + 1)), 0);
    EXPECT_EQ(o.str(), full);
}

TEST_F(Stat, CredentialsNeverShow)
{
    const char *settings = "{\"URL\":\"http://alice:s3cret@h/m\"}";
    set(k_file, 206, "Content-Range: bytes 0-0/5", "x");
    ASSERT_EQ(stat(k_path, settings), 0);
    EXPECT_STREQ(klaspnet_fake_last_request_impl(k_file.c_str()),
                 "{\"calls\":1,\"range\":\"bytes=0-0\",\"auth\":true}");
    std::string all = o.str() + published();
    set(k_file, 401, nullptr, "");
    EXPECT_EQ(stat(k_path, settings), -1);
    all += o.str() + last_error();
    ASSERT_EQ(klaspnet_fake_fail_impl(k_file.c_str(), "no alice:s3cret"), 0);
    EXPECT_EQ(stat(k_path, settings), -4);
    all += o.str() + last_error();
    EXPECT_EQ(all.find("alice"), std::string::npos) << all;
    EXPECT_EQ(all.find("s3cret"), std::string::npos) << all;
}

} // namespace
