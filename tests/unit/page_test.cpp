// Page retrieval: status mapping, base URL, every failure of get_page with
// its exact message, the 16 MiB limit on both transport roads, and the page
// metadata written into results.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net_fixture.h"
#include "source/page.h"
#include "source/registry.h"

using namespace klaspnet::detail;

namespace {

using namespace netfix;

TEST(MapStatus, Table)
{
    struct {
        int status;
        int code;
    } rows[] = {{200, 0},  {204, 0},  {206, 0},  {299, 0},  {401, -1}, {403, -1}, {407, -1}, {404, -2}, {410, -2},
                {429, -3}, {408, -4}, {500, -4}, {503, -4}, {599, -4}, {700, -4}, {418, -5}, {400, -5}, {409, -5},
                {300, -5}, {301, -5}, {302, -5}, {304, -5}, {100, -5}, {199, -5}, {0, -5},   {-1, -5}};
    for (auto &r : rows) EXPECT_EQ(map_status(r.status), r.code) << "status " << r.status;
}

TEST(BaseUrl, CutsQueryFirstThenTakesTheFolder)
{
    struct {
        const char *final_url;
        const char *base; // null: unusable
    } rows[] = {
        {"http://h/d/", "http://h/d/"},
        {"http://h/d/index.html", "http://h/d/"},
        {"http://h/d/?sort=a/b", "http://h/d/"},
        {"http://h/d?sort=a/b", "http://h/"},
        {"http://h/d/#x/y", "http://h/d/"},
        {"http://h/d/x#/", "http://h/d/"},
        {"http://h2", "http://h2/"},
        {"http://h2?q=a/b", "http://h2/"},
        {"https://h:8443#f/", "https://h:8443/"},
        {"http://u@h/a/b", "http://u@h/a/"},
        {"http://", nullptr},
        {"http:///x/", nullptr},
        {"no-authority/x/", nullptr},
        {"", nullptr},
    };
    for (auto &r : rows) {
        char out[8193];
        int rc = klaspnet_base_url(r.final_url, out);
        if (r.base) {
            EXPECT_EQ(rc, 0) << r.final_url;
            EXPECT_STREQ(out, r.base) << r.final_url;
        } else {
            EXPECT_EQ(rc, -1) << r.final_url;
        }
    }
    char out[8193];
    EXPECT_EQ(klaspnet_base_url(nullptr, out), -1);
}

TEST(BaseUrl, LengthLimit)
{
    char out[8193];
    const std::string head = "http://h/";
    std::string exact = head + std::string(8192 - head.size() - 1, 'a') + "/"; // 8192 bytes
    EXPECT_EQ(klaspnet_base_url((exact + "file.mp3").c_str(), out), 0);
    EXPECT_EQ(exact, out);
    std::string over = head + std::string(8192 - head.size(), 'a') + "/"; // 8193 bytes
    EXPECT_EQ(klaspnet_base_url(over.c_str(), out), -1);
    // A bare authority gains its "/": 8191 bytes pass, 8192 do not.
    std::string host = "http://" + std::string(8191 - 7, 'h');
    EXPECT_EQ(klaspnet_base_url(host.c_str(), out), 0);
    EXPECT_EQ(host + "/", out);
    EXPECT_EQ(klaspnet_base_url((host + "h").c_str(), out), -1);
}

TEST(PctName, EncodesAllButUnreserved)
{
    klaspnet_buf b{};
    const char name1[] = "a b&c+%/\xC3\xA4~_-.Z9";
    ASSERT_EQ(klaspnet_buf_add_pct(&b, name1, sizeof name1 - 1), 0);
    EXPECT_STREQ(b.data, "a%20b%26c%2B%25%2F%C3%A4~_-.Z9");
    klaspnet_buf_free(&b);
    std::string name(1000, '\xff');
    ASSERT_EQ(klaspnet_buf_add_pct(&b, name.data(), name.size()), 0);
    std::string want;
    for (int i = 0; i < 1000; ++i) want += "%FF";
    EXPECT_EQ(want, b.data);
    klaspnet_buf_free(&b);
}

// get_page against the fake, both roads.
class GetPage : public net_test {
protected:
    klaspnet_page *page = static_cast<klaspnet_page *>(std::calloc(1, sizeof(klaspnet_page)));
    char msg[512];

    int fetch(const std::string &url, const velkaron_io *io = fake_io(), int32_t order = 0, const char *user = nullptr,
              const char *pass = nullptr)
    {
        klaspnet_resp_free(&page->resp);
        kldlp_free(&page->result);
        std::memset(msg, '#', sizeof msg);
        msg[sizeof msg - 1] = '\0';
        klaspnet_conn c{io, klaspnet_http_for(io), user, pass};
        return get_page(&c, url.c_str(), order, page, msg);
    }
    void TearDown() override
    {
        klaspnet_resp_free(&page->resp);
        kldlp_free(&page->result);
        std::free(page);
        net_test::TearDown();
    }
};

const std::string k_url = "http://h/m/";
const std::string k_listing = nginx_page("/m/", {file("a.mp3"), dir("Sub/")});

// The page text is released once parsed, on both roads: the listing must
// not point into it (under AddressSanitizer a name or title read from the
// released page would show here).
TEST_F(GetPage, ListingOutlivesThePageText)
{
    for (const velkaron_io *io : {fake_io(), plain_io()}) {
        set(k_url, 200, nullptr, k_listing);
        ASSERT_EQ(fetch(k_url, io), 0);
        EXPECT_EQ(page->resp.body, nullptr);
        ASSERT_EQ(page->result.count, 2u);
        EXPECT_STREQ(page->result.items[0].name, "a.mp3");
        EXPECT_STREQ(page->result.items[1].name, "Sub");
        EXPECT_STREQ(page->result.index_of, "/m/");
    }
}

TEST_F(GetPage, StatusFailures)
{
    struct {
        int status;
        int code;
        const char *suffix;
    } rows[] = {
        {401, -1, "HTTP 401"},
        {403, -1, "HTTP 403"},
        {407, -1, "HTTP 407"},
        {404, -2, "HTTP 404"},
        {410, -2, "HTTP 410"},
        {429, -3, "HTTP 429"},
        {408, -4, "HTTP 408"},
        {500, -4, "HTTP 500"},
        {503, -4, "HTTP 503"},
        {418, -5, "HTTP 418"},
        {300, -5, "HTTP 300 redirect was not followed"},
        {302, -5, "HTTP 302 redirect was not followed"},
        {304, -5, "HTTP 304 redirect was not followed"},
        {399, -5, "HTTP 399 redirect was not followed"},
    };
    for (const velkaron_io *io : {fake_io(), plain_io()}) {
        for (auto &r : rows) {
            // No Location header: the fetch (and the fake's own GET) return the 3xx as it is.
            set(k_url, r.status, nullptr, k_listing);
            EXPECT_EQ(fetch(k_url, io), r.code) << r.status;
            EXPECT_EQ(std::string(msg), "GET http://h/m/: " + std::string(r.suffix)) << r.status;
        }
    }
    // A 300 and a 304 with a Location are not followed by the fetch either.
    set(k_url, 304, "Location: /elsewhere/", k_listing);
    EXPECT_EQ(fetch(k_url), -5);
    EXPECT_STREQ(msg, "GET http://h/m/: HTTP 304 redirect was not followed");
}

TEST_F(GetPage, MessagesNameTheRedactedRequestUrl)
{
    set("http://h/m/?x=1", 404, nullptr, "");
    EXPECT_EQ(fetch("http://h/m/?x=1"), -2);
    EXPECT_STREQ(msg, "GET http://h/m/?<redacted>: HTTP 404");
    // After a redirect the message still names the URL that was requested.
    redirect(k_url, 301, "http://h/other/");
    set("http://h/other/", 503, nullptr, "");
    EXPECT_EQ(fetch(k_url), -4);
    EXPECT_STREQ(msg, "GET http://h/m/: HTTP 503");
}

TEST_F(GetPage, FetchFailures)
{
    ASSERT_EQ(klaspnet_fake_fail_impl(k_url.c_str(), "boom"), 0);
    EXPECT_EQ(fetch(k_url), -4);
    EXPECT_STREQ(msg, "GET http://h/m/: boom");
    EXPECT_EQ(fetch(k_url, plain_io()), -4);
    EXPECT_STREQ(msg, "GET http://h/m/: boom");

    EXPECT_EQ(fetch(k_url, nullptr), -4);
    EXPECT_STREQ(msg, "no transport installed");

    redirect("https://h/m/", 301, "http://h/m/");
    EXPECT_EQ(fetch("https://h/m/"), -5);
    EXPECT_STREQ(msg, "GET https://h/m/: redirect from https to http refused");

    redirect(k_url, 302, "ftp://h/m/");
    EXPECT_EQ(fetch(k_url), -5);
    EXPECT_STREQ(msg, "GET http://h/m/: redirect to a URL that is not http(s)");
}

TEST_F(GetPage, NotAListingAndRejectedListing)
{
    set(k_url, 200, nullptr, "<html><body><p>hello</p></body></html>");
    EXPECT_EQ(fetch(k_url), -5);
    EXPECT_STREQ(msg, "GET http://h/m/: HTTP 200 but the page is not a directory index (no ASP.NET, nginx "
                      "or Apache listing markup)");
    set(k_url, 203, nullptr, "");
    EXPECT_EQ(fetch(k_url, plain_io()), -5);
    EXPECT_STREQ(msg, "GET http://h/m/: HTTP 203 but the page is not a directory index (no ASP.NET, nginx "
                      "or Apache listing markup)");

    std::vector<row> rows;
    for (int i = 0; i < 100001; ++i) rows.push_back(file("f" + std::to_string(i)));
    set(k_url, 200, nullptr, nginx_page("/m/", rows));
    EXPECT_EQ(fetch(k_url), -5);
    EXPECT_STREQ(msg, "GET http://h/m/: listing rejected (more than 100000 entries)");
}

TEST_F(GetPage, SixteenMiBLimitOnBothRoads)
{
    std::string exact = k_listing;
    exact.append(16777216 - exact.size(), '\n');
    ASSERT_EQ(exact.size(), 16777216u);
    for (const velkaron_io *io : {fake_io(), plain_io()}) {
        set(k_url, 200, nullptr, exact);
        EXPECT_EQ(fetch(k_url, io), 0);
        EXPECT_EQ(page->result.count, 2u);
        set(k_url, 200, nullptr, exact + "\n");
        EXPECT_EQ(fetch(k_url, io), -5);
        EXPECT_STREQ(msg, "GET http://h/m/: the page is larger than 16 MiB");
    }
}

TEST_F(GetPage, BaseUrlFollowsTheServer)
{
    struct {
        const char *location; // redirect target of http://h/m/, as the server writes it
        const char *final_url;
        const char *base;
    } rows[] = {
        {"https://h/m/", "https://h/m/", "https://h/m/"},
        {"index.html", "http://h/m/index.html", "http://h/m/"},
        {"?sort=a/b", "http://h/m/?sort=a/b", "http://h/m/"},
        {"/m?sort=a/b", "http://h/m?sort=a/b", "http://h/"},
        {"http://h2", "http://h2", "http://h2/"},
    };
    for (auto &r : rows) {
        klaspnet_fake_reset_impl();
        redirect(k_url, 301, r.location);
        set(r.final_url, 200, nullptr, k_listing);
        ASSERT_EQ(fetch(k_url), 0) << r.location << ": " << msg;
        EXPECT_STREQ(page->resp.final_url, r.final_url);
        EXPECT_STREQ(page->base_url, r.base) << r.location;
    }
}

TEST_F(GetPage, FinalUrlUnusable)
{
    // A redirect to a bare host of 8192 bytes: its folder URL would need 8193.
    std::string host = "http://" + std::string(8192 - 7, 'h');
    redirect(k_url, 302, host);
    set(host, 200, nullptr, k_listing);
    EXPECT_EQ(fetch(k_url), -5);
    EXPECT_STREQ(msg, "GET http://h/m/: final URL unusable");
}

TEST_F(GetPage, DateOrderHintReachesTheParser)
{
    set(k_url, 200, nullptr, nginx_page("/m/", {file("a", "1", "03/04/2024 12:00")}));
    ASSERT_EQ(fetch(k_url, fake_io(), 2), 0);
    EXPECT_EQ(page->result.date_order, 2);
    EXPECT_EQ(page->result.date_hinted, 1);
    ASSERT_EQ(fetch(k_url, fake_io(), 0), 0);
    EXPECT_EQ(page->result.date_order, 4);
}

std::string meta(const klaspnet_page *p, int has_http)
{
    json_writer w;
    w.obj_begin();
    add_page_meta(w, p, has_http);
    w.obj_end();
    char *t = w.take(nullptr);
    std::string s = t;
    std::free(t);
    return s;
}

TEST_F(GetPage, MetadataKeysInOrder)
{
    set(k_url, 200, nullptr, k_listing);
    ASSERT_EQ(fetch(k_url), 0);
    EXPECT_EQ(meta(page, 1), "{\"dialect\":\"nginx\",\"variant\":\"pre\",\"date_order\":\"ymd\",\"date_hinted\":"
                             "false,\"final_url\":\"http://h/m/\",\"redirects\":0,\"transport\":\"velkaron_"
                             "http\",\"count\":2,\"rejected\":0,\"skipped\":1,\"index_of\":\"/m/\"}");
    // Plain road, no title, hinted day-first dates.
    set(k_url, 200, nullptr, nginx_page("", {file("a", "1", "03/04/2024 12:00")}));
    ASSERT_EQ(fetch(k_url, plain_io(), 3), 0);
    EXPECT_EQ(meta(page, 0), "{\"dialect\":\"nginx\",\"variant\":\"pre\",\"date_order\":\"mdy\",\"date_hinted\":"
                             "true,\"final_url\":\"http://h/m/\",\"redirects\":-1,\"transport\":\"velkaron_"
                             "io\",\"count\":1,\"rejected\":0,\"skipped\":1}");
}

TEST_F(GetPage, MetadataRedactsTheFinalUrl)
{
    redirect(k_url, 302, "http://h/m/?token=secret");
    set("http://h/m/?token=secret", 200, nullptr, k_listing);
    ASSERT_EQ(fetch(k_url, fake_io(), 0, "alice", "pw"), 0);
    std::string m = meta(page, 1);
    EXPECT_NE(m.find("\"final_url\":\"http://h/m/?<redacted>\",\"redirects\":1,"), std::string::npos) << m;
    EXPECT_EQ(m.find("secret"), std::string::npos);
}

} // namespace
