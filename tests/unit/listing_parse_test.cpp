// Dialect detection, the Apache fall-back chain, the folder named by the
// title, failure cleanup, limits, and the extraction passes (pre, tables,
// plain list) on small pages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "listing/internal.h"
#include "listing_parsed.h"
#include "parse_ctx.h"

using namespace kldlp::detail;
using namespace listing_test;

namespace {

const std::string k_nginx_head = "<html><head><title>Index of /m/</title></head><body><h1>Index of /m/</h1><hr><pre>";

std::string nginx_line(const std::string &href, const std::string &rest = " 01-Jan-2024 12:00   5")
{
    return "<a href=\"" + href + "\">" + href + "</a>" + rest + "\r\n";
}

// ---------------------------------------------------------------- detection

TEST(ListingDetect, DecisionOrder)
{
    struct row {
        const char *label;
        std::string page;
        int rc;
        int32_t dialect, variant;
        uint64_t count;
    } rows[] = {
        {"aspnet without rows",
         "<section id=\"main\"><table id=\"index\"><thead><tr><th>Name</th></tr></thead></table></section>", 0,
         KLDLP_DIALECT_ASPNET, KLDLP_VARIANT_TABLE, 0},
        {"row class alone", "<table><tr class=\"file\"><td class=\"name\"><a href=\"./a\">a</a></td></tr></table>", 0,
         KLDLP_DIALECT_ASPNET, KLDLP_VARIANT_TABLE, 1},
        {"ids fold case", "<section id=\"MAIN\"><table id=\"Index\"></table></section>", 0, KLDLP_DIALECT_ASPNET,
         KLDLP_VARIANT_TABLE, 0},
        {"table index alone", "<table id=\"index\"><tr><td><a href=\"a\">a</a></td></tr></table>", KLDLP_E_NOT_LISTING,
         0, 0, 0},
        {"section main alone", "<section id=\"main\"><p><a href=\"a\">a</a></p></section>", KLDLP_E_NOT_LISTING, 0, 0,
         0},
        {"row class beats sort link",
         "<a href=\"?C=N;O=D\">n</a><table><tr class=\"directory\"><td class=\"name\"><a>d/</a></td></tr></table>", 0,
         KLDLP_DIALECT_ASPNET, KLDLP_VARIANT_TABLE, 1},
        {"sort link with a table",
         "<table><tr><th><a href=\"?C=N;O=D\">Name</a></th></tr><tr><td><a href=\"a\">a</a></td></tr></table>", 0,
         KLDLP_DIALECT_APACHE, KLDLP_VARIANT_TABLE, 1},
        {"sort link in a pre, no table first", "<pre><a href=\"?C=N;O=D\">Name</a><hr><a href=\"a\">a</a>\n</pre>", 0,
         KLDLP_DIALECT_APACHE, KLDLP_VARIANT_PRE, 1},
        {"sort link is case-sensitive",
         "<h1>Index of /m/</h1><pre><a href=\"?c=N;O=D\">n</a>\n<a href=\"a\">a</a>\n</pre>", 0, KLDLP_DIALECT_NGINX,
         KLDLP_VARIANT_PRE, 1},
        {"icon with a pre", "<pre><img alt=\"[DIR]\"> <a href=\"d/\">d/</a> 2024-01-01 12:00  - \n</pre>", 0,
         KLDLP_DIALECT_APACHE, KLDLP_VARIANT_PRE, 1},
        {"icon alt folds case", "<pre><img alt=\"[parentdir]\"> <a href=\"d/\">d/</a>\n</pre>", 0, KLDLP_DIALECT_APACHE,
         KLDLP_VARIANT_PRE, 1},
        {"icon text needs its trailing space", "<pre><img alt=\"Icon\"> <a href=\"d/\">d/</a>\n</pre>",
         KLDLP_E_NOT_LISTING, 0, 0, 0},
        {"icon without listing markup", "<img alt=\"[ICO]\"><p><a href=\"a\">a</a></p>", KLDLP_E_NOT_LISTING, 0, 0, 0},
        {"address with links in paragraphs",
         "<p><a href=\"a\">a</a></p><address>Apache/2.4.62 (Debian) Server at h Port 80</address>", KLDLP_E_NOT_LISTING,
         0, 0, 0},
        {"address with links in cells",
         "<table><tr><td><a href=\"a\">a</a></td></tr></table><address>apache/2.4</address>", 0, KLDLP_DIALECT_APACHE,
         KLDLP_VARIANT_TABLE, 1},
        {"address text split from its signature",
         "<table><tr><td><a href=\"a\">a</a></td></tr></table><address><b>Apache</b>"
         "</address>",
         0, KLDLP_DIALECT_APACHE, KLDLP_VARIANT_TABLE, 1},
        {"address shorter than Apache", "<table><tr><td><a href=\"a\">a</a></td></tr></table><address>Apach</address>",
         KLDLP_E_NOT_LISTING, 0, 0, 0},
        {"heading with a parent item",
         "<h1>Index of /m</h1><ul><li><a href=\"/\"> Parent Directory</a></li><li><a href=\"a\"> a</a></li></ul>", 0,
         KLDLP_DIALECT_APACHE, KLDLP_VARIANT_LIST, 1},
        {"heading with a pre", "<h1>Index of /m/</h1><hr><pre><a href=\"../\">../</a>\n<a href=\"a\">a</a>\n</pre>", 0,
         KLDLP_DIALECT_NGINX, KLDLP_VARIANT_PRE, 1},
        {"heading trimmed and folded", "<h1> \r\n iNDEX OF /m/</h1><pre><a href=\"a\">a</a>\n</pre>", 0,
         KLDLP_DIALECT_NGINX, KLDLP_VARIANT_PRE, 1},
        {"heading alone", "<h1>Index of /m/</h1><p><a href=\"a\">a</a></p>", KLDLP_E_NOT_LISTING, 0, 0, 0},
        {"pre alone", "<pre><a href=\"a\">a</a>\n</pre>", KLDLP_E_NOT_LISTING, 0, 0, 0},
        {"parent link outside a list item", "<h1>Index of /m</h1><p><a href=\"/\">Parent Directory</a></p>",
         KLDLP_E_NOT_LISTING, 0, 0, 0},
        {"markers inside a script", "<script><h1>Index of /m/</h1><pre></script><a href=\"a\">a</a>",
         KLDLP_E_NOT_LISTING, 0, 0, 0},
        {"markers inside a comment", "<!-- <tr class=\"file\"> --><p><a href=\"a\">a</a></p>", KLDLP_E_NOT_LISTING, 0,
         0, 0},
    };
    for (const row &r : rows) {
        parsed p(r.page);
        EXPECT_EQ(p.rc, r.rc) << r.label;
        EXPECT_EQ(p.r.dialect, r.dialect) << r.label;
        EXPECT_EQ(p.r.variant, r.variant) << r.label;
        EXPECT_EQ(p.r.count, r.count) << r.label;
        if (r.rc != 0) {
            EXPECT_TRUE(zeroed(p.r)) << r.label;
        }
    }
}

TEST(ListingDetect, ApacheFallBackChain)
{
    struct row {
        const char *label;
        std::string page;
        int rc;
        int32_t dialect, variant;
        std::string names;
    } rows[] = {
        {"table without links, then pre",
         "<a href=\"?C=N;O=D\">n</a><table><tr><td>x</td></tr></table><pre><a href=\"b\">b</a>\n</pre>", 0,
         KLDLP_DIALECT_APACHE, KLDLP_VARIANT_PRE, "b"},
        {"table without a name header, then list",
         "<a href=\"?C=N;O=D\">n</a><table><tr><th>Nom</th></tr></table><ul><li><a href=\"a\"> a</a></li></ul>", 0,
         KLDLP_DIALECT_APACHE, KLDLP_VARIANT_LIST, "a"},
        {"pre wins over list", "<img alt=\"[ICO]\"><pre></pre><ul><li><a href=\"a\"> a</a></li></ul>", 0,
         KLDLP_DIALECT_APACHE, KLDLP_VARIANT_PRE, ""},
        {"nothing usable drops the dialect", "<a href=\"?C=N;O=D\">n</a><p><a href=\"a\">a</a></p>",
         KLDLP_E_NOT_LISTING, 0, 0, ""},
        {"a header naming the column is a table even without rows",
         "<table><tr><th>Name</th><th>Size</th></tr></table><pre><a href=\"b\">b</a>\n</pre><address>Apache</address>",
         0, KLDLP_DIALECT_APACHE, KLDLP_VARIANT_PRE, "b"},
    };
    // The fifth page has no link in a cell, so the table pass is not run and
    // the pre decides; with a link in a cell the header alone recognises it.
    for (const row &r : rows) {
        parsed p(r.page);
        EXPECT_EQ(p.rc, r.rc) << r.label;
        EXPECT_EQ(p.r.dialect, r.dialect) << r.label;
        EXPECT_EQ(p.r.variant, r.variant) << r.label;
        EXPECT_EQ(p.names(), r.names) << r.label;
    }
    parsed t("<table><tr><th>Name</th></tr><tr><td>no link</td><td><a href=\"x\">x</a></td></tr></table>"
             "<pre><a href=\"b\">b</a>\n</pre><address>Apache</address>");
    EXPECT_EQ(t.rc, 0);
    EXPECT_EQ(t.r.variant, KLDLP_VARIANT_TABLE);
    EXPECT_EQ(t.names(), "x");
}

TEST(ListingDetect, IndexOfFromTheTitle)
{
    const std::string body = "<h1>Index of /m/</h1><pre></pre>";
    struct row {
        std::string head;
        const char *index_of; // null: none
    } rows[] = {
        {"<title>Index of /a&amp;b/</title>", "/a&b/"},
        {"<title>Index of /x&#0;/</title>", nullptr},
        {"<title>Index of /x&#xD800;/</title>", nullptr},
        {"<title> \r\n index OF /x/ \u00a0</title>", "/x/"},
        {"", nullptr}, // only the h1 says Index of: never used
        {"<title>Listing of /x/</title>", nullptr},
        {"<title>Index of /one/</title><title>Index of /two/</title>", "/one/"},
        {"<title>Index of <b>/x/</b></title>", "/x/"},
        {"<title>Index of </title>", nullptr},
        {"<title>Index of /\xC3\xA9t\xC3\xA9/</title>", "/\xC3\xA9t\xC3\xA9/"},
    };
    for (const row &r : rows) {
        parsed p("<html><head>" + r.head + "</head><body>" + body);
        ASSERT_EQ(p.rc, 0) << r.head;
        EXPECT_TRUE(index_of_is(p.r, r.index_of)) << r.head;
    }
}

TEST(ListingDetect, AspnetTitleWherever)
{
    // The title is taken whether it comes before or after the rows, and a
    // later title never replaces the first.
    const std::string rows = "<section id=\"main\"><table id=\"index\"><tr class=\"file\"><td class=\"name\"><a>a</a>"
                             "</td></tr></table></section>";
    parsed before("<title>Index of /m/</title>" + rows + "<title>Index of /late/</title>");
    EXPECT_STREQ(before.r.index_of, "/m/");
    parsed after(rows + "<title>Index of /m/</title>");
    EXPECT_STREQ(after.r.index_of, "/m/");
    EXPECT_EQ(after.names(), "a");
}

TEST(ListingDetect, TitleIsCapped)
{
    parsed p("<title>Index of /" + std::string(70000, 'a') + "</title>" + "<h1>Index of /m/</h1><pre></pre>");
    ASSERT_EQ(p.rc, 0);
    ASSERT_NE(p.r.index_of, nullptr);
    EXPECT_EQ(strlen(p.r.index_of), 65536u - 9u);
}

TEST(ListingDetect, PageUrlMustBeAbsoluteHttp)
{
    const std::string page = k_nginx_head + "</pre>";
    struct row {
        const char *url;
        int rc;
    } rows[] = {
        {"http://h/m/", 0},        {"HTTPS://h", 0},
        {"https://h:8443/m/", 0},  {"ftp://h/m/", KLDLP_E_ARG},
        {"/m/", KLDLP_E_ARG},      {"http:///m/", KLDLP_E_ARG},
        {"http:/m/", KLDLP_E_ARG}, {"httpx://h/", KLDLP_E_ARG},
        {"", KLDLP_E_ARG},
    };
    for (const row &r : rows) {
        parsed p(page, r.url);
        EXPECT_EQ(p.rc, r.rc) << r.url;
        if (r.rc) {
            EXPECT_TRUE(zeroed(p.r)) << r.url;
        }
    }
}

TEST(ListingDetect, NullArguments)
{
    EXPECT_EQ(kldlp_parse("x", 1, "http://h/", nullptr, nullptr), KLDLP_E_ARG);
    kldlp_result r;
    memset(&r, 0x5A, sizeof r);
    EXPECT_EQ(kldlp_parse(nullptr, 0, "http://h/", nullptr, &r), KLDLP_E_ARG);
    EXPECT_TRUE(zeroed(r));
    memset(&r, 0x5A, sizeof r);
    EXPECT_EQ(kldlp_parse("x", 1, nullptr, nullptr, &r), KLDLP_E_ARG);
    EXPECT_TRUE(zeroed(r));
    kldlp_free(&r);
}

TEST(ListingDetect, PageSizeLimit)
{
    kldlp_opts small{10, 0, 0, 0, 0};
    EXPECT_EQ(parsed(std::string(11, ' '), "http://h/", &small).rc, KLDLP_E_TOO_LARGE);
    EXPECT_EQ(parsed(std::string(10, ' '), "http://h/", &small).rc, KLDLP_E_NOT_LISTING);

    const std::string big(16777217, ' ');
    kldlp_opts zeros{};
    kldlp_result r;
    EXPECT_EQ(kldlp_parse(big.data(), big.size(), "http://h/", nullptr, &r), KLDLP_E_TOO_LARGE);
    EXPECT_TRUE(zeroed(r));
    EXPECT_EQ(kldlp_parse(big.data(), big.size(), "http://h/", &zeros, &r), KLDLP_E_TOO_LARGE);
    EXPECT_EQ(kldlp_parse(big.data(), big.size() - 1, "http://h/", &zeros, &r), KLDLP_E_NOT_LISTING);
    kldlp_free(&r);
}

// ---------------------------------------------------------------- failure cleanup

TEST(ListingFailure, KeepsOnlyTheDialect)
{
    kldlp_opts three{0, 3, 0, 0, 0};
    struct row {
        const char *label;
        std::string page;
        int32_t dialect;
    } rows[] = {
        {"nginx",
         "<title>Index of /m/</title>" + k_nginx_head + nginx_line("a") + nginx_line("b") + nginx_line("c") +
             nginx_line("d") + "</pre>",
         KLDLP_DIALECT_NGINX},
        {"aspnet",
         "<tr class=\"file\"><td class=\"name\"><a>a</a></td></tr><tr class=\"file\"><td class=\"name\"><a>b</a>"
         "</td></tr><tr class=\"file\"><td class=\"name\"><a>c</a></td></tr><tr class=\"file\"><td class=\"name\">"
         "<a>d</a></td></tr>",
         KLDLP_DIALECT_ASPNET},
        {"apache table",
         "<table><tr><td><a href=\"a\">a</a></td></tr><tr><td><a href=\"b\">b</a></td></tr><tr><td><a "
         "href=\"c\">c</a></td></tr><tr><td><a href=\"d\">d</a></td></tr></table><address>Apache</address>",
         KLDLP_DIALECT_APACHE},
        {"apache list",
         "<h1>Index of /m</h1><ul><li><a href=\"/\">Parent Directory</a></li><li><a href=\"a\">a</a></li>"
         "<li><a href=\"b\">b</a></li><li><a href=\"c\">c</a></li><li><a href=\"d\">d</a></li></ul>",
         KLDLP_DIALECT_APACHE},
    };
    for (const row &r : rows) {
        parsed p(r.page, "http://h/m/", &three);
        EXPECT_EQ(p.rc, KLDLP_E_TOO_MANY) << r.label;
        EXPECT_EQ(p.r.dialect, r.dialect) << r.label;
        kldlp_result rest = p.r;
        rest.dialect = 0;
        EXPECT_TRUE(zeroed(rest)) << r.label;
    }
}

TEST(ListingFailure, RepeatedNameIsNoExtraEntry)
{
    kldlp_opts three{0, 3, 0, 0, 0};
    parsed p(k_nginx_head + nginx_line("a") + nginx_line("b") + nginx_line("a") + nginx_line("c") + "</pre>",
             "http://h/m/", &three);
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.names(), "a|b|c");
    EXPECT_EQ(p.r.rejected, 1u);
}

// ---------------------------------------------------------------- link length limit

TEST(ListingLimits, HrefLengthInEveryPass)
{
    kldlp_opts lim{0, 0, 8, 0, 0};
    const std::string ok = "a2345678", over = "b23456789";
    struct row {
        const char *label;
        std::string page;
    } rows[] = {
        {"nginx pre", k_nginx_head + nginx_line(ok) + nginx_line(over) + "</pre>"},
        {"apache pre", "<pre><img alt=\"[ICO]\"> <a href=\"" + ok + "\">x</a>\n<a href=\"" + over + "\">y</a>\n</pre>"},
        {"apache table", "<table><tr><td><a href=\"" + ok + "\">x</a></td></tr><tr><td><a href=\"" + over +
                             "\">y</a></td></tr></table><address>Apache</address>"},
        {"apache list", "<h1>Index of /m</h1><ul><li><a href=\"/\">Parent Directory</a></li><li><a href=\"" + ok +
                            "\">x</a></li><li><a href=\"" + over + "\">y</a></li></ul>"},
    };
    for (const row &r : rows) {
        parsed p(r.page, "http://h/m/", &lim);
        ASSERT_EQ(p.rc, 0) << r.label;
        EXPECT_EQ(p.names(), ok) << r.label;
        EXPECT_EQ(p.r.rejected, 1u) << r.label;
    }
    // Far beyond the limit is one rejection as well.
    parsed far(k_nginx_head + nginx_line(std::string(100000, 'z')) + "</pre>", "http://h/m/", &lim);
    EXPECT_EQ(far.r.rejected, 1u);
    EXPECT_EQ(far.r.count, 0u);
}

// ---------------------------------------------------------------- preformatted

// parse_pre on its own, for the behaviour kldlp_parse never reaches (a sort
// link on an nginx page makes the page Apache before the pass runs).
struct pre_run {
    kldlp_limits lim{16777216, 100000, 8192, 1024, 0};
    kldlp_result res{};
    kldlp_ctx c{};
    int pre_seen = -1;
    int rc;
    pre_run(const std::string &page, int nginx)
    {
        c.lim = &lim;
        c.page_url = "http://h/m/";
        c.res = &res;
        rc = parse_pre(&c, page.data(), page.size(), nginx, &pre_seen);
    }
    ~pre_run()
    {
        ctx_release(&c);
        kldlp_free(&res);
    }
    std::string date(uint64_t i) const { return date_at(c, i); }
};

TEST(ListingPre, NginxModeTreatsSortLinksAsLinks)
{
    pre_run p("<pre><a href=\"?C=N;O=D\">n</a> 01-Jan-2024 12:00 5\n<a href=\"a\">a</a> 01-Jan-2024 12:00 7\n</pre>",
              1);
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.pre_seen, 1);
    EXPECT_EQ(p.res.skipped, 1u);
    ASSERT_EQ(p.res.count, 1u);
    EXPECT_EQ(p.res.items[0].size, 7);
    EXPECT_EQ(p.date(0), "01-Jan-2024 12:00");
}

TEST(ListingPre, LineEndsAndColumns)
{
    struct row {
        const char *label;
        std::string line; // one entry line inside the pre, link to "a"
        int nginx;
        const char *date;
        int64_t size;
    } rows[] = {
        {"nginx columns", "<a href=\"a\">a</a>      01-Jan-2024 12:00          1234\r\n", 1, "01-Jan-2024 12:00", 1234},
        {"text on the next line", "<a href=\"a\">a</a>\n 01-Jan-2024 12:00 5\n", 1, "(none)", -1},
        {"br ends the line", "<a href=\"a\">a</a> 01-Jan-2024 12:00<br> 5\n", 1, "01-Jan-2024 12:00", -1},
        {"only spaces", "<a href=\"a\">a</a>      \r\n", 1, "", -1},
        {"date alone", "<a href=\"a\">a</a> 01-Jan-2024\n", 1, "01-Jan-2024", -1},
        {"text inside the link is no column", "<a href=\"a\">a 01-Jan-2024 12:00 5</a>\n", 1, "(none)", -1},
        {"tags inside the line", "<a href=\"a\">a</a> 01-Jan-2024 <b>12:00</b> 9\n", 1, "01-Jan-2024 12:00", 9},
        {"apache layout from sort links",
         "<a href=\"?C=N;O=A\">N</a><a href=\"?C=M;O=A\">M</a><a href=\"?C=S;O=A\">S</a><a href=\"?C=D;O=A\">D</a>\n"
         "<a href=\"a\">a</a>  2024-01-01 12:00  345   desc words\n",
         0, "2024-01-01 12:00", 345},
        {"apache size before date",
         "<a href=\"?C=S;O=A\">S</a><a href=\"?C=M;O=A\">M</a>\n<a href=\"a\">a</a>  345  2024-01-01 12:00\n", 0,
         "2024-01-01 12:00", 345},
        {"apache description first ends the walk",
         "<a href=\"?C=D;O=A\">D</a><a href=\"?C=M;O=A\">M</a>\n<a href=\"a\">a</a>  2024-01-01 12:00\n", 0, "(none)",
         -1},
        {"apache without sort links", "<a href=\"a\">a</a>  2024-01-01 12:00  345\n", 0, "(none)", -1},
    };
    for (const row &r : rows) {
        pre_run p("<pre>" + r.line + "</pre>", r.nginx);
        ASSERT_EQ(p.rc, 0) << r.label;
        ASSERT_EQ(p.res.count, 1u) << r.label;
        EXPECT_EQ(p.date(0), r.date) << r.label;
        EXPECT_EQ(p.res.items[0].size, r.size) << r.label;
    }
}

TEST(ListingPre, LinksAndPreBoundaries)
{
    // Two links on one line: the first gets no trailing text.
    pre_run two("<pre><a href=\"a\">a</a><a href=\"b\">b</a> 01-Jan-2024 12:00 5\n</pre>", 1);
    ASSERT_EQ(two.res.count, 2u);
    EXPECT_EQ(two.date(0), "(none)");
    EXPECT_EQ(two.date(1), "01-Jan-2024 12:00");

    // Links outside the pre are ignored; the end of the pre closes a line.
    pre_run outside("<a href=\"x\">x</a> 1\n<pre><a href=\"a\">a</a> 01-Jan-2024 12:00 5</pre> 7\n<a href=\"y\">y</a>",
                    1);
    ASSERT_EQ(outside.res.count, 1u);
    EXPECT_STREQ(outside.res.items[0].name, "a");
    EXPECT_EQ(outside.res.items[0].size, 5);

    // The end of the page emits the pending link.
    pre_run eof("<pre><a href=\"a\">a</a> 01-Jan-2024 12:00 5", 1);
    ASSERT_EQ(eof.res.count, 1u);
    EXPECT_EQ(eof.res.items[0].size, 5);

    // No pre at all.
    pre_run none("<a href=\"a\">a</a>", 0);
    EXPECT_EQ(none.pre_seen, 0);
    EXPECT_EQ(none.res.count, 0u);

    // In Apache mode "?C=" alone is no sort link: it becomes pending and is
    // skipped (it carries a query).
    pre_run bare("<pre><a href=\"?C=\">x</a>\n</pre>", 0);
    EXPECT_EQ(bare.res.skipped, 1u);
}

TEST(ListingPre, TrailingTextIsCapped)
{
    // A line of 10000 bytes keeps at most 4096 bytes: the size after the cut
    // is lost, the date before it is read.
    pre_run p("<pre><a href=\"a\">a</a> 01-Jan-2024 12:00" + std::string(10000, ' ') + "5\n</pre>", 1);
    ASSERT_EQ(p.res.count, 1u);
    EXPECT_EQ(p.date(0), "01-Jan-2024 12:00");
    EXPECT_EQ(p.res.items[0].size, -1);
}

// ---------------------------------------------------------------- ASP.NET table

std::string asp_row(const char *cls, const std::string &name_cell, const std::string &length = "",
                    const std::string &modified = "")
{
    return std::string("<tr class=\"") + cls + "\"><td class=\"name\">" + name_cell + "</td><td class=\"length\">" +
           length + "</td><td class=\"modified\">" + modified + "</td></tr>";
}

std::string asp_page(const std::string &rows)
{
    return "<section id=\"main\"><table id=\"index\"><tbody>" + rows + "</tbody></table></section>";
}

TEST(ListingAspnet, Rows)
{
    struct row {
        const char *label;
        std::string rows;
        std::string names;
        uint64_t rejected;
    } rows[] = {
        {"folder drops one slash", asp_row("directory", "<a href=\"./x/\">x/</a>"), "x/", 0},
        {"folder with two slashes", asp_row("directory", "<a href=\"./x//\">x//</a>"), "", 1},
        {"file keeps its slash and is refused", asp_row("file", "<a href=\"./x/\">x/</a>"), "", 1},
        {"both classes make a file", asp_row("file directory", "<a>x</a>"), "x", 0},
        {"name is the link text, not the href", asp_row("file", "<a href=\"./other\">it&#x27;s</a>"), "it's", 0},
        {"text outside the link is ignored", asp_row("file", " pre <a>x</a> post "), "x", 0},
        {"no link text", asp_row("file", "<a href=\"./x\"></a>"), "", 1},
        {"replaced reference", asp_row("file", "<a>x&#xDC00;</a>"), "", 1},
        {"row without class is no row", "<tr><td class=\"name\"><a>x</a></td></tr>", "", 0},
        {"row ended by the next row",
         "<tr class=\"file\"><td class=\"name\"><a>x</a><tr class=\"file\"><td class=\"name\"><a>y</a>", "x|y", 0},
        {"row ended by tbody", "<tr class=\"file\"><td class=\"name\"><a>x</a></tbody><td class=\"name\"><a>y</a>", "x",
         0},
        {"name cell class folds case", "<tr class=\"FILE\"><td class=\"Name\"><a>x</a></td></tr>", "x", 0},
        {"class tokens are whole words", "<tr class=\"files\"><td class=\"name\"><a>x</a></td></tr>", "", 0},
        {"classes among others", "<tr class=\"odd  directory\"><td class=\"x\tname\"><a>d/</a></td></tr>", "d/", 0},
        {"name outranks length", "<tr class=\"file\"><td class=\"length name\"><a>x</a></td></tr>", "x", 0},
    };
    for (const row &r : rows) {
        parsed p(asp_page(r.rows));
        ASSERT_EQ(p.rc, 0) << r.label;
        EXPECT_EQ(p.names(), r.names) << r.label;
        EXPECT_EQ(p.r.rejected, r.rejected) << r.label;
        EXPECT_EQ(p.r.skipped, 0u) << r.label;
    }
}

TEST(ListingAspnet, SizesAndDates)
{
    parsed p(asp_page(asp_row("file", "<a>a</a>", "1,234", "2019-06-10 14:09:05 &#x2B;00:00") +
                      asp_row("directory", "<a>d/</a>", "99", "") + asp_row("file", "<a>b</a>", "1.2 KB", "") +
                      asp_row("file", "<a>c</a>", "&nbsp;42&nbsp;", "   ")));
    ASSERT_EQ(p.rc, 0);
    ASSERT_EQ(p.r.count, 4u);
    EXPECT_EQ(p.at(0).size, 1234);
    EXPECT_EQ(p.at(0).mtime_ms, 1560175745000);
    EXPECT_EQ(p.at(1).size, -1); // a folder has no size, whatever its cell says
    EXPECT_EQ(p.at(2).size, -1);
    EXPECT_EQ(p.at(2).mtime_ms, -1);
    EXPECT_EQ(p.at(3).size, 42);
    EXPECT_EQ(p.at(3).mtime_ms, -1);
    EXPECT_EQ(p.r.date_order, KLDLP_ORDER_YMD);
}

TEST(ListingAspnet, NameTextCap)
{
    // max_name 10: the link text may hold 10 * 10 + 16 = 116 bytes. Both
    // texts below decode to ten "A"; the longer one is cut and refused.
    kldlp_opts lim{0, 0, 0, 10, 0};
    const std::string ref12 = "&#x00000041;", ref10 = "&#x000041;", ref11 = "&#x0000041;";
    std::string at_cap, over_cap;
    for (int i = 0; i < 8; i++) at_cap += ref12;
    over_cap = at_cap + ref10 + ref11;
    at_cap += ref10 + ref10;
    ASSERT_EQ(at_cap.size(), 116u);
    ASSERT_EQ(over_cap.size(), 117u);
    parsed ok(asp_page(asp_row("file", "<a>" + at_cap + "</a>")), "http://h/m/", &lim);
    EXPECT_EQ(ok.names(), "AAAAAAAAAA");
    parsed cut(asp_page(asp_row("file", "<a>" + over_cap + "</a>")), "http://h/m/", &lim);
    EXPECT_EQ(cut.r.count, 0u);
    EXPECT_EQ(cut.r.rejected, 1u);
    // Split over several text runs, the cap counts all of them.
    parsed runs_ok(asp_page(asp_row("file", "<a>" + at_cap.substr(0, 96) + "<b></b>" + at_cap.substr(96) + "</a>")),
                   "http://h/m/", &lim);
    EXPECT_EQ(runs_ok.names(), "AAAAAAAAAA");
    parsed runs_cut(
        asp_page(asp_row("file", "<a>" + over_cap.substr(0, 96) + "<b></b>" + over_cap.substr(96) + "</a>")),
        "http://h/m/", &lim);
    EXPECT_EQ(runs_cut.r.count, 0u);
    EXPECT_EQ(runs_cut.r.rejected, 1u);
}

// ---------------------------------------------------------------- generic table

const std::string k_addr = "<address>Apache/2.4</address>";

TEST(ListingTable, Columns)
{
    const std::string sort_header =
        "<tr><th><img alt=\"[ICO]\"></th><th><a href=\"?C=N;O=D\">Name</a></th><th><a "
        "href=\"?C=M;O=A\">Last modified</a></th><th><a href=\"?C=S;O=A\">Size</a></th></tr>";
    const std::string text_header = "<tr><th></th><th> name </th><th>LAST MODIFIED</th><th>Size</th></tr>";
    const std::string row = "<tr><td>icon</td><td><a href=\"a\">a</a></td><td>2024-01-01 12:00</td><td>345</td></tr>";
    struct row_t {
        const char *label;
        std::string table;
        const char *date;
        int64_t size;
    } rows[] = {
        {"sort links", sort_header + row, "2024-01-01 12:00", 345},
        {"header texts", text_header + row, "2024-01-01 12:00", 345},
        {"sort links in another order",
         "<tr><th><a href=\"?C=S;O=A\">Size</a></th><th><a href=\"?C=N;O=A\">Name</a></th><th><a "
         "href=\"?C=M;O=A\">M</a>"
         "</th></tr><tr><td>345</td><td><a href=\"a\">a</a></td><td>2024-01-01 12:00</td></tr>",
         "2024-01-01 12:00", 345},
        {"no header: positional", "<tr><td><a href=\"a\">a</a></td><td>2024-01-01 12:00</td><td>345</td></tr>",
         "2024-01-01 12:00", 345},
        {"no header, link in the last cell", "<tr><td>345</td><td><a href=\"a\">a</a></td></tr>", nullptr, -1},
        {"link outside the name column",
         sort_header + "<tr><td><a href=\"a\">a</a></td><td>x</td><td>2024-01-01 12:00</td>"
                       "<td>345</td></tr>",
         nullptr, -1},
        {"header without a name column is positional",
         "<tr><th>Last modified</th></tr><tr><td><a href=\"a\">a</a></td><td>2024-01-01 12:00</td><td>345</td></tr>",
         "2024-01-01 12:00", 345},
        {"only the first link of a row",
         "<tr><td><a href=\"a\">a</a></td><td><a href=\"b\">2024-01-01 12:00</a></td><td>345</td></tr>",
         "2024-01-01 12:00", 345},
        {"known date column beyond the row", sort_header + "<tr><td>i</td><td><a href=\"a\">a</a></td></tr>", nullptr,
         -1},
    };
    for (const row_t &r : rows) {
        parsed p("<table>" + r.table + "</table>" + k_addr);
        ASSERT_EQ(p.rc, 0) << r.label;
        EXPECT_EQ(p.r.variant, KLDLP_VARIANT_TABLE) << r.label;
        ASSERT_EQ(p.names(), "a") << r.label;
        EXPECT_EQ(p.at(0).size, r.size) << r.label;
        EXPECT_EQ(p.at(0).mtime_ms, r.date ? 1704110400000 : -1) << r.label;
    }
}

TEST(ListingTable, SixteenCells)
{
    std::string fifteen;
    for (int i = 0; i < 15; i++) fifteen += "<td>c</td>";
    const std::string page = "<table><tr>" + fifteen +
                             "<td><a href=\"p\">p</a></td><td>2024-01-01 12:00</td></tr><tr>" + fifteen +
                             "<td>c</td><td><a href=\"q\">q</a></td></tr><tr><td><a href=\"r\">r</a></td>" +
                             "<td>2024-01-01 12:00</td><td>1</td>" + fifteen + "</tr></table>" + k_addr;
    parsed p(page);
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.names(), "p|r");     // q sits in the 17th cell
    EXPECT_EQ(p.at(0).mtime_ms, -1); // its date is in the 17th cell
    EXPECT_EQ(p.at(1).size, 1);
}

TEST(ListingTable, RowsWithoutLinks)
{
    // Rows without links yield nothing and do not recognise the table; the
    // parent link of a real table is counted as skipped.
    parsed none("<table><tr><td>a</td><td>b</td></tr></table><pre><a href=\"z\">z</a>\n</pre>" + k_addr);
    EXPECT_EQ(none.r.variant, KLDLP_VARIANT_PRE);
    parsed parent("<table><tr><td><a href=\"/\">Parent Directory</a></td></tr></table>" + k_addr);
    EXPECT_EQ(parent.r.variant, KLDLP_VARIANT_TABLE);
    EXPECT_EQ(parent.r.skipped, 1u);
    EXPECT_EQ(parent.r.count, 0u);
}

TEST(ListingTable, CellTextIsCapped)
{
    // A date cell of 5000 bytes keeps its first 4096: the date stays
    // readable only when it comes first.
    parsed p("<table><tr><td><a href=\"a\">a</a></td><td>2024-01-01 12:00" + std::string(5000, ' ') +
             "</td><td>1</td></tr><tr><td><a href=\"b\">b</a></td><td>" + std::string(5000, ' ') +
             "2024-01-01 12:00</td></tr></table>" + k_addr);
    ASSERT_EQ(p.r.count, 2u);
    EXPECT_EQ(p.at(0).mtime_ms, 1704110400000);
    EXPECT_EQ(p.at(1).mtime_ms, -1);
}

// ---------------------------------------------------------------- plain list

TEST(ListingList, FirstLinkOfEachItem)
{
    parsed p(
        "<h1>Index of /m</h1><ul><li><a href=\"/\"> Parent Directory</a></li><li><a href=\"a\"> a</a> <a href=\"b\">"
        "b</a></li><li><a name=\"x\">anchor</a><a href=\"c\">c</a></li><li><a href=\"d/\"> d/</a></ul>"
        "<a href=\"e\">e</a><li>text<a href=\"f\">f</a></li>");
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.r.variant, KLDLP_VARIANT_LIST);
    // b is the second link of its item; c follows a link without href, which
    // ends the item; e is outside any item.
    EXPECT_EQ(p.names(), "a|d/|f");
    EXPECT_EQ(p.r.skipped, 1u);
    EXPECT_EQ(p.r.date_order, KLDLP_ORDER_NONE);
    EXPECT_EQ(p.at(0).mtime_ms, -1);
}

} // namespace
