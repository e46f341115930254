// The shared text routines: percent-encoding with a keep-set, UTF-8 repair
// and cutting, and the clamped decimal reader.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "common/text.h"

using namespace klaspnet::text;

namespace {

std::string encode(const std::string &in, const byte_set &keep)
{
    std::string out(pct_encoded_size(in.data(), in.size(), keep), '?');
    char *end = pct_encode_to(out.data(), in.data(), in.size(), keep);
    EXPECT_EQ(static_cast<size_t>(end - out.data()), out.size()) << in;
    return out;
}

TEST(Text, PercentEncoding)
{
    EXPECT_EQ(encode("a b&c+%/\xC3\xA4~_-.Z9", k_keep_unreserved), "a%20b%26c%2B%25%2F%C3%A4~_-.Z9");
    EXPECT_EQ(encode(std::string("\0\x7f", 2), k_keep_unreserved), "%00%7F");
    EXPECT_EQ(encode("", k_keep_unreserved), "");
    constexpr byte_set only_a = make_set([](unsigned char c) { return c == 'a'; });
    EXPECT_EQ(encode("ab", only_a), "a%62");
}

// The encoder stores four bytes for each input byte while four input bytes
// remain: on a heap block of exactly the counted size (AddressSanitizer
// watches its end), every mix of kept and encoded bytes up to ten long.
TEST(Text, PercentEncodingStaysInItsRoom)
{
    for (unsigned len = 0; len <= 10; ++len) {
        for (unsigned mask = 0; mask < (1u << len); ++mask) {
            std::string in, want;
            for (unsigned i = 0; i < len; ++i) {
                in += (mask >> i) & 1 ? ' ' : 'a';
                want += (mask >> i) & 1 ? "%20" : "a";
            }
            const size_t size = pct_encoded_size(in.data(), in.size(), k_keep_unreserved);
            ASSERT_EQ(size, want.size());
            char *out = static_cast<char *>(std::malloc(size ? size : 1));
            char *end = pct_encode_to(out, in.data(), in.size(), k_keep_unreserved);
            EXPECT_EQ(std::string(out, static_cast<size_t>(end - out)), want);
            std::free(out);
        }
    }
}

TEST(Text, Utf8Repair)
{
    struct row {
        std::string in, out; // out empty: already well-formed, no copy
    } rows[] = {
        {"plain", ""},
        {"\xC3\xA9", ""},
        {"Zeit\xFC"
         "berschreitung",
         "Zeit\xEF\xBF\xBD"
         "berschreitung"},
        {"\xC3", "\xEF\xBF\xBD"},
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // a surrogate: three bad bytes
        {"a\x80z", "a\xEF\xBF\xBDz"},
    };
    for (const row &r : rows) {
        char *got = utf8_repaired(r.in.data(), r.in.size());
        if (r.out.empty()) {
            EXPECT_EQ(got, nullptr) << r.in;
        } else {
            ASSERT_NE(got, nullptr) << r.in;
            EXPECT_EQ(std::string(got), r.out);
            EXPECT_TRUE(utf8_valid(got, r.out.size()));
        }
        std::free(got);
    }
}

TEST(Text, Utf8CutKeepsWholeCharacters)
{
    const std::string e = "\xC3\xA9";             // 2 bytes
    const std::string smile = "\xF0\x9F\x98\x80"; // 4 bytes
    struct row {
        std::string in;
        size_t max, want;
    } rows[] = {
        {"abc", 5, 3},       {"abc", 2, 2},       {e + e, 3, 2},       {e + e, 2, 2},
        {"a" + smile, 4, 1}, {"a" + smile, 5, 5}, {"a" + smile, 1, 1}, {"\x80\x80\x80\x80x", 2, 2},
        {smile, 0, 0},       {"ab\xC3", 2, 2},
    };
    for (const row &r : rows) EXPECT_EQ(utf8_cut(r.in.data(), r.in.size(), r.max), r.want) << r.in << " " << r.max;
}

TEST(Text, ClampedDecimal)
{
    struct row {
        const char *in;
        int want;
    } rows[] = {
        {"80", 80},
        {"  +443x", 443},
        {"-5", -5},
        {"", 0},
        {"abc", 0},
        {"\t\n 7", 7},
        {"2147483647", INT_MAX},
        {"4294967376", INT_MAX},
        {"-99999999999", -INT_MAX},
    };
    for (const row &r : rows) EXPECT_EQ(read_int_clamped(r.in), r.want) << r.in;
}

} // namespace
