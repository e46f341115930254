// Hostile pages of up to 16 MiB: pages made to stall the tokenizer, to fill
// the entry table, or to carry absurd names and links. Each parses, or is
// refused, exactly as an ordinary page of the same shape would be; none
// crashes or runs away (bench/bench_hostile.cpp shows the time per MiB
// staying flat).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "hostile_pages.h"
#include "listing/kldlp.h"
#include "source/ops.h"
#include "support/exact.h"

using namespace klaspnet::detail;

namespace {

constexpr size_t k_page_max = 16 * hostile::k_mib;
const char k_url[] = "http://h/m/";

struct parsed {
    int rc;
    kldlp_result r;
    parsed(const std::string &page)
    {
        const ktest::exact_bytes copy(page);
        rc = kldlp_parse(copy.data(), copy.size(), k_url, nullptr, &r);
    }
    ~parsed() { kldlp_free(&r); }
    parsed(const parsed &) = delete;
};

struct row {
    const char *what;
    std::function<std::string()> page;
    int rc;
    int64_t count;    // -1: not checked
    int64_t rejected; // -1: not checked
    int64_t skipped;  // -1: not checked
};

TEST(HostilePages, ParseOrRefuseAsTheirShapeSays)
{
    const row rows[] = {
        {"16 MiB of <", [] { return hostile::lt_only(k_page_max); }, KLDLP_E_NOT_LISTING, 0, 0, 0},
        {"listing head, then < to 16 MiB", [] { return hostile::lt_listing(k_page_max); }, 0, 0, 0, 1},
        {"unclosed comments to 16 MiB", [] { return hostile::open_comments(k_page_max); }, 0, 0, 0, 1},
        {"closed comments hiding rows, 16 MiB", [] { return hostile::closed_comments(k_page_max); }, 0, 0, 0, 1},
        {"100001 distinct entries", [] { return hostile::distinct_entries(100001); }, KLDLP_E_TOO_MANY, 0, 0, 0},
        {"100000 distinct entries", [] { return hostile::distinct_entries(100000); }, 0, 100000, 0, 1},
        {"100000 copies of one entry", [] { return hostile::duplicate_entries(100000); }, 0, 1, 99999, 1},
        {"1 MiB name in an nginx link", [] { return hostile::long_name_nginx(hostile::k_mib); }, 0, 1, 1, 1},
        {"1 MiB name in an ASP.NET row", [] { return hostile::long_name_aspnet(hostile::k_mib); }, 0, 1, 1, 0},
        {"1000 links climbing 2700 folders", [] { return hostile::dot_dot_chain(2700, 1000); }, 0, 1, 0, 1001},
        {"4 links climbing 300000 folders", [] { return hostile::dot_dot_chain(300000, 4); }, 0, 1, 4, 1},
    };
    for (const row &w : rows) {
        SCOPED_TRACE(w.what);
        std::string page = w.page();
        ASSERT_LE(page.size(), k_page_max);
        parsed p(page);
        EXPECT_EQ(p.rc, w.rc);
        if (w.count >= 0) {
            EXPECT_EQ(p.r.count, static_cast<uint64_t>(w.count));
        }
        if (w.rejected >= 0) {
            EXPECT_EQ(p.r.rejected, static_cast<uint64_t>(w.rejected));
        }
        if (w.skipped >= 0) {
            EXPECT_EQ(p.r.skipped, static_cast<uint64_t>(w.skipped));
        }
    }
}

TEST(HostilePages, NestedUnclosedQuotesMakeOneTagToTheEnd)
{
    std::string page = hostile::nested_quotes(k_page_max);
    ASSERT_EQ(page.size(), k_page_max);
    parsed p(page);
    ASSERT_EQ(p.rc, 0);
    // The parent link, then a single start tag that swallows the page: at
    // most one more link is seen, whatever becomes of it.
    EXPECT_LE(p.r.count + p.r.rejected + p.r.skipped, 2u);
}

TEST(HostilePages, DistinctEntriesKeepPageOrderAndTheirColumns)
{
    parsed p(hostile::distinct_entries(100000));
    ASSERT_EQ(p.rc, 0);
    ASSERT_EQ(p.r.count, 100000u);
    std::set<std::string> names;
    for (uint64_t i = 0; i < p.r.count; ++i) {
        char want[32];
        std::snprintf(want, sizeof want, "f%07llu", static_cast<unsigned long long>(i));
        ASSERT_STREQ(p.r.items[i].name, want);
        ASSERT_EQ(p.r.items[i].size, 4096);
        ASSERT_EQ(p.r.items[i].mtime_ms, 1704103200000);
    }
}

TEST(HostilePages, RowsOfTenThousandCellsKeepTheirColumns)
{
    size_t rows = 0;
    std::string page = hostile::wide_rows(10000, k_page_max, &rows);
    ASSERT_GT(rows, 100u);
    parsed p(page);
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.r.dialect, KLDLP_DIALECT_APACHE);
    EXPECT_EQ(p.r.variant, KLDLP_VARIANT_TABLE);
    ASSERT_EQ(p.r.count, rows);
    for (uint64_t i = 0; i < p.r.count; ++i) {
        ASSERT_EQ(p.r.items[i].size, 123) << i;
        ASSERT_EQ(p.r.items[i].mtime_ms, 1704103200000) << i;
    }
}

TEST(HostilePages, TheParseOperationCarriesOneHundredThousandItems)
{
    std::string page = hostile::distinct_entries(100000);
    std::vector<char> dst(16 * hostile::k_mib);
    ASSERT_EQ(klaspnet_parse_page(page.c_str(), k_url, dst.data(), static_cast<int32_t>(dst.size())), 0);
    std::string out = dst.data();
    EXPECT_NE(out.find("\"count\":100000,"), std::string::npos);
    EXPECT_NE(out.find("{\"name\":\"f0099999\",\"folder\":false,\"size\":4096,\"mtime_ms\":1704103200000}]}"),
              std::string::npos);

    page = hostile::distinct_entries(100001);
    EXPECT_EQ(klaspnet_parse_page(page.c_str(), k_url, dst.data(), static_cast<int32_t>(dst.size())),
              KLASPNET_E_FAILED);
    EXPECT_STREQ(dst.data(), "{\"error\":\"more than 100000 entries\",\"code\":-5}");
}

} // namespace
