// The parse operation: codes and messages, the exact output text, limits as
// the host meets them, and the buffer convention with full publication.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "klaspnet/klaspnet.h"
#include "source/ops.h"

using namespace klaspnet::detail;

namespace {

const char k_url[] = "http://h/m/";

std::string run(const char *html, const char *url, int *rc, int32_t cap = 1 << 24)
{
    std::vector<char> dst(static_cast<size_t>(cap), '#');
    *rc = klaspnet_parse_page(html, url, dst.data(), cap);
    return std::string(dst.data());
}

// An nginx page of n distinct files, each with a date and a size.
std::string nginx_page(size_t n)
{
    std::string p = "<html><head><title>Index of /m/</title></head><body><h1>Index of /m/</h1><hr><pre>"
                    "<a href=\"../\">../</a>\r\n";
    p.reserve(n * 80 + 200);
    for (size_t i = 0; i < n; i++) {
        const std::string name = "f" + std::to_string(i) + ".mp3";
        p += "<a href=\"" + name + "\">" + name + "</a>" + std::string(50 - name.size(), ' ') + " 01-Jan-2024 12:00 " +
             "                 12\r\n";
    }
    return p + "</pre><hr></body>\r\n</html>\r\n";
}

std::string err(const char *message, int code)
{
    return std::string("{\"error\":\"") + message + "\",\"code\":" + std::to_string(code) + "}";
}

TEST(ParseOp, CodesAndMessages)
{
    const std::string listing = nginx_page(1);
    const std::string too_large(16777217, ' ');
    const std::string at_limit(16777216, ' ');
    struct row {
        const char *label;
        const char *html, *url;
        int code;
        const char *message;
    } rows[] = {
        {"html null", nullptr, k_url, KLASPNET_E_INVALID, "html and page_url are required"},
        {"url null", listing.c_str(), nullptr, KLASPNET_E_INVALID, "html and page_url are required"},
        {"relative url", listing.c_str(), "/m/", KLASPNET_E_INVALID, "page_url is not an absolute http(s) URL"},
        {"ftp url", listing.c_str(), "ftp://h/m/", KLASPNET_E_INVALID, "page_url is not an absolute http(s) URL"},
        {"empty authority", listing.c_str(), "http:///m/", KLASPNET_E_INVALID,
         "page_url is not an absolute http(s) URL"},
        {"no listing", "<html><body><p><a href=\"a\">a</a></p></body></html>", k_url, KLASPNET_E_FAILED,
         "not a directory index"},
        {"one byte over 16 MiB", too_large.c_str(), k_url, KLASPNET_E_FAILED, "page too large"},
        {"exactly 16 MiB passes the size check", at_limit.c_str(), k_url, KLASPNET_E_FAILED, "not a directory index"},
    };
    for (const row &r : rows) {
        int rc = 0;
        EXPECT_EQ(run(r.html, r.url, &rc), err(r.message, r.code)) << r.label;
        EXPECT_EQ(rc, r.code) << r.label;
        EXPECT_STREQ(klaspnet_last_error_impl(), r.message) << r.label;
        EXPECT_EQ(std::string(klaspnet_result_json_impl()), err(r.message, r.code)) << r.label;
    }
}

TEST(ParseOp, EntryLimit)
{
    int rc = 0;
    const std::string over = nginx_page(100001);
    EXPECT_EQ(run(over.c_str(), k_url, &rc), err("more than 100000 entries", KLASPNET_E_FAILED));
    EXPECT_EQ(rc, KLASPNET_E_FAILED);

    const std::string full = nginx_page(100000);
    const std::string out = run(full.c_str(), k_url, &rc);
    EXPECT_EQ(rc, KLASPNET_OK);
    const std::string head = "{\"op\":\"parse\",\"dialect\":\"nginx\",\"variant\":\"pre\",\"date_order\":\"ymd\","
                             "\"count\":100000,\"rejected\":0,\"skipped\":1,\"items\":[";
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_NE(out.find("{\"name\":\"f99999.mp3\",\"folder\":false,\"size\":12,\"mtime_ms\":1704110400000}]}"),
              std::string::npos);
}

TEST(ParseOp, ExactOutput)
{
    struct row {
        const char *label;
        std::string html;
        const char *json;
    } rows[] = {
        {"empty folder", "<h1>Index of /m/</h1><pre><a href=\"../\">../</a>\r\n</pre>",
         "{\"op\":\"parse\",\"dialect\":\"nginx\",\"variant\":\"pre\",\"date_order\":\"none\",\"count\":0,\"rejected\":"
         "0,"
         "\"skipped\":1,\"items\":[]}"},
        {"folder and file without dates",
         "<h1>Index of /m</h1><ul><li><a href=\"/\"> Parent Directory</a></li><li><a href=\"d/\"> d/</a></li><li><a "
         "href=\"%22q%22.mp3\"> \"q\".mp3</a></li><li><a href=\"%2E%2E/\"> ../</a></li></ul>",
         "{\"op\":\"parse\",\"dialect\":\"apache\",\"variant\":\"list\",\"date_order\":\"none\",\"count\":2,"
         "\"rejected\":1,"
         "\"skipped\":1,\"items\":[{\"name\":\"d\",\"folder\":true,\"size\":-1,\"mtime_ms\":-1},{\"name\":\"\\\"q\\\"."
         "mp3\","
         "\"folder\":false,\"size\":-1,\"mtime_ms\":-1}]}"},
        {"dates without an order",
         "<section id=\"main\"><table id=\"index\"><tr class=\"file\"><td class=\"name\"><a>a</a></td><td "
         "class=\"modified\">03/04/2024 10:00</td></tr></table></section>",
         "{\"op\":\"parse\",\"dialect\":\"aspnet\",\"variant\":\"table\",\"date_order\":\"ambiguous\",\"count\":1,"
         "\"rejected\":0,\"skipped\":0,\"items\":[{\"name\":\"a\",\"folder\":false,\"size\":-1,\"mtime_ms\":-1}]}"},
        {"day-first evidence",
         "<section id=\"main\"><table id=\"index\"><tr class=\"file\"><td class=\"name\"><a>a</a></td><td "
         "class=\"modified\">13/04/2024 10:00</td></tr></table></section>",
         "{\"op\":\"parse\",\"dialect\":\"aspnet\",\"variant\":\"table\",\"date_order\":\"dmy\",\"count\":1,"
         "\"rejected\":0,\"skipped\":0,\"items\":[{\"name\":\"a\",\"folder\":false,\"size\":-1,\"mtime_ms\":"
         "1713002400000}]}"},
        // A NUL byte ends the page: the second entry is never seen.
        {"nul ends the page",
         std::string("<h1>Index of /m/</h1><pre><a href=\"a\">a</a>\n") + '\0' + "<a href=\"b\">b</a>",
         "{\"op\":\"parse\",\"dialect\":\"nginx\",\"variant\":\"pre\",\"date_order\":\"none\",\"count\":1,\"rejected\":"
         "0,"
         "\"skipped\":0,\"items\":[{\"name\":\"a\",\"folder\":false,\"size\":-1,\"mtime_ms\":-1}]}"},
    };
    for (const row &r : rows) {
        int rc = -100;
        EXPECT_EQ(run(r.html.c_str(), k_url, &rc), r.json) << r.label;
        EXPECT_EQ(rc, KLASPNET_OK) << r.label;
        EXPECT_STREQ(klaspnet_last_error_impl(), "") << r.label;
        EXPECT_STREQ(klaspnet_result_json_impl(), r.json) << r.label;
    }
}

TEST(ParseOp, SmallBufferStillPublishes)
{
    const std::string page = nginx_page(3);
    int rc = 0;
    const std::string full = run(page.c_str(), k_url, &rc);
    ASSERT_EQ(rc, KLASPNET_OK);
    const std::string needed = "output buffer too small: " + std::to_string(full.size() + 1) + " bytes needed";

    // Exactly the text's length: no room for the NUL.
    std::vector<char> dst(full.size(), '#');
    EXPECT_EQ(klaspnet_parse_page(page.c_str(), k_url, dst.data(), static_cast<int32_t>(dst.size())),
              KLASPNET_E_BUFFER);
    EXPECT_EQ(dst[0], '\0');
    EXPECT_EQ(dst[1], '#');
    EXPECT_EQ(klaspnet_last_error_impl(), needed);
    EXPECT_EQ(klaspnet_result_json_impl(), full);

    // No buffer at all: the host learns the size from the last error.
    EXPECT_EQ(klaspnet_parse_page(page.c_str(), k_url, nullptr, 0), KLASPNET_E_BUFFER);
    EXPECT_EQ(klaspnet_last_error_impl(), needed);
    EXPECT_EQ(klaspnet_result_json_impl(), full);

    // One byte more fits.
    std::vector<char> fits(full.size() + 1, '#');
    EXPECT_EQ(klaspnet_parse_page(page.c_str(), k_url, fits.data(), static_cast<int32_t>(fits.size())), KLASPNET_OK);
    EXPECT_EQ(std::string(fits.data()), full);

    // A failure that does not fit keeps its own code.
    char small[10];
    memset(small, '#', sizeof small);
    EXPECT_EQ(klaspnet_parse_page(nullptr, k_url, small, sizeof small), KLASPNET_E_INVALID);
    EXPECT_EQ(small[0], '\0');
}

} // namespace
