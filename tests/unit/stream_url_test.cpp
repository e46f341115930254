// The stream URL operation: answers, published summaries and refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "klaspnet/klaspnet.h"
#include "source/ops.h"

using namespace klaspnet::detail;

namespace {

struct call {
    int rc;
    std::string out, published, error;
};

call run(const char *settings, const char *entry, int32_t len = 1024)
{
    char buf[1024];
    std::memset(buf, '#', sizeof buf);
    call c;
    c.rc = h_stream_url(nullptr, settings, entry, buf, len);
    c.out = buf[0] == '#' ? "(untouched)" : buf;
    c.published = klaspnet_result_json_impl();
    c.error = klaspnet_last_error_impl();
    return c;
}

std::string err(const char *msg, int code)
{
    return std::string("{\"error\":\"") + msg + "\",\"code\":" + std::to_string(code) + "}";
}

TEST(StreamUrl, Answers)
{
    struct row {
        const char *settings, *entry, *answer, *summary;
    } rows[] = {
        {"{\"URL\":\"http://h/m\"}", "{\"path\":\"/Films/a b.mkv\"}", "{\"url\":\"http://h/m/Films/a%20b.mkv\"}",
         "{\"op\":\"stream_url\",\"code\":0,\"url\":\"http://h/m/Films/a%20b.mkv\",\"auth_header\":false}"},
        {"{\"URL\":\"http://h/\"}", "{\"path\":\"a//b/\"}", "{\"url\":\"http://h/a/b\"}",
         "{\"op\":\"stream_url\",\"code\":0,\"url\":\"http://h/a/b\",\"auth_header\":false}"},
        {"{\"URL\":\"http://h/\"}", "{\"path\":\"/a\",\"folder\":false}", "{\"url\":\"http://h/a\"}",
         "{\"op\":\"stream_url\",\"code\":0,\"url\":\"http://h/a\",\"auth_header\":false}"},
        {"{\"URL\":\"http://h/\"}", "{\"path\":\"/a\",\"folder\":1}", "{\"url\":\"http://h/a\"}",
         "{\"op\":\"stream_url\",\"code\":0,\"url\":\"http://h/a\",\"auth_header\":false}"},
        {"{\"URL\":\"http://h/\"}", "{\"folder\":\"true\",\"path\":\"/100%\",\"path\":5}",
         "{\"url\":\"http://h/100%25\"}",
         "{\"op\":\"stream_url\",\"code\":0,\"url\":\"http://h/100%25\",\"auth_header\":false}"},
        // RFC 7617 example credentials.
        {"{\"URL\":\"HTTPS://Aladdin:open%20sesame@H/x\"}", "{\"path\":\"/\\u00e4.mp3\"}",
         "{\"url\":\"https://h/x/%C3%A4.mp3\",\"headers\":{\"Authorization\":\"Basic "
         "QWxhZGRpbjpvcGVuIHNlc2FtZQ==\"}}",
         "{\"op\":\"stream_url\",\"code\":0,\"url\":\"https://h/x/%C3%A4.mp3\",\"auth_header\":true}"},
        // An empty userinfo still asks for a header: the Base64 of ":".
        {"{\"URL\":\"http://@h/\"}", "{\"path\":\"/f\"}",
         "{\"url\":\"http://h/f\",\"headers\":{\"Authorization\":\"Basic Og==\"}}",
         "{\"op\":\"stream_url\",\"code\":0,\"url\":\"http://h/f\",\"auth_header\":true}"},
        {"{\"URL\":\"http://u@h/\"}", "{\"path\":\"/f\"}",
         "{\"url\":\"http://h/f\",\"headers\":{\"Authorization\":\"Basic dTo=\"}}",
         "{\"op\":\"stream_url\",\"code\":0,\"url\":\"http://h/f\",\"auth_header\":true}"},
    };
    for (const row &r : rows) {
        call c = run(r.settings, r.entry);
        EXPECT_EQ(c.rc, 0) << r.settings << " " << r.entry;
        EXPECT_EQ(c.out, r.answer) << r.settings << " " << r.entry;
        EXPECT_EQ(c.published, r.summary) << r.settings << " " << r.entry;
        EXPECT_EQ(c.error, "") << r.settings << " " << r.entry;
    }
}

TEST(StreamUrl, Refusals)
{
    const char *ok = "{\"URL\":\"http://h/\"}";
    const char *no_path = "entry has no \\\"path\\\" string";
    const char *not_file = "entry path is not a file path (empty, ., .. or control characters)";
    std::string too_long = "{\"path\":\"/" + std::string(8192 - 8, 'a') + "\"}";
    struct row {
        const char *settings, *entry;
        int code;
        std::string json;
    } rows[] = {
        {nullptr, "{\"path\":\"/a\"}", -8, err("settings JSON is NULL", -8)},
        {"{\"URL\":\"ftp://h/\"}", nullptr, -8, err("URL must start with http:// or https://", -8)},
        {"{\"URL\":\"http://h/\",}", "{}", -8, err("settings are not a JSON object", -8)},
        {ok, nullptr, -8, err("entry is not a JSON object", -8)},
        {ok, "", -8, err("entry is not a JSON object", -8)},
        {ok, "[]", -8, err("entry is not a JSON object", -8)},
        {ok, "{\"path\":\"/a\",}", -8, err("entry is not a JSON object", -8)},
        {ok, "{\"path\":\"/a\"} {}", -8, err("entry is not a JSON object", -8)},
        {ok, "{}", -8, err(no_path, -8)},
        {ok, "{\"Path\":\"/a\"}", -8, err(no_path, -8)},
        {ok, "{\"path\":5}", -8, err(no_path, -8)},
        {ok, "{\"path\":5,\"path\":\"/a\"}", -8, err(no_path, -8)},
        {ok, "{\"path\":5,\"folder\":true}", -8, err(no_path, -8)},
        {ok, "{\"path\":\"/a\",\"folder\":true}", -2, err("entry is a folder: a folder has no stream URL", -2)},
        {ok, "{\"folder\":true,\"path\":\"..\"}", -2, err("entry is a folder: a folder has no stream URL", -2)},
        {ok, "{\"path\":\"\"}", -2, err(not_file, -2)},
        {ok, "{\"path\":\"/\"}", -2, err(not_file, -2)},
        {ok, "{\"path\":\"a/../b\"}", -2, err(not_file, -2)},
        {ok, "{\"path\":\"/a/.\"}", -2, err(not_file, -2)},
        {ok, "{\"path\":\"/a\\tb\"}", -2, err(not_file, -2)},
        {ok, "{\"path\":\"/a\\u007f\"}", -2, err(not_file, -2)},
        {ok, "{\"path\":\"/a\\u0000/../../etc\"}", -2, err(not_file, -2)},
        {ok, too_long.c_str(), -8, err("file URL longer than 8192 bytes", -8)},
    };
    for (const row &r : rows) {
        const char *label = r.entry ? r.entry : "(null)";
        call c = run(r.settings, r.entry);
        EXPECT_EQ(c.rc, r.code) << label;
        EXPECT_EQ(c.out, r.json) << label;
        EXPECT_EQ(c.published, r.json) << label;
    }
    // One byte shorter fits exactly.
    std::string fits = "{\"path\":\"/" + std::string(8192 - 9, 'a') + "\"}";
    char big[9000];
    EXPECT_EQ(h_stream_url(nullptr, ok, fits.c_str(), big, sizeof big), 0);
    EXPECT_EQ(std::strlen(big), std::strlen("{\"url\":\"\"}") + 8192);
}

TEST(StreamUrl, BufferOneByteShortStillPublishes)
{
    const char *settings = "{\"URL\":\"http://u:pw@h/\"}";
    const std::string answer = "{\"url\":\"http://h/a\",\"headers\":{\"Authorization\":\"Basic dTpwdw==\"}}";
    const std::string summary = "{\"op\":\"stream_url\",\"code\":0,\"url\":\"http://h/a\",\"auth_header\":true}";
    call c = run(settings, "{\"path\":\"/a\"}", static_cast<int32_t>(answer.size()));
    EXPECT_EQ(c.rc, KLASPNET_E_BUFFER);
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.published, summary);
    EXPECT_EQ(c.error, "output buffer too small: " + std::to_string(answer.size() + 1) + " bytes needed");

    c = run(settings, "{\"path\":\"/a\"}", static_cast<int32_t>(answer.size() + 1));
    EXPECT_EQ(c.rc, 0);
    EXPECT_EQ(c.out, answer);
    EXPECT_EQ(c.published, summary);
    EXPECT_EQ(c.error, "");

    EXPECT_EQ(h_stream_url(nullptr, settings, "{\"path\":\"/a\"}", nullptr, 0), KLASPNET_E_BUFFER);
    EXPECT_EQ(std::string(klaspnet_result_json_impl()), summary);
}

TEST(StreamUrl, NothingPublishedCarriesCredentials)
{
    // User name and password long enough that no other text could contain
    // them by chance; the password also percent-escaped in the URL.
    const char *settings = "{\"URL\":\"http://zqxuserzqx:pw%2Fzqxsecretzqx@h/m\"}";
    const char *secrets[] = {"zqxuserzqx", "zqxsecretzqx", "pw%2F", "pw/",
                             "enF4dXNlcnpxeDpwdy96cXhzZWNyZXR6cXg=" /* Base64 of user:password */};
    struct row {
        const char *entry;
        int32_t len;
    } rows[] = {{"{\"path\":\"/a\"}", 1024}, {"{\"path\":\"/a\"}", 10}, {"{\"path\":\"..\"}", 1024}, {"[]", 1024}};
    for (const row &r : rows) {
        call c = run(settings, r.entry, r.len);
        for (const char *s : secrets) {
            EXPECT_EQ(c.published.find(s), std::string::npos) << r.entry << " " << s;
            EXPECT_EQ(c.error.find(s), std::string::npos) << r.entry << " " << s;
        }
    }
    // Only the caller's answer carries the header, and never the URL's userinfo.
    call c = run(settings, "{\"path\":\"/a\"}");
    EXPECT_EQ(c.out, "{\"url\":\"http://h/m/a\",\"headers\":{\"Authorization\":\"Basic "
                     "enF4dXNlcnpxeDpwdy96cXhzZWNyZXR6cXg=\"}}");
    // A failing root never echoes the URL it was given.
    c = run("{\"URL\":\"http://zqxuserzqx:zqxsecretzqx@my host/\"}", "{\"path\":\"/a\"}");
    EXPECT_EQ(c.rc, -8);
    EXPECT_EQ(c.error, "URL host is not a valid host name");
}

} // namespace
