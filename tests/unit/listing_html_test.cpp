#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "listing/collect.h"
#include "listing/internal.h"
#include "support/exact.h"

using namespace kldlp::detail;

namespace {

using exact = ktest::exact_bytes;

// Tokens as "T:text", "O:name|attrs", "C:name|attrs".
std::vector<std::string> tokens(const std::string &page)
{
    const exact e(page);
    html_scan s{e.data(), e.end()};
    std::vector<std::string> out;
    for (int guard = 0; guard < 1000; ++guard) {
        html_tok t;
        next_tok(&s, &t);
        if (t.kind == TOK_EOF) break;
        std::string tx(t.text, t.len);
        if (t.kind == TOK_TEXT)
            out.push_back("T:" + tx);
        else
            out.push_back(std::string(t.kind == TOK_OPEN ? "O:" : "C:") + tx + "|" + std::string(t.attrs, t.attrs_len));
    }
    EXPECT_EQ(s.pos, e.end());
    return out;
}

using toks = std::vector<std::string>;

TEST(ListingTokenizer, Cases)
{
    struct row {
        std::string page;
        toks want;
    } rows[] = {
        {"", {}},
        // "<" followed by a letter opens a tag even when no ">" follows: the
        // tag then runs to the end of the page.
        {"a<b", {"T:a", "O:b|"}},
        {"a < b", {"T:a ", "T:<", "T: b"}},
        {"1<2 and 3>2", {"T:1", "T:<", "T:2 and 3>2"}},
        {"a<=b<", {"T:a", "T:<", "T:=b", "T:<"}},
        {"<", {"T:<"}},
        {"</", {"T:<", "T:/"}},
        {"x</ p>", {"T:x", "T:<", "T:/ p>"}},
        {"<1>", {"T:<", "T:1>"}},
        {"<p> <b>", {"O:p|", "T: ", "O:b|"}},
        {"<!-- x --><p>", {"O:p|"}},
        {"<!--ab", {}},
        {"<!--", {}},
        {"<!-->x<p>-->y", {"T:y"}},
        {"<!---->z", {"T:z"}},
        {"<!-- a -- b > c -->d", {"T:d"}},
        {"<!-- never closed <p>", {}},
        {"<!DOCTYPE html><p>", {"O:p|"}},
        {"<?xml version='1.0'?>t", {"T:t"}},
        {"<!x", {}},
        {"<a href='x>y'>t</a>", {"O:a| href='x>y'", "T:t", "C:a|"}},
        {"<a title=\"a>b\" x='\"'>", {"O:a| title=\"a>b\" x='\"'"}},
        {"<a href=\"unclosed>more", {"O:a| href=\"unclosed>more"}},
        {"<td class=x", {"O:td| class=x"}},
        {"<A:b-c1 x>", {"O:A:b-c1| x"}},
        {"<br/>", {"O:br|/"}},
        {"</TD >", {"C:TD| "}},
        {"<script>if (a<b) s='</a>';</script><p>", {"O:script|", "O:p|"}},
        {"<SCRIPT type=x>x</ScRiPt >y", {"O:SCRIPT| type=x", "T:y"}},
        {"<script>x</scriptfoo>y", {"O:script|", "T:y"}},
        {"<style>td>a{}</style>z", {"O:style|", "T:z"}},
        {"<style>never ended <p>", {"O:style|"}},
        {"<script>x</script", {"O:script|"}},
        {"</script>a", {"C:script|", "T:a"}},
        {std::string("a\0b<p>", 6), {std::string("T:a\0b", 5), "O:p|"}},
        // Quotes and ">" on both sides of sixteen-byte boundaries.
        {"<td title=\"a>b, a title past sixteen\" x='>'>t", {"O:td| title=\"a>b, a title past sixteen\" x='>'", "T:t"}},
        {"<a href=\"0123456789abcdef'\">x", {"O:a| href=\"0123456789abcdef'\"", "T:x"}},
        {"<a title=\"unclosed > past sixteen bytes", {"O:a| title=\"unclosed > past sixteen bytes"}},
    };
    for (const row &r : rows) EXPECT_EQ(tokens(r.page), r.want) << "page " << testing::PrintToString(r.page);
}

TEST(ListingAttrs, GetAttr)
{
    struct row {
        std::string attrs;
        const char *name;
        int found;
        std::string value;
    } rows[] = {
        {" HREF = 'a b' href=c", "href", 1, "a b"},
        {" href=c/d.mp3", "href", 1, "c/d.mp3"},
        {" href=it's", "href", 1, "it's"},
        {" checked href=x", "href", 1, "x"},
        {" checked href=x", "checked", 1, ""},
        {" data-href=1 href=2", "href", 1, "2"},
        {"/href=x", "href", 1, "x"},
        {" href=\"unclosed", "href", 1, "unclosed"},
        {" href=\"\"", "href", 1, ""},
        {" ='q' href=y", "href", 1, "y"},
        {" title=\"href=no\" x=1", "href", 0, ""},
        {" alt='[DIR]'", "ALT", 1, "[DIR]"},
        {"", "href", 0, ""},
        {" hrefx=1", "href", 0, ""},
        {" href\t=\n'v'", "href", 1, "v"},
        // The usual shape, name="value" after one space, with values that
        // end inside and past the first sixteen bytes.
        {" href=\"a\"", "href", 1, "a"},
        {" HREF='a \"quoted\" name past sixteen.mp3' x", "href", 1, "a \"quoted\" name past sixteen.mp3"},
        {" href=\"an unclosed value longer than sixteen", "href", 1, "an unclosed value longer than sixteen"},
        {" hre=\"x\" href=\"y\"", "href", 1, "y"},
        {" class=\"href\" href=\"y\"", "href", 1, "y"},
    };
    for (const row &r : rows) {
        const exact e(r.attrs);
        const char *v = reinterpret_cast<const char *>(1);
        size_t vl = 77;
        const int got = get_attr(e.data(), e.size(), r.name, &v, &vl);
        EXPECT_EQ(got, r.found) << "attrs " << r.attrs;
        if (got) {
            EXPECT_EQ(std::string(v, vl), r.value) << "attrs " << r.attrs;
        } else {
            EXPECT_EQ(v, reinterpret_cast<const char *>(1)) << "attrs " << r.attrs;
            EXPECT_EQ(vl, 77u);
        }
    }
}

TEST(ListingAttrs, HasClass)
{
    struct row {
        std::string attrs;
        const char *cls;
        int want;
    } rows[] = {
        {" class='row  Directory'", "directory", 1},
        {" class='row  Directory'", "dir", 0},
        {" class='row  Directory'", "row", 1},
        {" class=file", "file", 1},
        {" id=file", "file", 0},
        {" class='files'", "file", 0},
        {" class=''", "file", 0},
    };
    for (const row &r : rows) {
        const exact e(r.attrs);
        EXPECT_EQ(class_bits(e.data(), e.size(), {r.cls}) != 0, r.want != 0) << r.attrs << " / " << r.cls;
    }
}

TEST(ListingText, CaseFolding)
{
    EXPECT_EQ(ci_eqn("TiTle", 5, "title"), 1);
    EXPECT_EQ(ci_eqn("title", 4, "title"), 0);
    EXPECT_EQ(ci_eqn("\xC9", 1, "\xE9"), 0); // only ASCII letters fold
    EXPECT_EQ(ci_eqn("@", 1, "`"), 0);
    EXPECT_EQ(ci_prefix("Index of /x", 11, "index of "), 1);
    EXPECT_EQ(ci_prefix("Index", 5, "index of "), 0);
    EXPECT_EQ(ci_prefix("", 0, ""), 1);
}

TEST(ListingText, TrimWideSpaces)
{
    struct row {
        std::string in, out;
    } rows[] = {
        {"", ""},
        {"  \t\r\n\f", ""},
        {" \xC2\xA0 \xC2\xA0", ""},
        {"\xE2\x80\xAF"
         "42\xE2\x80\x89",
         "42"},
        {"\xC2\xA0"
         "a b\xC2\xA0",
         "a b"},
        {"\x0B"
         "x\x0B",
         "\x0B"
         "x\x0B"},
        {"x\xC2", "x\xC2"},
        {"\xA0x", "\xA0x"},
        {"\xE2\x80", "\xE2\x80"},
    };
    for (const row &r : rows) {
        const exact e(r.in);
        const char *p = e.data();
        size_t n = e.size();
        trim(&p, &n);
        EXPECT_EQ(std::string(p, n), r.out) << testing::PrintToString(r.in);
        EXPECT_GE(p, e.data());
        EXPECT_LE(p + n, e.end());
    }
}

TEST(ListingText, BuilderGrowth)
{
    sbuf b{};
    ASSERT_EQ(sb_add(&b, "", 0), 0);
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.cap, 64u);
    EXPECT_STREQ(b.data, "");
    std::string s(63, 'a');
    ASSERT_EQ(sb_add(&b, s.data(), s.size()), 0);
    EXPECT_EQ(b.cap, 64u);
    ASSERT_EQ(sb_add(&b, "b", 1), 0);
    EXPECT_EQ(b.cap, 128u);
    EXPECT_EQ(b.len, 64u);
    EXPECT_EQ(std::string(b.data), s + "b");
    sb_free(&b);
    EXPECT_EQ(b.data, nullptr);
    std::string big(300, 'x');
    ASSERT_EQ(sb_add(&b, big.data(), big.size()), 0);
    EXPECT_EQ(b.cap, 512u); // 128 doubled until 301 fits
    EXPECT_EQ(b.data[300], '\0');
    sb_free(&b);
}

TEST(ListingDecode, CharacterReferences)
{
    struct row {
        std::string in, out;
        int bad;
    } rows[] = {
        {"", "", 0},
        {"plain", "plain", 0},
        {"A&amp;B&#x41;&#65;&nbsp;", "A&BAA\xC2\xA0", 0},
        {"&lt;dir&gt; &quot;&apos;", "<dir> \"'", 0},
        {"&#xD83D;&#xDE00;", "\xF0\x9F\x98\x80", 0},
        {"&#55357;&#56832;", "\xF0\x9F\x98\x80", 0},
        {"&#xD800;x", "\xEF\xBF\xBDx", 1},
        {"&#xD800;&amp;", "\xEF\xBF\xBD&", 1},
        {"&#xD800;&#xD800;&#xDC00;", "\xEF\xBF\xBD\xF0\x90\x80\x80", 1},
        {"&#xDC00;", "\xEF\xBF\xBD", 1},
        {"&#0;", "\xEF\xBF\xBD", 1},
        {"&#x110000;", "\xEF\xBF\xBD", 1},
        {"&#xFFFFFFFF;", "\xEF\xBF\xBD", 1},
        {"&#x10FFFF;", "\xF4\x8F\xBF\xBF", 0},
        {"&#9;&#x7f;", "\t\x7f", 0},
        {"&#XE9;&#233;", "\xC3\xA9\xC3\xA9", 0},
        {"&#123456789;", "&#123456789;", 0},
        {"&#00000065;", "A", 0},
        {"AT&T", "AT&T", 0},
        {"&copy;", "&copy;", 0},
        {"&amp", "&amp", 0},
        {"&AMP;", "&AMP;", 0},
        {"&#;&#x;&#xg;", "&#;&#x;&#xg;", 0},
        {"&#65", "&#65", 0},
        {"&lt", "&lt", 0},
        {"&", "&", 0},
        {"x&&amp;", "x&&", 0},
        {"&#x41 ;", "&#x41 ;", 0},
    };
    for (const row &r : rows) {
        const exact e(r.in);
        int bad = 7;
        char *d = kldlp_html_decode(e.data(), e.size(), &bad);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(std::string(d), r.out) << "in " << testing::PrintToString(r.in);
        EXPECT_EQ(bad, r.bad) << "in " << testing::PrintToString(r.in);
        free(d);
    }
    int bad = 5;
    EXPECT_EQ(kldlp_html_decode(nullptr, 3, &bad), nullptr);
    EXPECT_EQ(bad, 0);
    char *d = kldlp_html_decode("&#0;", 4, nullptr);
    EXPECT_STREQ(d, "\xEF\xBF\xBD");
    free(d);
}

TEST(ListingDecode, PercentEscapes)
{
    struct row {
        std::string in, out;
    } rows[] = {
        {"a%20b+c%zz%4", "a b+c%zz%4"},    {"%2F%2f", "//"}, {"%", "%"}, {"%G1", "%G1"}, {"%C3%A9", "\xC3\xA9"},
        {"x%00y", std::string("x\0y", 3)}, {"%%41", "%A"},   {"", ""},
    };
    for (const row &r : rows) {
        const exact e(r.in);
        size_t n = 99;
        char *d = pct_decode(e.data(), e.size(), &n);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(std::string(d, n), r.out) << "in " << r.in;
        EXPECT_EQ(d[n], '\0');
        free(d);
        d = kldlp_pct_decode(e.data(), e.size());
        EXPECT_EQ(memcmp(d, r.out.data(), r.out.size()), 0);
        free(d);
    }
    EXPECT_EQ(kldlp_pct_decode(nullptr, 0), nullptr);
}

} // namespace
