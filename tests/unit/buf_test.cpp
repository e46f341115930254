#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "source/buf.h"

namespace {

TEST(Buf, GrowthFollowsPowersOfTwoFrom128)
{
    struct row {
        size_t append;
        size_t cap;
    } rows[] = {{0, 128}, {127, 128}, {128, 256}, {255, 256}, {256, 512}, {1000, 1024}, {1023, 1024}, {1024, 2048}};
    for (const row &r : rows) {
        klaspnet_buf b{};
        std::string bytes(r.append, 'a');
        ASSERT_EQ(klaspnet_buf_add(&b, bytes.data(), bytes.size()), 0);
        EXPECT_EQ(b.cap, r.cap) << "append " << r.append;
        EXPECT_EQ(b.len, r.append);
        EXPECT_EQ(b.data[b.len], '\0');
        EXPECT_EQ(std::strlen(b.data), r.append);
        klaspnet_buf_free(&b);
    }
}

TEST(Buf, AppendsKeepContentAndTerminator)
{
    klaspnet_buf b{};
    std::string want;
    for (int i = 0; i < 500; i++) {
        std::string piece = std::to_string(i) + ",";
        ASSERT_EQ(klaspnet_buf_adds(&b, piece.c_str()), 0);
        want += piece;
    }
    EXPECT_EQ(std::string(b.data, b.len), want);
    EXPECT_EQ(b.data[b.len], '\0');
    b.len = 0; // reuse keeps the allocation
    size_t cap = b.cap;
    ASSERT_EQ(klaspnet_buf_adds(&b, "x"), 0);
    EXPECT_EQ(b.cap, cap);
    EXPECT_STREQ(b.data, "x");
    klaspnet_buf_free(&b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
    ASSERT_EQ(klaspnet_buf_add(&b, "ab", 2), 0); // usable again after free
    EXPECT_STREQ(b.data, "ab");
    klaspnet_buf_free(&b);
}

TEST(Buf, AppendKeepsEmbeddedNul)
{
    klaspnet_buf b{};
    ASSERT_EQ(klaspnet_buf_add(&b, "a\0b", 3), 0);
    EXPECT_EQ(b.len, 3u);
    EXPECT_EQ(std::memcmp(b.data, "a\0b\0", 4), 0);
    klaspnet_buf_free(&b);
}

TEST(Buf, ReserveExactOrByDoubling)
{
    klaspnet_buf b{};
    ASSERT_EQ(klaspnet_buf_reserve(&b, 1000, true), 0);
    EXPECT_EQ(b.cap, 1001u); // an announced length: exactly, with the NUL
    EXPECT_EQ(b.len, 0u);
    EXPECT_STREQ(b.data, "");
    ASSERT_EQ(klaspnet_buf_add(&b, std::string(1000, 'x').data(), 1000), 0);
    EXPECT_EQ(b.cap, 1001u) << "no growth within the reservation";
    ASSERT_EQ(klaspnet_buf_add(&b, "y", 1), 0);
    EXPECT_EQ(b.cap, 2002u) << "beyond it, doubling as ever";
    klaspnet_buf_free(&b);
    ASSERT_EQ(klaspnet_buf_reserve(&b, 1000), 0);
    EXPECT_EQ(b.cap, 1024u);
    klaspnet_buf_free(&b);
}

// Past 4 MiB a growing buffer moves into a new block by copying: every byte
// and the terminator come along, through several moves.
TEST(Buf, LargeGrowthKeepsContent)
{
    klaspnet_buf b{};
    std::string want;
    for (int i = 0; i < 20; ++i) {
        const std::string piece((size_t{1} << 20) - 3 + static_cast<size_t>(i), static_cast<char>('a' + i));
        ASSERT_EQ(klaspnet_buf_add(&b, piece.data(), piece.size()), 0);
        want += piece;
    }
    EXPECT_EQ(b.len, want.size());
    EXPECT_GE(b.cap, b.len + 1);
    EXPECT_TRUE(std::string(b.data, b.len) == want);
    EXPECT_EQ(b.data[b.len], '\0');
    klaspnet_buf_free(&b);
}

TEST(Strdup, CopiesOrGivesNull)
{
    EXPECT_EQ(klaspnet_strdup(nullptr), nullptr);
    char *e = klaspnet_strdup("");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e, "");
    free(e);
    const char *src = "h\xC3\xA9llo";
    char *c = klaspnet_strdup(src);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c, src);
    EXPECT_STREQ(c, src);
    free(c);
}

} // namespace
