// The validate operation: failures, the probe file, every Range verdict, the
// URL-rewrite finding, the proposed settings and the published report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <yyjson.h>

#include "net_fixture.h"
#include "source/page.h"

using namespace klaspnet::detail;

namespace {

using namespace netfix;

const char k_settings[] = "{\"URL\":\"http://h/m\",\"ID\":\"src-1\"}";
const std::string k_root = "http://h/m/";
const std::string k_file = "http://h/m/a%20b.mp3";

class Validate : public op_test {
protected:
    int validate(const char *settings = k_settings, const velkaron_io *io = fake_io(), int32_t len = -1)
    {
        o = out();
        return h_validate(io, settings, o.b, len < 0 ? o.len() : len);
    }
    // The "range" object of the published report.
    std::string range()
    {
        std::string p = published();
        size_t a = p.find("\"range\":");
        size_t b = p.find(",\"settings\":");
        if (a == std::string::npos || b == std::string::npos) return "missing in " + p;
        return p.substr(a + 8, b - a - 8);
    }
    void root_with(const std::vector<row> &rows) { set(k_root, 200, nullptr, nginx_page("/m/", rows)); }
};

TEST_F(Validate, Failures)
{
    expect_fail(validate(nullptr), -8, "settings JSON is NULL");
    expect_fail(validate("{\"URL\":\"http://h/?q\"}", nullptr), -8, "URL must not carry a query string");
    expect_fail(validate(k_settings, nullptr), -8, "no velkaron_io transport");
    velkaron_io no_get{};
    expect_fail(validate(k_settings, &no_get), -8, "no velkaron_io transport");
    expect_fail(validate(), -2, "GET http://h/m/: HTTP 404");
    set(k_root, 200, nullptr, "<p>not a listing</p>");
    expect_fail(validate(), -5,
                "GET http://h/m/: HTTP 200 but the page is not a directory index (no ASP.NET, nginx or Apache "
                "listing markup)");
    ASSERT_EQ(klaspnet_fake_fail_impl(k_root.c_str(), nullptr), 0);
    expect_fail(validate(), -4, "GET http://h/m/: fake: transport failure");
}

TEST_F(Validate, ExactOutputAndReport)
{
    root_with({dir("Sub/"), file("a%20b.mp3", "0"), file("c.mp3", "77")});
    set("http://h/m/c.mp3", 206, "Content-Range: bytes 0-0/77", "x");
    ASSERT_EQ(validate(), 0);
    EXPECT_EQ(o.str(), "{\"RuntimeType\":\"ASPNET\"}");
    EXPECT_EQ(last_error(), "");
    EXPECT_EQ(published(),
              "{\"op\":\"validate\",\"code\":0,\"dialect\":\"nginx\",\"variant\":\"pre\",\"date_order\":\"ymd\","
              "\"date_hinted\":false,\"final_url\":\"http://h/m/\",\"redirects\":0,\"transport\":\"velkaron_"
              "http\",\"count\":3,\"rejected\":0,\"skipped\":1,\"index_of\":\"/m/\",\"url_rewritten\":false,"
              "\"range\":{\"verdict\":\"verified\",\"file\":\"c.mp3\",\"http\":206,\"size\":77},"
              "\"settings\":{\"RuntimeType\":\"ASPNET\"}}");
    EXPECT_STREQ(klaspnet_fake_last_request_impl("http://h/m/c.mp3"),
                 "{\"calls\":1,\"range\":\"bytes=0-0\",\"auth\":false}");
    // The file listed with size 0 is passed over.
    EXPECT_EQ(klaspnet_fake_calls_impl(k_file.c_str()), 0u);
}

TEST_F(Validate, Verdicts)
{
    struct {
        const char *name;
        int status;          // 0: the probe's fetch fails
        const char *headers; // or the failure message
        const char *range;   // expected "range" object
    } rows[] = {
        {"verified", 206, "Content-Range: bytes 0-0/1234",
         "{\"verdict\":\"verified\",\"file\":\"a b.mp3\",\"http\":206,\"size\":1234}"},
        {"verified *", 206, "Content-Range: bytes 0-0/*",
         "{\"verdict\":\"verified\",\"file\":\"a b.mp3\",\"http\":206,\"size\":-1}"},
        {"206 bare", 206, nullptr,
         "{\"verdict\":\"failed\",\"file\":\"a b.mp3\",\"http\":206,\"size\":-1,\"note\":\"206 without a usable "
         "Content-Range\"}"},
        {"206 not from 0", 206, "Content-Range: bytes 5-5/1234",
         "{\"verdict\":\"failed\",\"file\":\"a b.mp3\",\"http\":206,\"size\":-1,\"note\":\"206 without a usable "
         "Content-Range\"}"},
        {"206 no last", 206, "Content-Range: bytes */1234",
         "{\"verdict\":\"failed\",\"file\":\"a b.mp3\",\"http\":206,\"size\":-1,\"note\":\"206 without a usable "
         "Content-Range\"}"},
        {"ignored", 200, "Content-Length: 5000",
         "{\"verdict\":\"ignored\",\"file\":\"a b.mp3\",\"http\":200,\"size\":5000,\"note\":\"the server ignores "
         "Range: seeking will re-download from byte 0\"}"},
        {"ignored, no length", 200, nullptr,
         "{\"verdict\":\"ignored\",\"file\":\"a b.mp3\",\"http\":200,\"size\":-1,\"note\":\"the server ignores "
         "Range: seeking will re-download from byte 0\"}"},
        {"404", 404, nullptr,
         "{\"verdict\":\"failed\",\"file\":\"a b.mp3\",\"http\":404,\"size\":-1,\"note\":\"HTTP 404\"}"},
        {"416", 416, "Content-Range: bytes */0",
         "{\"verdict\":\"failed\",\"file\":\"a b.mp3\",\"http\":416,\"size\":-1,\"note\":\"HTTP 416\"}"},
        {"204", 204, nullptr,
         "{\"verdict\":\"failed\",\"file\":\"a b.mp3\",\"http\":204,\"size\":-1,\"note\":\"HTTP 204\"}"},
        {"transport", 0, "probe refused",
         "{\"verdict\":\"failed\",\"file\":\"a b.mp3\",\"http\":0,\"size\":-1,\"note\":\"GET "
         "http://h/m/a%20b.mp3: probe refused\"}"},
        // A transport's text that is not UTF-8 reaches the report repaired,
        // not as an out-of-memory failure of the whole operation.
        {"transport, not UTF-8", 0, "probe \xFF\xC3 refused",
         "{\"verdict\":\"failed\",\"file\":\"a b.mp3\",\"http\":0,\"size\":-1,\"note\":\"GET "
         "http://h/m/a%20b.mp3: probe \xEF\xBF\xBD\xEF\xBF\xBD refused\"}"},
    };
    for (auto &r : rows) {
        klaspnet_fake_reset_impl();
        root_with({file("a%20b.mp3", "5000"), file("z.mp3")});
        if (r.status)
            set(k_file, r.status, r.headers, "0123456789");
        else
            ASSERT_EQ(klaspnet_fake_fail_impl(k_file.c_str(), r.headers), 0);
        EXPECT_EQ(validate(), 0) << r.name;
        EXPECT_EQ(range(), r.range) << r.name;
        EXPECT_EQ(o.str(), "{\"RuntimeType\":\"ASPNET\"}") << r.name;
        EXPECT_EQ(klaspnet_fake_calls_impl("http://h/m/z.mp3"), 0u) << r.name;
    }
}

TEST_F(Validate, ProbeRedirectRefused)
{
    root_with({file("a%20b.mp3")});
    redirect(k_file, 302, "ftp://h/a");
    ASSERT_EQ(validate(), 0);
    EXPECT_EQ(range(), "{\"verdict\":\"failed\",\"file\":\"a b.mp3\",\"http\":0,\"size\":-1,\"note\":\"GET "
                       "http://h/m/a%20b.mp3: redirect to a URL that is not http(s)\"}");
}

TEST_F(Validate, NoFileAndUnverified)
{
    root_with({dir("A/"), file("empty", "0")});
    ASSERT_EQ(validate(), 0);
    EXPECT_EQ(range(), "{\"verdict\":\"no-file\",\"http\":0,\"size\":-1,\"note\":\"the root lists no file to probe\"}");

    // A file without a listed size qualifies; through a plain transport it cannot be probed.
    root_with({{"nosize", "11-Dec-2021 23:59", ""}});
    ASSERT_EQ(validate(k_settings, plain_io()), 0);
    EXPECT_EQ(range(), "{\"verdict\":\"unverified\",\"file\":\"nosize\",\"http\":0,\"size\":-1,\"note\":"
                       "\"velkaron_io v1 carries no Range header\"}");
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/m/nosize"), 0u);
    EXPECT_NE(published().find("\"redirects\":-1,\"transport\":\"velkaron_io\""), std::string::npos);

    root_with({dir("A/")});
    ASSERT_EQ(validate(k_settings, plain_io()), 0);
    EXPECT_EQ(range(), "{\"verdict\":\"no-file\",\"http\":0,\"size\":-1,\"note\":\"the root lists no file to probe\"}");
}

TEST_F(Validate, UrlRewritten)
{
    struct {
        const char *name;
        const char *settings;
        const char *root;
        int status;
        const char *location;
        const char *final_url; // scripted listing URL
        bool rewritten;
    } rows[] = {
        {"https upgrade 301", "{\"URL\":\"http://h/m/\",\"ID\":\"i\"}", "http://h/m/", 301, "https://h/m/",
         "https://h/m/", true},
        {"https upgrade, other port", "{\"URL\":\"http://h:8080/m/\",\"ID\":\"i\"}", "http://h:8080/m/", 308,
         "https://h/m/", "https://h/m/", true},
        {"same origin 308", "{\"URL\":\"http://h/m/\",\"ID\":\"i\"}", "http://h/m/", 308, "/new/", "http://h/new/",
         true},
        {"302", "{\"URL\":\"http://h/m/\",\"ID\":\"i\"}", "http://h/m/", 302, "https://h/m/", "https://h/m/", false},
        {"307", "{\"URL\":\"http://h/m/\",\"ID\":\"i\"}", "http://h/m/", 307, "/new/", "http://h/new/", false},
        {"other host", "{\"URL\":\"http://h/m/\",\"ID\":\"i\"}", "http://h/m/", 301, "http://h2/m/", "http://h2/m/",
         false},
        {"other port", "{\"URL\":\"http://h/m/\",\"ID\":\"i\"}", "http://h/m/", 301, "http://h:81/m/", "http://h:81/m/",
         false},
        {"same folder", "{\"URL\":\"http://h/m/\",\"ID\":\"i\"}", "http://h/m/", 301, "index.html",
         "http://h/m/index.html", false},
        {"credentials", "{\"URL\":\"http://u:pw@h/m/\",\"ID\":\"i\"}", "http://h/m/", 301, "https://h/m/",
         "https://h/m/", false},
        {"empty user", "{\"URL\":\"http://@h/m/\",\"ID\":\"i\"}", "http://h/m/", 301, "https://h/m/", "https://h/m/",
         false},
    };
    for (auto &r : rows) {
        klaspnet_fake_reset_impl();
        redirect(r.root, r.status, r.location);
        set(r.final_url, 200, nullptr, nginx_page("", {dir("D/")}));
        ASSERT_EQ(validate(r.settings), 0) << r.name << ": " << o.str();
        std::string base = r.final_url;
        base = base.substr(0, base.rfind('/') + 1);
        if (r.rewritten) {
            EXPECT_EQ(o.str(), "{\"RuntimeType\":\"ASPNET\",\"URL\":\"" + base + "\"}") << r.name;
        } else {
            EXPECT_EQ(o.str(), "{\"RuntimeType\":\"ASPNET\"}") << r.name;
        }
        EXPECT_NE(published().find(std::string("\"url_rewritten\":") + (r.rewritten ? "true" : "false")),
                  std::string::npos)
            << r.name;
    }
    // A plain transport never sees the redirects: no finding.
    klaspnet_fake_reset_impl();
    redirect("http://h/m/", 301, "https://h/m/");
    set("https://h/m/", 200, nullptr, nginx_page("", {dir("D/")}));
    ASSERT_EQ(validate("{\"URL\":\"http://h/m/\",\"ID\":\"i\"}", plain_io()), 0);
    EXPECT_EQ(o.str(), "{\"RuntimeType\":\"ASPNET\"}");
    EXPECT_NE(published().find("\"url_rewritten\":false"), std::string::npos);
}

TEST_F(Validate, DateOrderOnlyWhenReadFromThePage)
{
    struct {
        const char *date;
        const char *settings;
        const char *proposed;
    } rows[] = {
        {"13/01/2024 12:00", "{\"URL\":\"http://h/m\",\"ID\":\"i\"}", ",\"DateOrder\":\"dmy\""},
        {"01/13/2024 12:00", "{\"URL\":\"http://h/m\",\"ID\":\"i\"}", ",\"DateOrder\":\"mdy\""},
        {"13.01.2024 12:00", "{\"URL\":\"http://h/m\",\"ID\":\"i\",\"DateOrder\":\"mdy\"}", ",\"DateOrder\":\"dmy\""},
        {"03/04/2024 12:00", "{\"URL\":\"http://h/m\",\"ID\":\"i\",\"DateOrder\":\"dmy\"}", ""},
        {"03/04/2024 12:00", "{\"URL\":\"http://h/m\",\"ID\":\"i\"}", ""},
        {"2024-03-04 12:00", "{\"URL\":\"http://h/m\",\"ID\":\"i\",\"DateOrder\":\"dmy\"}", ""},
        {"11-Dec-2021 23:59", "{\"URL\":\"http://h/m\",\"ID\":\"i\"}", ""},
    };
    for (auto &r : rows) {
        root_with({dir("D/", r.date)});
        ASSERT_EQ(validate(r.settings), 0) << r.date;
        EXPECT_EQ(o.str(), std::string("{\"RuntimeType\":\"ASPNET\"") + r.proposed + "}") << r.date;
    }
}

TEST_F(Validate, FreshIdWhenNone)
{
    root_with({dir("D/")});
    std::string ids[3];
    const char *settings[] = {"{\"URL\":\"http://h/m\"}", "{\"URL\":\"http://h/m\",\"ID\":\"\"}",
                              "{\"URL\":\"http://h/m\",\"ID\":7}"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(validate(settings[i]), 0);
        yyjson_doc *d = yyjson_read(o.b, std::strlen(o.b), 0);
        ASSERT_NE(d, nullptr);
        yyjson_val *root = yyjson_doc_get_root(d);
        ASSERT_EQ(yyjson_obj_size(root), 2u) << o.str();
        ids[i] = yyjson_get_str(yyjson_obj_get(root, "ID"));
        EXPECT_TRUE(is_guid(ids[i])) << ids[i];
        EXPECT_EQ(o.str(), "{\"RuntimeType\":\"ASPNET\",\"ID\":\"" + ids[i] + "\"}");
        yyjson_doc_free(d);
        // The report carries a deep copy of the proposed settings.
        EXPECT_NE(published().find(",\"settings\":" + o.str() + "}"), std::string::npos);
    }
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_NE(ids[1], ids[2]);
}

TEST_F(Validate, SettingsCopyWithEveryKey)
{
    redirect("http://h/m/", 301, "https://h/m/");
    set("https://h/m/", 200, nullptr, nginx_page("/m/", {dir("D/", "13/01/2024 12:00")}));
    ASSERT_EQ(validate("{\"URL\":\"http://h/m\"}"), 0);
    std::string out = o.str();
    const std::string head = "{\"RuntimeType\":\"ASPNET\",\"ID\":\"";
    const std::string tail = "\",\"URL\":\"https://h/m/\",\"DateOrder\":\"dmy\"}";
    ASSERT_EQ(out.size(), head.size() + 36 + tail.size()) << out;
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_TRUE(is_guid(out.substr(head.size(), 36))) << out;
    EXPECT_EQ(out.substr(head.size() + 36), tail);
    std::string p = published();
    EXPECT_EQ(p.substr(p.size() - out.size() - 13), ",\"settings\":" + out + "}");
}

TEST_F(Validate, BufferTooSmall)
{
    root_with({dir("D/")});
    ASSERT_EQ(validate(), 0);
    const std::string full_pub = published();
    EXPECT_EQ(validate(k_settings, fake_io(), 10), KLASPNET_E_BUFFER);
    EXPECT_EQ(o.b[0], '\0');
    EXPECT_EQ(o.b[1], '#');
    EXPECT_EQ(last_error(), "output buffer too small: 25 bytes needed");
    EXPECT_EQ(published(), full_pub);
    EXPECT_EQ(h_validate(fake_io(), k_settings, nullptr, 0), KLASPNET_E_BUFFER);
    EXPECT_EQ(published(), full_pub);
}

TEST_F(Validate, CredentialsNeverShowAndStayWithTheOrigin)
{
    const char *settings = "{\"URL\":\"http://alice:s3cret@h/m/\"}";
    root_with({file("a.mp3")});
    set("http://h/m/a.mp3", 206, "Content-Range: bytes 0-0/10", "x");
    ASSERT_EQ(validate(settings), 0);
    EXPECT_STREQ(klaspnet_fake_last_request_impl("http://h/m/a.mp3"),
                 "{\"calls\":1,\"range\":\"bytes=0-0\",\"auth\":true}");
    std::string all = o.str() + published();

    // The root moved to another server: the page fetch dropped the
    // credentials, and the probe of a file there does not send them either.
    klaspnet_fake_reset_impl();
    redirect("http://h/m/", 302, "http://mirror/m/");
    set("http://mirror/m/", 200, nullptr, nginx_page("/m/", {file("a.mp3")}));
    set("http://mirror/m/a.mp3", 206, "Content-Range: bytes 0-0/10", "x");
    ASSERT_EQ(validate(settings), 0);
    EXPECT_STREQ(klaspnet_fake_last_request_impl("http://mirror/m/"), "{\"calls\":1,\"range\":null,\"auth\":false}");
    EXPECT_STREQ(klaspnet_fake_last_request_impl("http://mirror/m/a.mp3"),
                 "{\"calls\":1,\"range\":\"bytes=0-0\",\"auth\":false}");
    all += o.str() + published();

    // https upgrade of the same host keeps them.
    klaspnet_fake_reset_impl();
    redirect("http://h/m/", 301, "https://h/m/");
    set("https://h/m/", 200, nullptr, nginx_page("/m/", {file("a.mp3")}));
    set("https://h/m/a.mp3", 206, "Content-Range: bytes 0-0/10", "x");
    ASSERT_EQ(validate(settings), 0);
    EXPECT_STREQ(klaspnet_fake_last_request_impl("https://h/m/a.mp3"),
                 "{\"calls\":1,\"range\":\"bytes=0-0\",\"auth\":true}");
    all += o.str() + published();

    ASSERT_EQ(klaspnet_fake_fail_impl("http://h/m/", "alice s3cret"), 0);
    EXPECT_EQ(validate(settings), -4);
    all += o.str() + published() + last_error();
    EXPECT_EQ(all.find("alice"), std::string::npos) << all;
    EXPECT_EQ(all.find("s3cret"), std::string::npos) << all;
}

} // namespace
