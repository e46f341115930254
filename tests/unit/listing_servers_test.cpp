// The servers recognised after ASP.NET Core, nginx and Apache's marked pages
// (lighttpd, Caddy, Python http.server, IIS), and the Apache pages whose usual
// marks an option removes: recognition, extraction, and what the written rules
// still decide (an ASP.NET page keeps its rejected rows, a weekday date is
// read only on IIS pages).
#include <gtest/gtest.h>

#include <string>

#include "listing/internal.h"
#include "listing_parsed.h"

using namespace listing_test;

namespace {

constexpr int64_t k_jan1_noon = 1704110400000; // 2024-01-01 12:00 UTC

// ---------------------------------------------------------------- page makers

const std::string k_caddy_head =
    "<title>m</title><table><thead><tr><th></th><th><a href=\"?sort=namedirfirst&order=desc\"><svg></svg></a>"
    "<a href=\"?sort=name&order=asc\">Name</a></th><th><a href=\"?sort=size&order=asc\">Size</a></th>"
    "<th><a href=\"?sort=time&order=asc\">Modified</a></th></tr></thead><tbody>"
    "<tr><td></td><td><a href=\"..\"><span class=\"goup\">Go up</span></a></td><td>&mdash;</td></tr>";
const std::string k_caddy_foot =
    "</tbody></table><footer>Served with <a href=\"https://caddyserver.com\">Caddy</a></footer>";

std::string caddy_row(const std::string &href, const std::string &size_attr, const std::string &time)
{
    return "<tr class=\"file\"><td></td><td><a href=\"" + href + "\"><svg><use xlink:href=\"#file\"></use></svg>" +
           "<span class=\"name\">" + href + "</span></a></td><td " + size_attr + ">1 KiB</td><td class=\"hideable\">" +
           time + "</td></tr>";
}

std::string lighttpd_page(const std::string &rows, const std::string &title = "<title>Index of /m/</title>")
{
    return "<html><head>" + title +
           "</head><body><h2>Index of /m/</h2><div class=\"list\"><table summary=\"Directory Listing\">"
           "<thead><tr><th class=\"n\">Name</th><th class=\"m\">Last Modified</th><th class=\"s\">Size</th>"
           "<th class=\"t\">Type</th></tr></thead><tbody><tr class=\"d\"><td class=\"n\"><a href=\"../\">..</a>/</td>"
           "<td class=\"m\">&nbsp;</td><td class=\"s\">- &nbsp;</td><td class=\"t\">Directory</td></tr>" +
           rows + "</tbody></table></div><div class=\"foot\">lighttpd/1.4.69</div></body></html>";
}

std::string python_page(const std::string &items)
{
    return "<!DOCTYPE HTML><html lang=\"en\"><head><meta charset=\"utf-8\"><title>Directory listing for /m/</title>"
           "</head><body><h1>Directory listing for /m/</h1><hr><ul>" +
           items + "</ul><hr></body></html>";
}

// IIS: the columns before each link, lines ended by <br>.
std::string iis_page(const std::string &lines, const std::string &title = "h - /m/")
{
    return "<html><head><title>" + title + "</title></head><body><H1>h - /m/</H1><hr><pre><A HREF=\"/\">[To Parent " +
           "Directory]</A><br><br>" + lines + "</pre><hr></body></html>";
}

std::string iis_line(const std::string &columns, const std::string &name)
{
    return columns + " <A HREF=\"/m/" + name + "\">" + name + "</A><br>";
}

const std::string k_index = "<title>Index of /m</title><h1>Index of /m</h1>";
const std::string k_root = "<title>Index of /</title><h1>Index of /</h1>";

// ---------------------------------------------------------------- recognition

TEST(ListingServers, Recognition)
{
    const std::string caddy_rows =
        caddy_row("./a.mp3", "data-order=\"5\"", "") + caddy_row("./d/", "data-order=\"-1\"", "") + "</tbody></table>";
    struct row {
        const char *label;
        std::string page;
        const char *url;
        int rc;
        int32_t dialect, variant;
        std::string names;
    } rows[] = {
        // Caddy's rows carry ASP.NET's row class; its own sort links come first.
        {"caddy before the aspnet row rule", k_caddy_head + caddy_rows, "http://h/m/", 0, KLDLP_DIALECT_CADDY,
         KLDLP_VARIANT_TABLE, "a.mp3|d/"},
        {"caddy marks inside aspnet's own table stay aspnet",
         "<section id=\"main\"><table id=\"index\">" + k_caddy_head.substr(16) + caddy_rows + "</section>",
         "http://h/m/", 0, KLDLP_DIALECT_ASPNET, KLDLP_VARIANT_TABLE, ""},
        {"an empty caddy folder: sort links and footer", k_caddy_head + k_caddy_foot, "http://h/m/", 0,
         KLDLP_DIALECT_CADDY, KLDLP_VARIANT_TABLE, ""},
        // Rows classed file without a name cell: no ASP.NET listing, and no
        // empty folder either.
        {"row classes without name cells", "<table><tr class=\"file\"><td><a href=\"a\">a</a></td></tr></table>",
         "http://h/m/", KLDLP_E_NOT_LISTING, 0, 0, ""},
        {"row classes without name cells, then apache decides",
         "<table><tr class=\"file\"><td><a href=\"a\">a</a></td></tr></table><address>Apache/2.4</address>",
         "http://h/m/", 0, KLDLP_DIALECT_APACHE, KLDLP_VARIANT_TABLE, "a"},
        {"aspnet rows all refused by name stay a listing",
         "<table><tr class=\"file\"><td class=\"name\"><a>..</a></td></tr></table>", "http://h/m/", 0,
         KLDLP_DIALECT_ASPNET, KLDLP_VARIANT_TABLE, ""},
        {"lighttpd", lighttpd_page("<tr><td class=\"n\"><a href=\"a.mp3\">a.mp3</a></td></tr>"), "http://h/m/", 0,
         KLDLP_DIALECT_LIGHTTPD, KLDLP_VARIANT_TABLE, "a.mp3"},
        {"lighttpd's header without its title",
         lighttpd_page("<tr><td class=\"n\"><a href=\"a.mp3\">a.mp3</a></td></tr>", "<title>Files</title>"),
         "http://h/m/", KLDLP_E_NOT_LISTING, 0, 0, ""},
        {"python", python_page("<li><a href=\"a%20b.mp3\">a b.mp3</a></li><li><a href=\"d/\">d/</a></li>"),
         "http://h/m/", 0, KLDLP_DIALECT_PYTHON, KLDLP_VARIANT_LIST, "a b.mp3|d/"},
        {"python's title over a list of absolute links", python_page("<li><a href=\"/x\">x</a></li>"), "http://h/m/",
         KLDLP_E_NOT_LISTING, 0, 0, ""},
        {"an empty python folder", python_page(""), "http://h/m/", 0, KLDLP_DIALECT_PYTHON, KLDLP_VARIANT_LIST, ""},
        {"iis", iis_page(iis_line(" 1/13/2024 12:00 PM          5", "a.mp3")), "http://h/m/", 0, KLDLP_DIALECT_IIS,
         KLDLP_VARIANT_PRE, "a.mp3"},
        {"iis heading without its title", iis_page("", "Files"), "http://h/m/", KLDLP_E_NOT_LISTING, 0, 0, ""},
        // Apache with SuppressIcon, SuppressColumnSorting, ServerSignature Off.
        {"apache table named by its header texts",
         k_index + "<table><tr><th>Name</th><th>Last modified</th><th>Size</th></tr><tr><td><a href=\"a\">a</a>"
                   "</td><td>2024-01-01 12:00</td><td>5</td></tr></table>",
         "http://h/m/", 0, KLDLP_DIALECT_APACHE, KLDLP_VARIANT_TABLE, "a"},
        {"apache table with a parent directory row",
         k_index + "<table><tr><td><a href=\"/\">Parent Directory</a></td></tr><tr><td><a href=\"a\">a</a></td></tr>"
                   "</table>",
         "http://h/m/", 0, KLDLP_DIALECT_APACHE, KLDLP_VARIANT_TABLE, "a"},
        {"a header naming Name without the heading",
         "<table><tr><th>Name</th></tr><tr><td><a href=\"a\">a</a></td></tr></table>", "http://h/m/",
         KLDLP_E_NOT_LISTING, 0, 0, ""},
        // Apache's plain list at the document root, ServerSignature Off.
        {"apache root list",
         k_root + "<ul><li><a href=\"a\"> a</a></li><li><a href=\"./x:y\"> x:y</a></li><li><a href=\"d/\"> d/</a>"
                  "</li></ul>",
         "http://h/", 0, KLDLP_DIALECT_APACHE, KLDLP_VARIANT_LIST, "a|x:y|d/"},
        {"an empty apache root", k_root + "<ul></ul>", "http://h/", 0, KLDLP_DIALECT_APACHE, KLDLP_VARIANT_LIST, ""},
        {"root list with a parent link", k_root + "<ul><li><a href=\"../\">up</a></li></ul>", "http://h/",
         KLDLP_E_NOT_LISTING, 0, 0, ""},
        {"root list with a name read as a scheme", k_root + "<ul><li><a href=\"x:y\">x:y</a></li></ul>", "http://h/",
         KLDLP_E_NOT_LISTING, 0, 0, ""},
        {"root list with a query", k_root + "<ul><li><a href=\"a?x=1\">a</a></li></ul>", "http://h/",
         KLDLP_E_NOT_LISTING, 0, 0, ""},
        {"root list with a grandchild", k_root + "<ul><li><a href=\"d/x\">x</a></li></ul>", "http://h/",
         KLDLP_E_NOT_LISTING, 0, 0, ""},
        {"root list with a link outside it", k_root + "<ul><li><a href=\"a\">a</a></li></ul><p><a href=\"b\">b</a>",
         "http://h/", KLDLP_E_NOT_LISTING, 0, 0, ""},
        // Apache's pre form without sort links, icons or signature used to
        // read as nginx.
        {"apache pre named by its header line",
         k_index + "<pre>Name    Last modified      Size  Description<hr><a href=\"/\">Parent Directory</a>   -\n"
                   "<a href=\"a\">a</a>   2024-01-01 12:00  345\n</pre>",
         "http://h/m/", 0, KLDLP_DIALECT_APACHE, KLDLP_VARIANT_PRE, "a"},
        {"a pre whose first line is other text stays nginx",
         k_index + "<pre>Files here\n<a href=\"a\">a</a> 01-Jan-2024 12:00 5\n</pre>", "http://h/m/", 0,
         KLDLP_DIALECT_NGINX, KLDLP_VARIANT_PRE, "a"},
        {"httpd 1.3 sort links",
         "<PRE><A HREF=\"?N=D\">Name</A> <A HREF=\"?M=A\">Last modified</A>\n<HR>\n<A HREF=\"a\">a</A> 01-Jan-2024 "
         "12:00\n</PRE>",
         "http://h/m/", 0, KLDLP_DIALECT_APACHE, KLDLP_VARIANT_PRE, "a"},
    };
    for (const row &r : rows) {
        parsed p(r.page, r.url);
        EXPECT_EQ(p.rc, r.rc) << r.label;
        EXPECT_EQ(p.r.dialect, r.dialect) << r.label;
        EXPECT_EQ(p.r.variant, r.variant) << r.label;
        EXPECT_EQ(p.names(), r.names) << r.label;
        if (r.rc) {
            EXPECT_TRUE(zeroed(p.r)) << r.label;
        }
    }
}

// The counts of the mended and the kept ASP.NET cases.
TEST(ListingServers, EmptyFolderOnlyWhenItIsOne)
{
    parsed asp("<table><tr class=\"file\"><td class=\"name\"><a>..</a></td></tr><tr class=\"file\"><td "
               "class=\"name\"><a>a/b</a></td></tr></table>");
    ASSERT_EQ(asp.rc, 0);
    EXPECT_EQ(asp.r.count, 0u);
    EXPECT_EQ(asp.r.rejected, 2u);

    parsed caddy(k_caddy_head + caddy_row("./a", "", "") + caddy_row("./b", "", "") + k_caddy_foot);
    ASSERT_EQ(caddy.rc, 0);
    EXPECT_EQ(caddy.names(), "a|b");
    EXPECT_EQ(caddy.r.rejected, 0u);
    EXPECT_EQ(caddy.r.skipped, 1u); // "Go up"
}

// ---------------------------------------------------------------- sizes and dates

TEST(ListingServers, CaddyReadsItsAttributes)
{
    parsed p(k_caddy_head +
             caddy_row("./a.mp3", "data-order=\"999999\"", "<time datetime=\" 2024-01-01T12:00:59Z\">x</time>") +
             caddy_row("./b.mp3", "data-size=\"12\"", "<time datetime=\"2024-01-01T12:00:00Z\">x</time>") +
             caddy_row("./d/", "data-order=\"-1\"", "<time datetime=\"2024-01-01T12:00:00Z\">x</time>") +
             caddy_row("./e.mp3", "", "01/01/2024 12:00:00 PM +00:00") + k_caddy_foot);
    ASSERT_EQ(p.rc, 0);
    ASSERT_EQ(p.names(), "a.mp3|b.mp3|d/|e.mp3");
    EXPECT_EQ(p.at(0).size, 999999);
    EXPECT_EQ(p.at(0).mtime_ms, k_jan1_noon + 59000);
    EXPECT_EQ(p.at(1).size, 12); // the grid layout's attribute
    EXPECT_EQ(p.at(2).size, -1);
    EXPECT_EQ(p.at(2).mtime_ms, k_jan1_noon);
    // Without the attributes only the text for people is left: not read.
    EXPECT_EQ(p.at(3).size, -1);
    EXPECT_EQ(p.at(3).mtime_ms, -1);
    EXPECT_EQ(p.r.date_order, KLDLP_ORDER_YMD);
    EXPECT_TRUE(index_of_is(p.r, nullptr)); // Caddy's title is the folder's name, not its path
}

TEST(ListingServers, LighttpdColumns)
{
    parsed p(lighttpd_page("<tr class=\"d\"><td class=\"n\"><a href=\"d/\">d</a>/</td><td class=\"m\">2024-Jan-01 "
                           "12:00:30</td><td class=\"s\">- &nbsp;</td><td class=\"t\">Directory</td></tr>"
                           "<tr><td class=\"n\"><a href=\"a%26b.txt\">a&#x26;b.txt</a></td><td class=\"m\">"
                           "2024-Jan-01 12:00:00</td><td class=\"s\">0.9K</td><td class=\"t\">text/plain</td></tr>"));
    ASSERT_EQ(p.rc, 0);
    ASSERT_EQ(p.names(), "d/|a&b.txt");
    EXPECT_EQ(p.at(0).mtime_ms, k_jan1_noon + 30000);
    EXPECT_EQ(p.at(1).mtime_ms, k_jan1_noon);
    EXPECT_EQ(p.at(1).size, -1); // lighttpd abbreviates every size
    EXPECT_EQ(p.r.skipped, 1u);  // "../"
    EXPECT_TRUE(index_of_is(p.r, "/m/"));
}

TEST(ListingServers, IisLines)
{
    const int64_t jan13 = 1705147200000; // 2024-01-13 12:00 UTC
    struct row {
        const char *label;
        std::string columns;
        const char *name;
        int64_t size;
        int64_t mtime_ms;
    } rows[] = {
        {"short date, size", " 1/13/2024 12:00 PM          999", "a.mp3", 999, jan13},
        {"folder", " 1/13/2024 12:00 PM        &lt;dir&gt;", "d/", -1, jan13},
        {"long date", "Saturday, January 13, 2024 12:00 PM         5", "a.mp3", 5, jan13},
        {"long date of a folder", "Saturday, January 13, 2024  12:00 PM        &lt;dir&gt;", "d/", -1, jan13},
        {"no size column", " 1/13/2024 12:00 PM", "a.mp3", -1, jan13},
        {"no date columns", "          999", "a.mp3", 999, -1},
        {"a weekday of another language", "Samstag, 13. Januar 2024 12:00         5", "a.mp3", 5, -1},
        {"morning", " 1/13/2024 12:00 AM     5", "a.mp3", 5, jan13 - 12 * 3600000},
    };
    for (const row &r : rows) {
        parsed p(iis_page(iis_line(r.columns, r.name)));
        ASSERT_EQ(p.rc, 0) << r.label;
        ASSERT_EQ(p.names(), r.name) << r.label;
        EXPECT_EQ(p.at(0).size, r.size) << r.label;
        EXPECT_EQ(p.at(0).mtime_ms, r.mtime_ms) << r.label;
        EXPECT_EQ(p.r.skipped, 1u) << r.label; // [To Parent Directory]
        EXPECT_TRUE(index_of_is(p.r, "/m/")) << r.label;
    }
}

TEST(ListingServers, IisDatesFollowThePageWideOrder)
{
    // 3/4/2023 alone cannot say which is the month; 12/31 can.
    const std::string ambiguous = iis_line("  3/4/2023  5:06 AM       5", "a");
    parsed alone(iis_page(ambiguous));
    EXPECT_EQ(alone.r.date_order, KLDLP_ORDER_AMBIGUOUS);
    EXPECT_EQ(alone.at(0).mtime_ms, -1);
    kldlp_opts mdy{0, 0, 0, 0, KLDLP_ORDER_MDY};
    parsed hinted(iis_page(ambiguous), "http://h/m/", &mdy);
    EXPECT_EQ(hinted.r.date_hinted, 1);
    EXPECT_EQ(hinted.at(0).mtime_ms, 1677906360000); // 4 March 2023 05:06
    parsed decided(iis_page(ambiguous + iis_line("12/31/2023 11:59 PM       5", "b")));
    EXPECT_EQ(decided.r.date_order, KLDLP_ORDER_MDY);
    EXPECT_EQ(decided.at(0).mtime_ms, 1677906360000);
}

TEST(ListingServers, WeekdayDatesOnlyOnIis)
{
    const char *date = "Monday, January 1, 2024 12:00 PM";
    parsed apache("<table><tr><td><a href=\"a\">a</a></td><td>" + std::string(date) +
                  "</td><td>5</td></tr></table><address>Apache/2.4</address>");
    ASSERT_EQ(apache.rc, 0);
    EXPECT_EQ(apache.at(0).mtime_ms, -1);
    parsed iis(iis_page(iis_line(std::string(date) + "  5", "a")));
    ASSERT_EQ(iis.rc, 0);
    EXPECT_EQ(iis.at(0).mtime_ms, k_jan1_noon);
}

TEST(ListingServers, IisLinkLimit)
{
    kldlp_opts lim{0, 0, 12, 0, 0};
    parsed p(iis_page(iis_line(" 1/13/2024 12:00 PM  5", "a.mp3") + iis_line(" 1/13/2024 12:00 PM  5", "long-b.mp3")),
             "http://h/m/", &lim);
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.names(), "a.mp3"); // "/m/a.mp3" fits in 12 bytes, "/m/long-b.mp3" does not
    EXPECT_EQ(p.r.rejected, 1u);
}

TEST(ListingServers, IndexOfFromEachTitleForm)
{
    struct row {
        std::string page;
        const char *index_of;
    } rows[] = {
        {lighttpd_page(""), "/m/"},
        {python_page(""), "/m/"},
        {iis_page(""), "/m/"},
        {iis_page("", "h - /a&amp;b/"), "/a&b/"},
        {k_caddy_head + k_caddy_foot, nullptr},
    };
    for (const row &r : rows) {
        parsed p(r.page);
        ASSERT_EQ(p.rc, 0) << r.page;
        EXPECT_TRUE(index_of_is(p.r, r.index_of)) << r.page;
    }
}

// ---------------------------------------------------------------- Apache mends

// SuppressColumnSorting leaves the titles of the columns in the header line;
// each suppressed column is missing from it and from every entry line.
TEST(ListingApacheMends, PreLayoutFromTheHeaderLine)
{
    struct row {
        const char *label;
        const char *lines; // the header line, "|", the entry line after the link
        int64_t size;
        int64_t mtime_ms;
    } rows[] = {
        {"every column", "Name   Last modified      Size  Description|2024-01-01 12:00  345  notes", 345, k_jan1_noon},
        {"SuppressLastModified", "Name   Size  Description|345  notes", 345, -1},
        {"SuppressSize", "Name   Last modified      Description|2024-01-01 12:00  notes", -1, k_jan1_noon},
        {"SuppressDescription", "Name   Last modified      Size|2024-01-01 12:00  345", 345, k_jan1_noon},
        {"titles in another order are no header", "Size   Name|345", -1, -1},
        {"an unknown title is no header", "Name   Last modified   Size   Owner|2024-01-01 12:00  345  x", -1, -1},
        {"titles split by markup are no header", "Name <b>Last modified</b> Size|2024-01-01 12:00  345", -1, -1},
    };
    for (const row &r : rows) {
        const std::string lines = r.lines;
        const size_t bar = lines.find('|');
        parsed p("<pre><img alt=\"Icon \"> " + lines.substr(0, bar) + "<hr><img alt=\"[SND]\"> <a href=\"a\">a</a>   " +
                 lines.substr(bar + 1) + "\n</pre><address>Apache</address>");
        ASSERT_EQ(p.rc, 0) << r.label;
        ASSERT_EQ(p.names(), "a") << r.label;
        EXPECT_EQ(p.at(0).size, r.size) << r.label;
        EXPECT_EQ(p.at(0).mtime_ms, r.mtime_ms) << r.label;
    }
}

TEST(ListingApacheMends, IconsAreLinksInPre)
{
    // The icon link shows only an image; the name link after it carries the
    // line. Without the mend the icon link took the entry and the name link
    // was refused as its duplicate, with neither date nor size.
    parsed p("<pre><img alt=\"Icon \"> <a href=\"?C=N;O=D\">Name</a> <a href=\"?C=M;O=A\">Last modified</a> "
             "<a href=\"?C=S;O=A\">Size</a><hr><a href=\"/\"><img alt=\"[PARENTDIR]\"></a> <a href=\"/\">Parent "
             "Directory</a>    -\n<a href=\"a\"><img alt=\"[SND]\"></a> <a href=\"a\">a</a>   2024-01-01 12:00  345\n"
             "<a href=\"b\"><img alt=\"[SND]\"> b</a>   2024-01-01 12:00  7\n</pre><address>Apache</address>");
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.names(), "a|b"); // a link showing an image and text is an entry link
    EXPECT_EQ(p.at(0).size, 345);
    EXPECT_EQ(p.at(0).mtime_ms, k_jan1_noon);
    EXPECT_EQ(p.at(1).size, 7);
    EXPECT_EQ(p.r.rejected, 0u);
    EXPECT_EQ(p.r.skipped, 1u);
}

TEST(ListingApacheMends, IconsAreLinksInTables)
{
    const std::string sorted = "<tr><th><img alt=\"[ICO]\"></th><th><a href=\"?C=N;O=D\">Name</a></th><th><a "
                               "href=\"?C=M;O=A\">Last modified</a></th><th><a href=\"?C=S;O=A\">Size</a></th></tr>";
    const std::string row = "<tr><td><a href=\"a\"><img alt=\"[SND]\"></a></td><td><a href=\"a\">a</a></td><td>"
                            "2024-01-01 12:00</td><td>345</td></tr>";
    struct row_t {
        const char *label;
        std::string table;
    } rows[] = {
        {"columns known from sort links", sorted + row},
        {"columns known from header texts", "<tr><th></th><th>Name</th><th>Last modified</th><th>Size</th></tr>" + row},
        {"httpd 1.3 style sort links",
         "<tr><th></th><th><a href=\"?N=D\">Name</a></th><th><a href=\"?M=A\">Last modified</a></th><th><a "
         "href=\"?S=A\">Size</a></th></tr>" +
             row},
        {"no header: the first cell showing more than an icon", row},
    };
    for (const row_t &r : rows) {
        parsed p("<table>" + r.table + "</table><address>Apache</address>");
        ASSERT_EQ(p.rc, 0) << r.label;
        ASSERT_EQ(p.names(), "a") << r.label;
        EXPECT_EQ(p.at(0).size, 345) << r.label;
        EXPECT_EQ(p.at(0).mtime_ms, k_jan1_noon) << r.label;
        EXPECT_EQ(p.r.rejected, 0u) << r.label;
    }
}

TEST(ListingApacheMends, OldSortLinks)
{
    // httpd 1.3 writes ?N=D, ?M=A, ?S=A, ?D=A: they give the layout and are
    // no links of the folder. Anything longer is an ordinary link.
    parsed p("<pre><img alt=\"[DIR]\"> <A HREF=\"?N=D\">Name</A> <A HREF=\"?M=A\">Last modified</A> <A "
             "HREF=\"?S=A\">Size</A> <A HREF=\"?D=A\">Description</A>\n<HR>\n<A HREF=\"a\">a</A>  17-Jan-2004 "
             "18:10   407k  \n<A HREF=\"?N=DX\">x</A>\n</PRE>");
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.names(), "a");
    EXPECT_EQ(p.at(0).mtime_ms, 1074363000000); // 17 January 2004 18:10
    EXPECT_EQ(p.at(0).size, -1);                // 407k is abbreviated
    EXPECT_EQ(p.r.skipped, 1u);                 // ?N=DX
}

} // namespace
