// The parser's short cuts must not change what it reports: plain links taken
// without the resolver, names checked sixteen bytes at a time, the tag
// scanner's block-wise search, the keyed name hash, names and date texts
// kept in shared storage, and the date-order decision reading each date once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "listing/internal.h"
#include "parse_ctx.h"
#include "support/data.h"
#include "support/exact.h"
#include "unit/listing_insert.h"

using namespace kldlp::detail;

namespace {

// What a link comes to when it goes the long way: resolved against the page,
// then tested as a child. "+name/F" for an entry, "skipped", "rejected".
std::string by_resolver(const std::string &page, const std::string &href)
{
    int bad = 0;
    char *ref = kldlp_html_decode(href.data(), href.size(), &bad);
    if (bad) {
        free(ref);
        return "rejected";
    }
    std::vector<char> abs(page.size() + strlen(ref) + 8);
    const int rc = kldlp_resolve(page.c_str(), ref, abs.data(), abs.size());
    free(ref);
    if (rc != 0) return "skipped";
    char *name = nullptr;
    int folder = 0;
    const int cn = kldlp_child_name(page.c_str(), abs.data(), &name, &folder);
    if (cn < 0) return "rejected";
    if (cn == 0) return "skipped";
    std::string out = "+" + std::string(name) + (folder ? "/F" : "");
    free(name);
    return out;
}

std::string by_add_href(const char *page, const std::string &href)
{
    parse_ctx f(page);
    EXPECT_EQ(add_href(&f.c, href.data(), href.size(), nullptr, 0, nullptr, 0), 0);
    if (f.res.rejected) return "rejected";
    if (f.res.skipped) return "skipped";
    if (f.res.count != 1) return "nothing";
    return "+" + std::string(f.res.items[0].name) + (f.res.items[0].folder ? "/F" : "");
}

TEST(ListingFastPath, PlainLinksResolveLikeEveryOtherLink)
{
    const char *pages[] = {"http://h/m/",        "http://h/m/index.html", "http://h",         "http://h/",
                           "HTTP://H:80/a%20b/", "http://h/a/./b/",       "http://h/a/../b/", "http://h/./",
                           "http://h/..",        "https://u:p@h/m/?q#f",  "http://h?x",       "http://h#f/a/",
                           "http://h/m//",       "http://h/.x/..y/"};
    const std::vector<std::string> hrefs = {
        "a",          "a/",       "a b",    "a%20b",  "a%2Fb",    "%2E%2E/",  "%2e",   ".",
        "..",         "./",       "../",    "...",    ".hidden",  "a:b",      "./a:b", "a?x",
        "a#x",        "?C=N;O=D", "#top",   "",       "/",        "//",       "a//",   "a/b",
        "/m/a",       "//h/m/a",  "x/../a", "&amp;x", "&#0;x",    "a&#x2F;b", "%00",   "%09x",
        "a%",         "a%2",      "%C3%A9", "%C0%80", "\xC3\xA9", "\xFF",     "a\\b",  std::string("a\0b", 3),
        "index.html", "A",        "m",      "a%2F",   "%2F",      "a%252F"};
    for (const char *page : pages) {
        for (const std::string &href : hrefs) {
            EXPECT_EQ(by_add_href(page, href), by_resolver(page, href)) << "page " << page << " href [" << href << "]";
        }
    }
}

TEST(ListingFastPath, SizesAndDatesOfPlainLinks)
{
    struct row {
        const char *href, *size, *date;
        int64_t want_size;
        const char *want_date; // null: no date text
    } rows[] = {
        {"a", "1&#x2C;234", "01&#45;Jan-2024", 1234, "01-Jan-2024"},
        {"b%20c", " 42 ", "", 42, ""},
        {"d/", "42", "2024-01-01", -1, "2024-01-01"},
        {"e", nullptr, nullptr, -1, nullptr},
        {"f", "&lt;dir&gt;", "&amp;", -1, "&"},
    };
    for (const row &r : rows) {
        parse_ctx f("http://h/m/");
        ASSERT_EQ(add_href(&f.c, r.href, strlen(r.href), r.size, r.size ? strlen(r.size) : 0, r.date,
                           r.date ? strlen(r.date) : 0),
                  0)
            << r.href;
        ASSERT_EQ(f.res.count, 1u) << r.href;
        EXPECT_EQ(f.res.items[0].size, r.want_size) << r.href;
        if (r.want_date) {
            EXPECT_EQ(date_at(f.c, 0), r.want_date) << r.href;
        } else {
            EXPECT_EQ(f.c.dates[0].p, nullptr) << r.href;
        }
    }
}

TEST(ListingFastPath, NameRulesAtEveryPositionOfAWord)
{
    // A bad byte, or a byte of a multi-byte character, at each offset of
    // names long enough to span several eight-byte words.
    struct bad {
        std::string bytes;
        int ok;
    } inserts[] = {{"\x1F", 0}, {"\x7F", 0},     {"/", 0},        {std::string("\0", 1), 0},
                   {"\x80", 0}, {"\xC3\xA9", 1}, {"\xC0\x80", 0}, {"\xED\xA0\x80", 0},
                   {" ", 1},    {"~", 1}};
    for (const bad &b : inserts) {
        for (size_t len = 1; len <= 26; ++len) {
            for (size_t at = 0; at < len; ++at) {
                std::string name(len, 'n');
                name.replace(at, 1, b.bytes);
                EXPECT_EQ(name_ok(name.data(), name.size()), b.ok)
                    << "insert " << int(static_cast<unsigned char>(b.bytes[0])) << " at " << at << " of " << len;
            }
        }
    }
}

// Links long enough for the block-wise decoding, with an escape, a
// character reference or a byte of some kind at every offset, the last block
// overlapping the one before.
TEST(ListingFastPath, LongLinksDecodeLikeTheResolver)
{
    const std::string inserts[] = {"%20", "%2F", "%2f", "&amp;", "&#47;", "%C3%A9", "\xC3\xA9", "%", "%4",
                                   "?",   ":",   "#",   "%00",   "%7F",   "\x7F",   "%25",      "/", "a"};
    for (const std::string &ins : inserts) {
        for (size_t len = 14; len <= 40; ++len) {
            for (size_t at = 0; at <= len; ++at) {
                std::string href(len, 'n');
                href.insert(at, ins);
                for (const std::string &h : {href, href + "/"})
                    ASSERT_EQ(by_add_href("http://h/m/", h), by_resolver("http://h/m/", h)) << "href [" << h << "]";
            }
        }
    }
}

// SipHash-2-4 under the key 00 01 .. 0f of the messages 00 01 .. (n - 1),
// the reference outputs its authors publish; SipHash-1-3 shares every step
// but the round counts.
TEST(ListingNameHash, SipHashReferenceOutputs)
{
    const sip_key key{0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull};
    struct row {
        size_t n;
        uint64_t want;
    } rows[] = {{0, 0x726fdb47dd0e0e31ull},
                {1, 0x74f839c593dc67fdull},
                {8, 0x93f5f5799a932462ull},
                {15, 0xa129ca6149be45e5ull}};
    char msg[64];
    for (size_t i = 0; i < sizeof msg; ++i) msg[i] = static_cast<char>(i);
    for (const row &r : rows) EXPECT_EQ((siphash<2, 4>(key, msg, r.n)), r.want) << r.n << " bytes";
}

// Where a name lands in the index must not be known before the parse: each
// parse draws its own key, so names made to collide under one key (or any
// fixed hash) spread out under the next.
TEST(ListingNameHash, EachParseDrawsItsOwnKey)
{
    parse_ctx a("http://h/m/"), b("http://h/m/");
    const std::string name = "Track 01.mp3";
    const uint64_t ha = name_hash(&a.c, name.data(), name.size());
    EXPECT_EQ(name_hash(&a.c, name.data(), name.size()), ha); // stable within a parse
    EXPECT_NE(name_hash(&b.c, name.data(), name.size()), ha);
    EXPECT_FALSE(a.c.key.k0 == b.c.key.k0 && a.c.key.k1 == b.c.key.k1);
}

// Names that share a long prefix and differ only in a counter or in one
// byte, must not pile up in the index: the slots passed
// over stay a small multiple of the entries, as for any other names.
TEST(ListingNameHash, LookalikeNamesProbeLinearly)
{
    const size_t n = 20000;
    const std::string prefix(200, 'p');
    struct row {
        const char *label;
        std::string (*name)(const std::string &, size_t);
    } rows[] = {{"counter at the end", [](const std::string &p, size_t i) { return p + std::to_string(i); }},
                {"counter inside",
                 [](const std::string &p, size_t i) { return p.substr(0, 100) + std::to_string(i) + p.substr(100); }},
                {"one byte changed", [](const std::string &p, size_t i) {
                     std::string s = p;
                     s[i % p.size()] = static_cast<char>('0' + i / p.size() % 75);
                     return s;
                 }}};
    for (const row &r : rows) {
        parse_ctx f("http://h/m/");
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(insert_name(&f.c, r.name(prefix, i), 0, -1), 0) << r.label;
        EXPECT_GT(f.res.count, n / 2) << r.label;
        EXPECT_LT(f.c.probes, 8 * n) << r.label << ": " << f.c.probes << " probes";
    }
}

// The passes read tokens through scan_tok; it must yield exactly what
// next_tok yields, token for token, cursor for cursor.
TEST(ListingFastPath, InlineStepsMatchTheTokenizer)
{
    std::vector<std::string> pages = {"<",
                                      "<a",
                                      "<a ",
                                      "</",
                                      "</a",
                                      "</a>",
                                      "<s",
                                      "<sx>",
                                      "<s>x</s>",
                                      "<script>x</a></script>y",
                                      "<SCRIPT >a<b</script >c",
                                      "<style>p{}</style>t",
                                      "<Style",
                                      "<span>x</span>",
                                      "<sample a='>'>",
                                      "<scripts>x</script>y",
                                      "<!-- a --><p>",
                                      "<!---->",
                                      "<!-",
                                      "<!x>y",
                                      "<?xml?>z",
                                      "a<b",
                                      "a < b",
                                      "<1>",
                                      "< a>",
                                      "<a href='x>y'>",
                                      "<a href=\"x",
                                      "<a b='c",
                                      "<a\tb=c/>",
                                      "<td>a</td>",
                                      "<TR CLASS=\"file\">",
                                      std::string("<a\0b>c\0", 8),
                                      "<a:b-c d>",
                                      "<-a>",
                                      "</ a>",
                                      "<//a>"};
    for (const char *f : {"nginx_basic.html", "apache_table.html", "apache_pre.html", "aspnet.html",
                          "hostile_script.html", "hostile_comment.html", "names.html"})
        pages.push_back(ktest::data_file(f));
    for (const std::string &page : pages) {
        ASSERT_FALSE(page.empty());
        html_scan a{page.data(), page.data() + page.size()}, b = a;
        for (int step = 0;; ++step) {
            html_tok x, y;
            next_tok(&a, &x);
            scan_tok(&b, &y);
            ASSERT_EQ(x.kind, y.kind) << page.substr(0, 40) << " step " << step;
            ASSERT_EQ(x.text, y.text) << page.substr(0, 40) << " step " << step;
            ASSERT_EQ(x.len, y.len) << page.substr(0, 40) << " step " << step;
            ASSERT_EQ(x.attrs, y.attrs) << page.substr(0, 40) << " step " << step;
            ASSERT_EQ(x.attrs_len, y.attrs_len) << page.substr(0, 40) << " step " << step;
            ASSERT_EQ(a.pos, b.pos) << page.substr(0, 40) << " step " << step;
            if (x.kind == TOK_EOF) break;
        }
    }
}

TEST(ListingFastPath, TagEndsWhereverItFallsInAWord)
{
    for (size_t pad = 0; pad < 20; ++pad) {
        const std::string fill(pad, 'x');
        struct row {
            std::string attrs; // text between the name and ">"
        } rows[] = {{""},
                    {" " + fill},
                    {" a=\"" + fill + ">\""},
                    {" a='" + fill + "\">'" + fill},
                    {" a=\"\"" + fill},
                    {" " + fill + "b='>'c=\">\""}};
        for (const row &r : rows) {
            const std::string page = "<td" + r.attrs + ">t";
            html_scan s{page.data(), page.data() + page.size()};
            html_tok t;
            next_tok(&s, &t);
            ASSERT_EQ(t.kind, TOK_OPEN) << page;
            EXPECT_EQ(std::string(t.attrs, t.attrs_len), r.attrs) << page;
            next_tok(&s, &t);
            EXPECT_EQ(t.kind, TOK_TEXT) << page;
            EXPECT_EQ(std::string(t.text, t.len), "t") << page;
        }
        // A quote that never closes runs the tag to the end of the page.
        const std::string open = "<a x=\"" + fill + ">";
        html_scan s{open.data(), open.data() + open.size()};
        html_tok t;
        next_tok(&s, &t);
        EXPECT_EQ(t.kind, TOK_OPEN);
        EXPECT_EQ(t.attrs_len, open.size() - 2);
        next_tok(&s, &t);
        EXPECT_EQ(t.kind, TOK_EOF);
    }
}

// Names live in blocks that grow from 1 KiB to 64 KiB; a name that does not
// fit the current block's room, or that is longer than a whole new block,
// must come back intact, and so must every name stored around it.
TEST(ListingFastPath, NamesKeepTheirBytesAcrossBlocks)
{
    parse_ctx f("http://h/m/");
    std::vector<std::string> names;
    const size_t lengths[] = {1, 1000, 1024, 7, 1017, 300, 64, 1023, 2};
    for (int i = 0; i < 3000; ++i) {
        std::string n = std::to_string(i) + "-";
        n.resize(std::max(lengths[static_cast<size_t>(i) % std::size(lengths)], n.size()),
                 static_cast<char>('a' + i % 26));
        ASSERT_EQ(insert_name(&f.c, n, i % 2, -1), 0) << i;
        names.push_back(n);
    }
    ASSERT_EQ(f.res.count, names.size());
    for (size_t i = 0; i < names.size(); ++i) ASSERT_EQ(std::string(f.res.items[i].name), names[i]) << i;
}

TEST(ListingFastPath, DateTextsKeepTheirBytes)
{
    parse_ctx f("http://h/m/");
    std::vector<std::string> dates;
    for (int i = 0; i < 5000; ++i) {
        std::string d = std::to_string(i) + std::string(static_cast<size_t>(i % 37), '-');
        if (i == 1234) d = std::string(70000, '7'); // longer than a storage chunk
        if (i == 4321) d.clear();
        dates.push_back(d);
        ASSERT_EQ(insert_name(&f.c, "e" + std::to_string(i), 0, -1, d.c_str()), 0);
        if (i % 3 == 0) {
            std::string n = "n" + std::to_string(i);
            ASSERT_EQ(
                add_name(&f.c, n.data(), n.size(), name_hash(&f.c, n.data(), n.size()), 0, -1, d.data(), d.size()), 0);
            dates.push_back(d);
        }
    }
    ASSERT_EQ(f.res.count, dates.size());
    for (size_t i = 0; i < dates.size(); ++i) ASSERT_EQ(date_at(f.c, i), dates[i]) << i;
}

TEST(ListingFastPath, TableTakesEntriesAfterTheDateDecision)
{
    // The decision reuses the name index's memory; an entry offered later
    // still meets every name already in the table.
    parse_ctx f("http://h/m/");
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(insert_name(&f.c, "f" + std::to_string(i), 0, -1, i % 2 ? "03/04/2024" : "2024-01-02"), 0);
    f.lim.date_order = KLDLP_ORDER_MDY;
    decide_dates(&f.c);
    EXPECT_EQ(f.res.date_order, KLDLP_ORDER_MDY);
    EXPECT_EQ(f.res.date_hinted, 1);
    EXPECT_EQ(f.res.items[1].mtime_ms, 1709510400000);
    EXPECT_EQ(f.res.items[2].mtime_ms, 1704153600000);
    ASSERT_EQ(insert_name(&f.c, "f17", 0, -1), 0);
    EXPECT_EQ(f.res.rejected, 1u);
    ASSERT_EQ(insert_name(&f.c, "g", 0, -1), 0);
    ASSERT_EQ(insert_name(&f.c, "g", 1, -1), 0);
    EXPECT_EQ(f.res.count, 301u);
    EXPECT_EQ(f.res.rejected, 2u);
    ASSERT_GE(f.c.slots, 2 * f.res.count + 2);
}

// A page whose date column holds nothing but blanks (spaces, &nbsp;, "-")
// has no dates: order none, every time -1.
TEST(ListingFastPath, BlankDateCellsGiveNoDateOrder)
{
    struct row {
        const char *label;
        std::string page;
        int32_t order;
    } rows[] = {
        {"nginx blank columns",
         "<title>Index of /m/</title><h1>Index of /m/</h1><pre><a href=\"a\">a</a>          \r\n"
         "<a href=\"b/\">b/</a>    -\r\n<a href=\"c\">c</a>\r\n</pre>",
         KLDLP_ORDER_NONE},
        {"apache table &nbsp; and spaces",
         "<table><tr><th><a href=\"?C=N;O=D\">Name</a></th><th><a href=\"?C=M;O=A\">Last modified</a></th>"
         "<th><a href=\"?C=S;O=A\">Size</a></th></tr>"
         "<tr><td><a href=\"a\">a</a></td><td>&nbsp;</td><td>1</td></tr>"
         "<tr><td><a href=\"b\">b</a></td><td>   </td><td>2</td></tr>"
         "<tr><td><a href=\"c\">c</a></td><td>-</td><td>3</td></tr></table>",
         KLDLP_ORDER_NONE},
        {"aspnet blank modified cells",
         "<section id=\"main\"><table id=\"index\">"
         "<tr class=\"file\"><td class=\"name\"><a href=\"./a\">a</a></td><td class=\"modified\"> </td></tr>"
         "<tr class=\"directory\"><td class=\"name\"><a href=\"./d/\">d/</a></td><td "
         "class=\"modified\">&nbsp;</td></tr>"
         "</table></section>",
         KLDLP_ORDER_NONE},
        {"one real date among blanks",
         "<section id=\"main\"><table id=\"index\">"
         "<tr class=\"file\"><td class=\"name\"><a href=\"./a\">a</a></td><td class=\"modified\"> </td></tr>"
         "<tr class=\"file\"><td class=\"name\"><a href=\"./b\">b</a></td><td class=\"modified\">2024-01-01</td></tr>"
         "</table></section>",
         KLDLP_ORDER_YMD},
    };
    for (const row &r : rows) {
        kldlp_result res;
        ASSERT_EQ(kldlp_parse(r.page.data(), r.page.size(), "http://h/m/", nullptr, &res), KLDLP_OK) << r.label;
        EXPECT_GT(res.count, 0u) << r.label;
        EXPECT_EQ(res.date_order, r.order) << r.label;
        EXPECT_EQ(res.date_hinted, 0) << r.label;
        for (uint64_t i = 0; i < res.count && r.order == KLDLP_ORDER_NONE; ++i) {
            EXPECT_EQ(res.items[i].mtime_ms, -1) << r.label << " entry " << i;
        }
        kldlp_free(&res);
    }
}

} // namespace
