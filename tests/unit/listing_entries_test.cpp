#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "listing/internal.h"
#include "parse_ctx.h"
#include "support/exact.h"
#include "unit/listing_insert.h"

using namespace kldlp::detail;

namespace {

using ktest::heap_cstr;

// The entry table of a page in /music/.
struct table : parse_ctx {
    table() : parse_ctx("http://h/music/") {}
    int add(const std::string &name, int folder = 0, int64_t size = -1, const char *date = nullptr)
    {
        return insert_name(&c, name, folder, size, date);
    }
};

TEST(ListingUtf8, WellFormedness)
{
    struct row {
        std::string bytes;
        int ok;
    } rows[] = {
        {"", 1},
        {"plain ascii", 1},
        {std::string("a\0b", 3), 1},
        {"\xC3\xA9", 1},
        {"\xF0\x9F\x98\x80", 1},
        {"\xEF\xBF\xBF", 1},
        {"\xF4\x8F\xBF\xBF", 1},
        {"\x80", 0},
        {"\xE2\x82", 0},
        {"\xC2", 0},
        {"\xE2\x82\x41", 0},
        {"\xC0\x80", 0},
        {"\xC1\xBF", 0},
        {"\xE0\x9F\xBF", 0},
        {"\xF0\x8F\xBF\xBF", 0},
        {"\xED\xA0\x80", 0},
        {"\xED\xBF\xBF", 0},
        {"\xF4\x90\x80\x80", 0},
        {"\xF8\x88\x80\x80\x80", 0},
        {"\xFF", 0},
        {"ok\xC3", 0},
    };
    for (const row &r : rows) {
        const ktest::exact_bytes b(r.bytes);
        EXPECT_EQ(kldlp_utf8_valid(b.data(), b.size()), r.ok) << "row " << testing::PrintToString(r.bytes);
    }
}

TEST(ListingNames, NameRules)
{
    struct row {
        std::string name;
        int ok;
    } rows[] = {
        {"", 0},
        {".", 0},
        {"..", 0},
        {"...", 1},
        {".hidden", 1},
        {"a b", 1},
        {"a\\b", 1},
        {"a\x1f", 0},
        {"a\x7f", 0},
        {"a/b", 0},
        {"\t", 0},
        {std::string("a\0b", 3), 0},
        {"\xC3\xA9t\xC3\xA9", 1},
        {"\xC0\x80", 0},
        {"\xED\xA0\x80", 0},
        {"\xF4\x90\x80\x80", 0},
        {"x\xFF", 0},
        {"..x", 1},
        {"x..", 1},
    };
    for (const row &r : rows) {
        const ktest::exact_bytes b(r.name);
        EXPECT_EQ(name_ok(b.data(), b.size()), r.ok) << "row " << testing::PrintToString(r.name);
    }
}

TEST(ListingEntries, FirstOfSameNameWinsWhateverItsKind)
{
    table t;
    ASSERT_EQ(t.add("Music", 1, 500), 0);
    ASSERT_EQ(t.add("Music", 0, 10), 0);
    ASSERT_EQ(t.add("song.mp3", 0, 7), 0);
    ASSERT_EQ(t.add("song.mp3", 1), 0);
    ASSERT_EQ(t.add("Song.mp3", 0, 8), 0); // names compare case-sensitively
    ASSERT_EQ(t.res.count, 3u);
    EXPECT_EQ(t.res.rejected, 2u);
    EXPECT_STREQ(t.res.items[0].name, "Music");
    EXPECT_EQ(t.res.items[0].folder, 1);
    EXPECT_EQ(t.res.items[0].size, -1); // folders never carry a size
    EXPECT_EQ(t.res.items[0].mtime_ms, -1);
    EXPECT_EQ(t.res.items[1].folder, 0);
    EXPECT_EQ(t.res.items[1].size, 7);
    EXPECT_STREQ(t.res.items[2].name, "Song.mp3");
}

TEST(ListingEntries, FolderFlagIsNormalised)
{
    table t;
    ASSERT_EQ(t.add("d", 42), 0);
    EXPECT_EQ(t.res.items[0].folder, 1);
}

TEST(ListingEntries, RefusedNamesCountAsRejectedAndFreeTheirDates)
{
    table t;
    EXPECT_EQ(insert_name(&t.c, nullptr, 0, 1, "2024-01-01"), 0);
    EXPECT_EQ(t.add("..", 1, -1, "2024-01-01"), 0);
    EXPECT_EQ(t.add("a/b", 0, 1, "x"), 0);
    EXPECT_EQ(t.add("bad\x7f"), 0);
    EXPECT_EQ(t.res.count, 0u);
    EXPECT_EQ(t.res.rejected, 4u);
}

TEST(ListingEntries, NameLengthLimitIsInclusive)
{
    table t;
    t.lim.max_name = 8;
    EXPECT_EQ(t.add("12345678"), 0);
    EXPECT_EQ(t.add("123456789"), 0);
    EXPECT_EQ(t.res.count, 1u);
    EXPECT_EQ(t.res.rejected, 1u);
}

TEST(ListingEntries, EntryLimitFailsOnOneDistinctEntryTooMany)
{
    table t;
    t.lim.max_entries = 3;
    EXPECT_EQ(t.add("a"), 0);
    EXPECT_EQ(t.add("b"), 0);
    EXPECT_EQ(t.add("a"), 0); // a repeat is no new entry
    EXPECT_EQ(t.add("c", 0, -1, "2024-01-01"), 0);
    EXPECT_EQ(t.add("c"), 0); // duplicates are still only rejected at the limit
    EXPECT_EQ(t.add("d", 0, -1, "2024-01-01"), KLDLP_E_TOO_MANY);
    EXPECT_EQ(t.res.count, 3u);
    EXPECT_EQ(t.res.rejected, 2u);
    EXPECT_EQ(date_at(t.c, 2), "2024-01-01");
}

// The writer of a large listing releases the entries behind it: names lie
// in their blocks in entry order, so the release frees whole blocks of
// earlier names only, and records a huge page at a time. Entry i and those
// after it stay readable (a sanitizer build sees any read of a freed name).
TEST(ListingEntries, ReleasingEntriesBehindKeepsTheRest)
{
    table t;
    const int n = 70000; // more than a huge page of records, names in many blocks
    auto name_of = [](int i) { return "entry-" + std::to_string(i) + std::string(i % 7, 'x'); };
    for (int i = 0; i < n; ++i) ASSERT_EQ(t.add(name_of(i), 0, i), 0);
    const void *first = t.res.names.first;
    kldlp_release_before(&t.res, 0);
    EXPECT_EQ(t.res.names.first, first) << "nothing is behind entry 0";
    for (int at : {1, 40, 1000, 1000, 65535, 65536, 65537, n - 1}) {
        kldlp_release_before(&t.res, static_cast<uint64_t>(at));
        for (int i = at; i < n; i += i < at + 100 ? 1 : 97) {
            ASSERT_EQ(std::string(t.res.items[i].name), name_of(i)) << at;
            ASSERT_EQ(t.res.items[i].size, i) << at;
        }
    }
    EXPECT_NE(t.res.names.first, first) << "the blocks behind were released";
    EXPECT_EQ(t.res.names.first, t.res.names.last);
    kldlp_release_before(&t.res, n); // past the end: nothing
    EXPECT_STREQ(t.res.items[n - 1].name, name_of(n - 1).c_str());
}

// A date text that lies in the page is kept as a view into it; one decoded
// or pieced together elsewhere is copied. Either ends at its first NUL.
TEST(ListingEntries, DateTextsInThePageAreViews)
{
    // The page is the first 40 bytes of the buffer.
    const std::string buffer = std::string("<pre>01-Jan-2024 10:00\0junk 02-Feb-2024 11:00</pre>", 49);
    table t;
    t.c.page = buffer.data();
    t.c.page_len = 40;
    const char *in_page = buffer.data() + 5;
    const std::string scratch = "03-Mar-2024 12:00";
    ASSERT_EQ(add_name(&t.c, "a", 1, name_hash(&t.c, "a", 1), 0, -1, in_page, 22), 0);
    ASSERT_EQ(add_name(&t.c, "b", 1, name_hash(&t.c, "b", 1), 0, -1, scratch.data(), scratch.size()), 0);
    // A text that starts in the page but runs past its end is copied.
    const char *across = buffer.data() + 28;
    ASSERT_EQ(add_name(&t.c, "c", 1, name_hash(&t.c, "c", 1), 0, -1, across, 17), 0);
    EXPECT_EQ(t.c.dates[0].p, in_page);
    EXPECT_EQ(date_at(t.c, 0), "01-Jan-2024 10:00");
    EXPECT_NE(t.c.dates[1].p, scratch.data());
    EXPECT_EQ(date_at(t.c, 1), scratch);
    EXPECT_NE(t.c.dates[2].p, across);
    EXPECT_EQ(date_at(t.c, 2), "02-Feb-2024 11:00");
}

// A large page sizes its entry table and name index once, from its length,
// instead of growing them step by step; more entries than that still fit.
TEST(ListingEntries, LargePageSizesItsTableOnce)
{
    table t;
    const std::string page(64 * 4096, ' ');
    t.c.page = page.data();
    t.c.page_len = page.size();
    ASSERT_EQ(t.add("first"), 0);
    EXPECT_GE(t.res.capacity, 4096u);
    EXPECT_GE(t.c.slots, 2 * 4096u + 2);
    const uint64_t slots = t.c.slots;
    for (int i = 0; i < 4095; ++i) ASSERT_EQ(t.add("n" + std::to_string(i)), 0);
    EXPECT_EQ(t.c.slots, slots) << "no rebuild of the index";
    for (int i = 4095; i < 20000; ++i) ASSERT_EQ(t.add("n" + std::to_string(i)), 0);
    ASSERT_EQ(t.res.count, 20001u);
    EXPECT_GE(t.c.slots, 2 * t.res.count + 2);
    for (int i = 0; i < 20000; i += 997) EXPECT_EQ(std::string(t.res.items[i + 1].name), "n" + std::to_string(i));
}

TEST(ListingEntries, LargeTableKeepsOrderIndexAndDates)
{
    table t;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        std::string nm = "file" + std::to_string(i);
        ASSERT_EQ(t.add(nm, i % 3 == 0, i, (i % 2) ? "2024-01-01" : nullptr), 0);
        if (i % 5 == 0) {
            ASSERT_EQ(t.add("file" + std::to_string(i / 2)), 0); // an earlier name again
        }
        // Invariants of the index and the storage after every insertion.
        ASSERT_EQ(t.c.slots & (t.c.slots - 1), 0u);
        ASSERT_GE(t.c.slots, 2 * t.res.count);
        ASSERT_GE(t.res.capacity, t.res.count);
    }
    ASSERT_EQ(t.res.count, static_cast<uint64_t>(n));
    EXPECT_EQ(t.res.rejected, static_cast<uint64_t>((n + 4) / 5));
    EXPECT_EQ(t.res.capacity, 32u << 10); // 32 doubling up to 32768
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(std::string(t.res.items[i].name), "file" + std::to_string(i));
        ASSERT_EQ(t.res.items[i].folder, i % 3 == 0 ? 1 : 0);
        ASSERT_EQ(t.res.items[i].size, i % 3 == 0 ? -1 : i);
        ASSERT_EQ(t.c.dates[i].p != nullptr, i % 2 == 1);
    }
}

TEST(ListingEntries, IndexStartsAt256Slots)
{
    table t;
    ASSERT_EQ(t.add("x"), 0);
    EXPECT_EQ(t.c.slots, 256u);
    EXPECT_EQ(t.res.capacity, 32u);
    for (int i = 0; i < 127; ++i) ASSERT_EQ(t.add("n" + std::to_string(i)), 0);
    EXPECT_EQ(t.c.slots, 256u); // 127 entries: 256 >= 2 * 127 + 2
    ASSERT_EQ(t.add("last"), 0);
    EXPECT_EQ(t.c.slots, 512u);
}

TEST(ListingResult, FreeZeroesAndIsIdempotent)
{
    kldlp_result z{};
    kldlp_free(&z);
    kldlp_free(nullptr);
    table t;
    t.add("a");
    t.res.dialect = KLDLP_DIALECT_NGINX;
    t.res.variant = KLDLP_VARIANT_PRE;
    t.res.index_of = heap_cstr("/x/");
    ctx_release(&t.c);
    EXPECT_EQ(t.c.dates, nullptr);
    EXPECT_EQ(t.c.index, nullptr);
    kldlp_free(&t.res);
    kldlp_result zero{};
    EXPECT_EQ(memcmp(&t.res, &zero, sizeof zero), 0);
    kldlp_free(&t.res);
}

TEST(ListingResult, DialectAndVariantNames)
{
    EXPECT_STREQ(kldlp_dialect_name(0), "unknown");
    EXPECT_STREQ(kldlp_dialect_name(1), "aspnet");
    EXPECT_STREQ(kldlp_dialect_name(2), "nginx");
    EXPECT_STREQ(kldlp_dialect_name(3), "apache");
    // 4 to 7 name the servers added after the first three (7 was "unknown"
    // while only those three were known).
    EXPECT_STREQ(kldlp_dialect_name(4), "lighttpd");
    EXPECT_STREQ(kldlp_dialect_name(5), "caddy");
    EXPECT_STREQ(kldlp_dialect_name(6), "python");
    EXPECT_STREQ(kldlp_dialect_name(7), "iis");
    EXPECT_STREQ(kldlp_dialect_name(8), "unknown");
    EXPECT_STREQ(kldlp_dialect_name(-1), "unknown");
    EXPECT_STREQ(kldlp_variant_name(0), "none");
    EXPECT_STREQ(kldlp_variant_name(1), "table");
    EXPECT_STREQ(kldlp_variant_name(2), "pre");
    EXPECT_STREQ(kldlp_variant_name(3), "list");
    EXPECT_STREQ(kldlp_variant_name(4), "none");
}

} // namespace
