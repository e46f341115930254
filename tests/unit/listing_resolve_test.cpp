#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "listing/internal.h"
#include "parse_ctx.h"
#include "support/exact.h"

using namespace kldlp::detail;

namespace {

using ktest::exact_cstr;

// Resolves with dst sized as the callers size it and poisoned beforehand.
std::string resolve(const std::string &base, const std::string &ref, int *rc_out = nullptr)
{
    const exact_cstr b(base), r(ref);
    const size_t n = base.size() + ref.size() + 8;
    char *dst = static_cast<char *>(malloc(n));
    memset(dst, 'Z', n);
    const int rc = kldlp_resolve(b.c_str(), r.c_str(), dst, n);
    std::string out = rc == 0 ? std::string(dst) : std::string("ERR:") + dst;
    free(dst);
    if (rc_out) *rc_out = rc;
    return out;
}

struct rcase {
    const char *ref;
    const char *want;
};

// RFC 3986 section 5.4.1.
constexpr rcase k_normal[] = {
    {"g:h", "g:h"},
    {"g", "http://a/b/c/g"},
    {"./g", "http://a/b/c/g"},
    {"g/", "http://a/b/c/g/"},
    {"/g", "http://a/g"},
    {"//g", "http://g"},
    {"?y", "http://a/b/c/d;p?y"},
    {"g?y", "http://a/b/c/g?y"},
    {"#s", "http://a/b/c/d;p?q#s"},
    {"g#s", "http://a/b/c/g#s"},
    {"g?y#s", "http://a/b/c/g?y#s"},
    {";x", "http://a/b/c/;x"},
    {"g;x", "http://a/b/c/g;x"},
    {"g;x?y#s", "http://a/b/c/g;x?y#s"},
    {"", "http://a/b/c/d;p?q"},
    {".", "http://a/b/c/"},
    {"./", "http://a/b/c/"},
    {"..", "http://a/b/"},
    {"../", "http://a/b/"},
    {"../g", "http://a/b/g"},
    {"../..", "http://a/"},
    {"../../", "http://a/"},
    {"../../g", "http://a/g"},
};

// RFC 3986 section 5.4.2, strict parser.
constexpr rcase k_abnormal[] = {
    {"../../../g", "http://a/g"},
    {"../../../../g", "http://a/g"},
    {"/./g", "http://a/g"},
    {"/../g", "http://a/g"},
    {"g.", "http://a/b/c/g."},
    {".g", "http://a/b/c/.g"},
    {"g..", "http://a/b/c/g.."},
    {"..g", "http://a/b/c/..g"},
    {"./../g", "http://a/b/g"},
    {"./g/.", "http://a/b/c/g/"},
    {"g/./h", "http://a/b/c/g/h"},
    {"g/../h", "http://a/b/c/h"},
    {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
    {"g;x=1/../y", "http://a/b/c/y"},
    {"g?y/./x", "http://a/b/c/g?y/./x"},
    {"g?y/../x", "http://a/b/c/g?y/../x"},
    {"g#s/./x", "http://a/b/c/g#s/./x"},
    {"g#s/../x", "http://a/b/c/g#s/../x"},
    {"http:g", "http:g"},
};

TEST(ListingResolve, Rfc3986NormalExamples)
{
    for (const rcase &c : k_normal) EXPECT_EQ(resolve("http://a/b/c/d;p?q", c.ref), c.want) << "ref " << c.ref;
}

TEST(ListingResolve, Rfc3986AbnormalExamples)
{
    for (const rcase &c : k_abnormal) EXPECT_EQ(resolve("http://a/b/c/d;p?q", c.ref), c.want) << "ref " << c.ref;
}

TEST(ListingResolve, OtherBases)
{
    struct row {
        const char *base, *ref, *want;
    } rows[] = {
        {"http://h", "x", "http://h/x"},
        {"http://h", "", "http://h"},
        {"http://h", "?q", "http://h?q"},
        {"http://h/a#frag", "", "http://h/a"},
        {"http://h/a?q#frag", "#g", "http://h/a?q#g"},
        {"http://a/b", "HTTPS://Host/a", "HTTPS://Host/a"},
        {"http://a/b", "HTTPS://Host/./a/../b", "HTTPS://Host/b"},
        {"HTTP://A/b/c", "g", "HTTP://A/b/g"},
        {"http://h/x/./y/../z?q", "", "http://h/x/z?q"},
        {"http://h/x/./y/../z?q", "?r", "http://h/x/z?r"},
        {"urn:a", "g", "urn:g"},
        {"urn:a/b", "../c", "urn:/c"}, // RFC 3986 5.2.4 keeps the "/" of "/../"
        {"http://h/music/", "Sub%20Dir/", "http://h/music/Sub%20Dir/"},
        {"http://h/music/", "../", "http://h/"},
        {"http://h/music/", "?C=N;O=D", "http://h/music/?C=N;O=D"},
        {"http://h/m/", "//other/x", "http://other/x"},
        {"http://h/m/", "a:b", "a:b"},
        {"http://h/m/", "./a:b", "http://h/m/a:b"},
        {"http://h/m/", "a/b:c", "http://h/m/a/b:c"},
        {"http://h/a/b/", "..", "http://h/a/"},
        {"http://h/a/b/", "/.", "http://h/"},
        {"http://h/a/b/", "/..", "http://h/"},
    };
    for (const row &r : rows) EXPECT_EQ(resolve(r.base, r.ref), r.want) << r.base << " + " << r.ref;
}

TEST(ListingResolve, ResolvingTwiceChangesNothing)
{
    for (const rcase &c : k_normal) {
        const std::string once = resolve("http://a/b/c/d;p?q", c.ref);
        EXPECT_EQ(resolve("http://a/b/c/d;p?q", once), once) << c.ref;
    }
}

TEST(ListingResolve, Failures)
{
    int rc = 0;
    EXPECT_EQ(resolve("/a/b", "g", &rc), "ERR:");
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(resolve("/a/b", "http://h/", &rc), "ERR:");
    EXPECT_EQ(resolve("", "http://h/", &rc), "ERR:");
    EXPECT_EQ(resolve("1http://h/", "x", &rc), "ERR:");

    char dst[8] = "poison";
    EXPECT_EQ(kldlp_resolve(nullptr, "g", dst, sizeof dst), -1);
    EXPECT_STREQ(dst, "");
    memcpy(dst, "poison", 7);
    EXPECT_EQ(kldlp_resolve("http://h/", nullptr, dst, sizeof dst), -1);
    EXPECT_STREQ(dst, "");
    memcpy(dst, "poison", 7);
    EXPECT_EQ(kldlp_resolve("http://h/", "g", dst, 0), -1);
    EXPECT_EQ(dst[0], 'p');
    EXPECT_EQ(kldlp_resolve("http://h/", "g", nullptr, 10), -1);
}

TEST(ListingResolve, DestinationSize)
{
    const std::string want = "http://a/b/c/g";
    for (size_t n = 1; n <= want.size() + 1; ++n) {
        char *dst = static_cast<char *>(malloc(n));
        memset(dst, 'Z', n);
        const int rc = kldlp_resolve("http://a/b/c/d;p?q", "g", dst, n);
        if (n == want.size() + 1) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(std::string(dst), want);
        } else {
            EXPECT_EQ(rc, -1) << n;
            EXPECT_EQ(dst[0], '\0') << n;
        }
        free(dst);
    }
    // Before dot removal the text does not fit; afterwards it does.
    const std::string ref = "x/../x/../x/../x/../x/../x/../g";
    char dst[16];
    EXPECT_EQ(kldlp_resolve("http://a/b", ref.c_str(), dst, sizeof dst), 0);
    EXPECT_STREQ(dst, "http://a/g");
    EXPECT_EQ(kldlp_resolve("http://a/b", ref.c_str(), dst, 10), -1);
    EXPECT_STREQ(dst, "");
}

TEST(ListingResolve, Split)
{
    struct row {
        const char *ref;
        const char *scheme, *authority, *path, *query, *fragment; // null: absent
    } rows[] = {
        {"http://u:p@h:80/a/b?q=1#f", "http", "u:p@h:80", "/a/b", "q=1", "f"},
        {"/p", nullptr, nullptr, "/p", nullptr, nullptr},
        {"?#", nullptr, nullptr, "", "", ""},
        {"a+b.c-d:x", "a+b.c-d", nullptr, "x", nullptr, nullptr},
        {"1a:b", nullptr, nullptr, "1a:b", nullptr, nullptr},
        {"a/b:c", nullptr, nullptr, "a/b:c", nullptr, nullptr},
        {"//h", nullptr, "h", "", nullptr, nullptr},
        {"//h?x", nullptr, "h", "", "x", nullptr},
        {"http:", "http", nullptr, "", nullptr, nullptr},
        {"#a?b#c", nullptr, nullptr, "", nullptr, "a?b#c"},
        {"", nullptr, nullptr, "", nullptr, nullptr},
    };
    for (const row &r : rows) {
        const exact_cstr c(r.ref);
        url_parts u;
        memset(&u, 0x5A, sizeof u);
        uparse(c.c_str(), &u);
        const url_part *parts[] = {&u.scheme, &u.authority, &u.path, &u.query, &u.fragment};
        const char *want[] = {r.scheme, r.authority, r.path, r.query, r.fragment};
        for (int i = 0; i < 5; ++i) {
            if (want[i]) {
                EXPECT_EQ(parts[i]->present, 1) << r.ref << " part " << i;
                EXPECT_EQ(std::string(parts[i]->p, parts[i]->len), want[i]) << r.ref << " part " << i;
            } else {
                EXPECT_EQ(parts[i]->present, 0) << r.ref << " part " << i;
                EXPECT_EQ(parts[i]->len, 0u) << r.ref << " part " << i;
                EXPECT_EQ(parts[i]->p, nullptr) << r.ref << " part " << i;
            }
        }
    }
}

TEST(ListingChildName, Cases)
{
    struct row {
        const char *page, *link;
        int rc;
        const char *name;
        int folder;
    } rows[] = {
        {"http://h/music/index.html", "http://h/music/song.mp3", 1, "song.mp3", 0},
        {"http://h/music/index.html", "http://h/music/Sub%20Dir/", 1, "Sub Dir", 1},
        {"http://h/music/index.html", "http://h/music/", 0, nullptr, 0},
        {"http://h/music/index.html", "http://h/", 0, nullptr, 0},
        {"http://h/music/index.html", "http://h/music/a/b.mp3", 0, nullptr, 0},
        {"http://h/music/index.html", "http://H/Music/x", 0, nullptr, 0},
        {"http://h/music/index.html", "HTTP://H/music/x", 1, "x", 0},
        {"http://h/music/index.html", "http://h:8080/music/x", 0, nullptr, 0},
        {"http://h/music/index.html", "http://h:80/music/x", 0, nullptr, 0},
        {"http://h/music/index.html", "https://h/music/x", 0, nullptr, 0},
        {"http://h/music/index.html", "http://u@h/music/x", 0, nullptr, 0},
        {"http://h/music/index.html", "http://h/music/x%2Fy", -1, nullptr, 0},
        {"http://h/music/index.html", "http://h/music/%2E%2E/", -1, nullptr, 0},
        {"http://h/music/index.html", "http://h/music/%2e/", -1, nullptr, 0},
        {"http://h/music/index.html", "http://h/music/x%00", -1, nullptr, 0},
        {"http://h/music/index.html", "http://h/music/x%7F", -1, nullptr, 0},
        {"http://h/music/index.html", "http://h/music/%FF", -1, nullptr, 0},
        {"http://h/music/index.html", "http://h/music/%C3%A9t%C3%A9", 1, "\xC3\xA9t\xC3\xA9", 0},
        {"http://h/music/index.html", "http://h/music/a%5Cb", 1, "a\\b", 0},
        {"http://h/music/index.html", "http://h/music/100%", 1, "100%", 0},
        {"http://h/music/index.html", "http://h/music/x?", 0, nullptr, 0},
        {"http://h/music/index.html", "http://h/music/x#", 0, nullptr, 0},
        {"http://h/music/index.html", "http://h/music//", 0, nullptr, 0},
        {"http://h/music/index.html", "http://h/music//x", 0, nullptr, 0},
        {"http://h/music/index.html", "http://h//", 0, nullptr, 0},
        {"http://h/music/index.html", "http://h", 0, nullptr, 0},
        {"http://h/music/index.html", "/music/x", 0, nullptr, 0},
        {"http://h/music/index.html", "http:/music/x", 0, nullptr, 0},
        {"http://h/a%20b/", "http://h/a b/x", 1, "x", 0},
        {"http://h/a b/", "http://h/a%20b/x/", 1, "x", 1},
        {"http://h/%61/", "http://h/a/x", 1, "x", 0},
        {"http://h/a%2Fb/", "http://h/a/b/x", 0, nullptr, 0},
        {"http://h/a/b/", "http://h/a%2Fb/x", 0, nullptr, 0},
        {"http://h/a%2fb/", "http://h/a%2Fb/x", 1, "x", 0},
        {"http://h/A/", "http://h/a/x", 0, nullptr, 0},
        {"http://h", "http://h/x", 1, "x", 0},
        {"http://h?q", "http://h/x/", 1, "x", 1},
        {"http://h/", "http://h/x", 1, "x", 0},
        {"http://h/index.html", "http://h/x", 1, "x", 0},
        {"http://h/music", "http://h/x", 1, "x", 0},
        {"/music/", "http://h/music/x", 0, nullptr, 0},
    };
    for (const row &r : rows) {
        const exact_cstr page(r.page), link(r.link);
        char *name = reinterpret_cast<char *>(&name); // poisoned: must be nulled first
        int folder = 9;
        const int rc = kldlp_child_name(page.c_str(), link.c_str(), &name, &folder);
        EXPECT_EQ(rc, r.rc) << r.page << " / " << r.link;
        if (r.name) {
            ASSERT_NE(name, nullptr) << r.link;
            EXPECT_STREQ(name, r.name) << r.link;
        } else {
            EXPECT_EQ(name, nullptr) << r.link;
        }
        EXPECT_EQ(folder, r.folder) << r.page << " / " << r.link;
        free(name);
    }
}

TEST(ListingChildName, NullArguments)
{
    char *name = reinterpret_cast<char *>(&name);
    int folder = 3;
    EXPECT_EQ(kldlp_child_name(nullptr, "http://h/x", &name, &folder), 0);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(folder, 0);
    EXPECT_EQ(kldlp_child_name("http://h/", nullptr, &name, &folder), 0);
    name = reinterpret_cast<char *>(&name);
    EXPECT_EQ(kldlp_child_name("http://h/", "http://h/x", &name, nullptr), 0);
    EXPECT_EQ(name, nullptr);
    folder = 3;
    EXPECT_EQ(kldlp_child_name("http://h/", "http://h/x", nullptr, &folder), 0);
    EXPECT_EQ(folder, 0);
}

// Links offered to a parse context around a page URL.
struct links : parse_ctx {
    explicit links(const char *page = "http://h/music/") : parse_ctx(page) {}
    int add(const std::string &href, const char *size = nullptr, const char *date = nullptr)
    {
        const exact_cstr h(href), s(size), d(date);
        return add_href(&c, h.c_str(), href.size(), s.c_str(), size ? strlen(size) : 0, d.c_str(),
                        date ? strlen(date) : 0);
    }
};

TEST(ListingLinks, SkippedAndRejected)
{
    struct row {
        const char *href;
        int skipped, rejected, entries;
    } rows[] = {
        {"?C=N;O=D", 1, 0, 0},
        {"?C=M&amp;O=A", 1, 0, 0},
        {"../", 1, 0, 0},
        {"#top", 1, 0, 0},
        {"/", 1, 0, 0},
        {"./", 1, 0, 0},
        {"song.mp3#t=1", 1, 0, 0},
        {"song.mp3?dl=1", 1, 0, 0},
        {"http://other/music/x", 1, 0, 0},
        {"mailto:a@b", 1, 0, 0},
        {"sub/file", 1, 0, 0},
        {"x%2Fy", 0, 1, 0},
        {"%2E%2E/", 0, 1, 0},
        {"&#xD800;x", 0, 1, 0},
        {"a&#0;b", 0, 1, 0},
        {"a%09b", 0, 1, 0},
        {"song.mp3", 0, 0, 1},
        {"/music/song.mp3", 0, 0, 1},
        {"//h/music/song.mp3", 0, 0, 1},
        {"x/../song.mp3", 0, 0, 1},
    };
    for (const row &r : rows) {
        links l;
        ASSERT_EQ(l.add(r.href), 0) << r.href;
        EXPECT_EQ(l.res.skipped, static_cast<uint64_t>(r.skipped)) << r.href;
        EXPECT_EQ(l.res.rejected, static_cast<uint64_t>(r.rejected)) << r.href;
        EXPECT_EQ(l.res.count, static_cast<uint64_t>(r.entries)) << r.href;
    }
}

TEST(ListingLinks, EntriesTakeDecodedNameSizeAndDate)
{
    links l;
    ASSERT_EQ(l.add("a&amp;b.mp3", "1&nbsp;234", "01&#45;Jan-2024 12:00"), 0);
    ASSERT_EQ(l.add("Sub%20Dir/", "-", "2024-01-01"), 0);
    ASSERT_EQ(l.add("plain.txt", "42"), 0);
    ASSERT_EQ(l.add("odd.bin", "&lt;dir&gt;", nullptr), 0);
    ASSERT_EQ(l.add("nul.bin", nullptr, ""), 0);
    ASSERT_EQ(l.res.count, 5u);
    EXPECT_STREQ(l.res.items[0].name, "a&b.mp3");
    EXPECT_EQ(l.res.items[0].size, 1234);
    EXPECT_EQ(date_at(l.c, 0), "01-Jan-2024 12:00");
    EXPECT_STREQ(l.res.items[1].name, "Sub Dir");
    EXPECT_EQ(l.res.items[1].folder, 1);
    EXPECT_EQ(l.res.items[1].size, -1);
    EXPECT_EQ(date_at(l.c, 1), "2024-01-01");
    EXPECT_EQ(l.res.items[2].size, 42);
    EXPECT_EQ(l.c.dates[2].p, nullptr);
    EXPECT_EQ(l.res.items[3].size, -1);
    EXPECT_EQ(l.res.items[4].size, -1);
    EXPECT_EQ(date_at(l.c, 4), "");
    for (uint64_t i = 0; i < l.res.count; ++i) EXPECT_EQ(l.res.items[i].mtime_ms, -1);
}

TEST(ListingLinks, SizeTextWithNulByteReadsAsUnknown)
{
    links l;
    const char size[] = "12\0xyz";
    const exact_cstr h("a.bin");
    ASSERT_EQ(add_href(&l.c, h.c_str(), 5, size, 6, nullptr, 0), 0);
    ASSERT_EQ(l.res.count, 1u);
    EXPECT_EQ(l.res.items[0].size, -1);
}

TEST(ListingLinks, DuplicatesAndLimits)
{
    links l;
    l.lim.max_entries = 2;
    EXPECT_EQ(l.add("Music/"), 0);
    EXPECT_EQ(l.add("Music"), 0);
    EXPECT_EQ(l.add("b"), 0);
    EXPECT_EQ(l.add("../"), 0);
    EXPECT_EQ(l.add("c", "1", "2024-01-01"), KLDLP_E_TOO_MANY);
    EXPECT_EQ(l.res.count, 2u);
    EXPECT_EQ(l.res.rejected, 1u);
    EXPECT_EQ(l.res.skipped, 1u);
}

TEST(ListingLinks, LongLinksBeyondTheStackScratch)
{
    links l;
    std::string href;
    while (href.size() < 5000) href += "x/../";
    ASSERT_EQ(l.add(href + "long.mp3"), 0);
    ASSERT_EQ(l.add(href + "a&amp;b"), 0);
    std::string name(1000, 'n');
    ASSERT_EQ(l.add(href + name), 0);
    ASSERT_EQ(l.add(href + name + "n"), 0);
    std::string longname(1025, 'm');
    ASSERT_EQ(l.add(longname), 0); // one byte over max_name
    ASSERT_EQ(l.res.count, 4u);
    EXPECT_STREQ(l.res.items[0].name, "long.mp3");
    EXPECT_STREQ(l.res.items[1].name, "a&b");
    EXPECT_EQ(l.res.rejected, 1u);
}

TEST(ListingLinks, LongPageUrl)
{
    const std::string page = "http://h/" + std::string(3000, 'd') + "/";
    const exact_cstr pg(page);
    links l(pg.c_str());
    ASSERT_EQ(l.add("x.mp3"), 0);
    ASSERT_EQ(l.add(page + "y.mp3"), 0);
    ASSERT_EQ(l.res.count, 2u);
    EXPECT_STREQ(l.res.items[1].name, "y.mp3");
}

} // namespace
