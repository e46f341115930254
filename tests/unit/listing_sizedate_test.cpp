#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "listing/internal.h"
#include "support/exact.h"
#include "unit/listing_insert.h"

using namespace kldlp::detail;

namespace {

using exact = ktest::exact_bytes;

int64_t size_of(const std::string &s)
{
    const exact e(s);
    return kldlp_parse_size(e.data(), e.size());
}

int64_t date_of(const std::string &s, int32_t order)
{
    const exact e(s);
    return kldlp_parse_date(e.data(), e.size(), order);
}

TEST(ListingSizes, Table)
{
    struct row {
        std::string text;
        int64_t want;
    } rows[] = {
        {"42", 42},
        {"  42\t", 42},
        {"\xC2\xA0"
         "42\xC2\xA0",
         42},
        {"\xE2\x80\xAF"
         "42\xE2\x80\x89",
         42},
        {"0", 0},
        {"007", 7},
        {"1,234", 1234},
        {"1.234", 1234},
        {"1.500", 1500},
        {"12 345 678", 12345678},
        {"1'234", 1234},
        {"1\xC2\xA0"
         "234",
         1234},
        {"1\xD9\xAC"
         "234",
         1234},
        {"1\xE2\x80\x89"
         "234",
         1234},
        {"1\xE2\x80\x99"
         "234",
         1234},
        {"1\xE2\x80\xAF"
         "234\xE2\x80\xAF"
         "567",
         1234567},
        {"1,234,567", 1234567},
        {"12,34,567", 1234567},
        {"1,23,456", 123456},
        {"05.03.05.03.205.03.05.03.205", 5030503205030503205LL}, // leading zero: 20 digits, 19 significant
        {"123,456", 123456},
        {"1,234.567", -1},
        {"1 234,567", -1},
        {"1\xC2\xA0"
         "234 567",
         -1},
        {"1,2345", -1},
        {"12345,678", -1},
        {"1234,567", -1},
        {"1,2,345", -1},
        {"1,2", -1},
        {"1,", -1},
        {"1,,234", -1},
        {",123", -1},
        {"1.2K", -1},
        {"1.5", -1},
        {"100 bytes", -1},
        {"-", -1},
        {"+1", -1},
        {"-1", -1},
        {"", -1},
        {" \xC2\xA0 ", -1},
        {"<dir>", -1},
        {"\x0B"
         "42",
         -1},
        {"1\xD9", -1},
        {"9223372036854775807", 9223372036854775807LL},
        {"9,223,372,036,854,775,807", 9223372036854775807LL},
        {"9223372036854775808", -1},
        {"9,223,372,036,854,775,808", -1},
        {"18446744073709551616", -1},
        {"00000000000000000042", -1},
        {"0000000000000000042", 42},
    };
    for (const row &r : rows) EXPECT_EQ(size_of(r.text), r.want) << "size " << testing::PrintToString(r.text);
    EXPECT_EQ(kldlp_parse_size(nullptr, 3), -1);
}

constexpr int64_t k_noon = 1704110400000; // 2024-01-01 12:00 UTC

TEST(ListingDates, ReadUnderEveryOrder)
{
    struct row {
        std::string text;
        int64_t want;
    } rows[] = {
        {"01-Jan-2024 12:00", k_noon},
        {"2024-01-01T12:00:00Z", k_noon},
        {"2024-01-01 12:00", k_noon},
        {"2024-01-01 12:00:00", k_noon},
        {"2024-01-01 12:00 UTC", k_noon},
        {"2024-01-01 12:00 gmt", k_noon},
        {"2024-01-01\xC2\xA0"
         "12:00",
         k_noon},
        {"2024-01-01 12:00 +0100", 1704106800000},
        {"2024-01-01 12:00 +01:00", 1704106800000},
        {"2024-01-01 12:00 +01", 1704106800000},
        {"2024-01-01 12:00 -05:30", 1704130200000},
        {"2024-01-01 12:00 +14:00", k_noon - 14 * 3600000LL},
        {"2024-01-01 12:00 AM", 1704067200000},
        {"2024-01-01 12:30 PM", 1704112200000},
        {"2024-01-01 1:00 a.m.", 1704070800000},
        {"2024-01-01 1:00 p.m.", 1704114000000},
        {"2024-01-01 1:00pm", 1704114000000},
        {"2024/01/05 \xE5\x8D\x88\xE5\xBE\x8C 3:04", 1704467040000}, // 午後
        {"2024/01/05 \xE4\xB8\x8B\xE5\x8D\x88"
         "3:04",
         1704467040000},                                              // 下午
        {"2024/01/05 \xEC\x98\xA4\xEC\xA0\x84 12:04", 1704413040000}, // 오전
        {"2024/01/05 \xE5\x8D\x88\xE5\x89\x8D 12:04", 1704413040000}, // 午前
        {"Sep. 5 2024", 1725494400000},
        {"5 September 2024", 1725494400000},
        {"2024-Sep-05", 1725494400000},
        {"Jan 5, 2024 10:11", 1704449460000},
        {"29-Feb-2024", 1709164800000},
        {"2000-02-29", 951782400000},
        {"1970-01-01", 0},
        {"1970-01-01 01:00 +01:00", 0},
        {"9999-12-31 23:59:59", 253402300799000},
        {"2024-01-01", 1704067200000},
        {"2024-1-1", 1704067200000},
        // not readable
        {"", -1},
        {"-", -1},
        {"2024-01-01T12:00:00+01:00", -1},
        {"2024-01-01 12:00:00.5", -1},
        {"2024-01-01 0:30 PM", -1},
        {"2024-01-01 13:30 PM", -1},
        {"2024-01-01 PM", -1},
        {"2024-01-01 12:00 PM PM", -1},
        {"2024-01-01 12:00 UTC +01:00", -1},
        {"2024-01-01 12:00 +15:00", -1},
        {"2024-01-01 12:00 +01:60", -1},
        {"2024-01-01 +0100", -1},
        {"2024-01-01 12", -1},
        {"2024-01-01 12:0", -1},
        {"2024-01-01 123:00", -1},
        {"2024-01-01 24:00", -1},
        {"2024-01-01 12:60", -1},
        {"2024-01-01 12:00:60", -1},
        {"2024-01-01 12:00:0", -1},
        {"Monday, 01-Jan-2024", -1},
        {"Sept 5 2024", -1},
        {"Jan Feb 5 2024", -1},
        {"January 2024", -1},
        {"29-Feb-2023", -1},
        {"31-Apr-2024", -1},
        {"2100-02-29", -1},
        {"2024-13-01", -1},
        {"2024-00-10", -1},
        {"2024-01-00", -1},
        {"1969-12-31 23:59", -1},
        {"1970-01-01 00:30 +01:00", -1},
        {"10000-01-01", -1},
        {"24-01-01", -1},
        {"1234567890", -1},
        {"1 2 3 4 5 6 7 8 9", -1},
        {"2024-01-01 ~", -1},
        {"2024-01-01 12:00 T", -1},
        {"2024-01-01 12:00 +", -1},
        {"\xE5\x8D\x88", -1},
        {"5 Jan 2024 \xE5\x8D\x88\xE5\xBE", -1},
    };
    for (const row &r : rows)
        for (int32_t order = 0; order <= 4; ++order)
            EXPECT_EQ(date_of(r.text, order), r.want)
                << "date " << testing::PrintToString(r.text) << " order " << order;
    EXPECT_EQ(kldlp_parse_date(nullptr, 0, 2), -1);
}

TEST(ListingDates, DayMonthDatesNeedAnOrder)
{
    struct row {
        const char *text;
        int64_t by_order[5];
    } rows[] = {
        {"6/10/2019 2:09:05 PM +00:00", {-1, -1, 1570370945000, 1560175745000, -1}},
        {"03/04/2024", {-1, -1, 1712102400000, 1709510400000, -1}},
        {"13/01/2024", {-1, -1, 1705104000000, -1, -1}},
        {"01/13/2024", {-1, -1, -1, 1705104000000, -1}},
    };
    for (const row &r : rows)
        for (int32_t order = 0; order <= 4; ++order)
            EXPECT_EQ(date_of(r.text, order), r.by_order[order]) << r.text << " order " << order;
}

TEST(ListingDates, Shape)
{
    struct row {
        std::string text;
        int ok, n, month, ampm, tz, tz_min;
        char sep;
    } rows[] = {
        {"05.03.2024", 1, 3, 0, 0, 0, 0, '.'},
        {"03/15/2024 10:00", 1, 5, 0, 0, 0, 0, '/'},
        {"5 Jan 2024", 1, 2, 1, 0, 0, 0, ' '},
        {"5-Jan-2024", 1, 2, 1, 0, 0, 0, '-'},
        {"5, Jan 2024", 1, 2, 1, 0, 0, 0, ' '},
        {"5,Jan 2024", 1, 2, 1, 0, 0, 0, 0},
        {"12:00", 1, 2, 0, 0, 0, 0, 0},
        {"Jan 5", 1, 1, 1, 0, 0, 0, 0},
        {"2024-01-01 10:00 pm -0330", 1, 5, 0, 2, 1, -210, '-'},
        {"2024-01-01 10:00 Z", 1, 5, 0, 0, 1, 0, '-'},
        {"", 1, 0, 0, 0, 0, 0, 0},
        {"2024-01-01 x", 0, 0, 0, 0, 0, 0, 0},
    };
    for (const row &r : rows) {
        const exact e(r.text);
        date_shape_t sh;
        memset(&sh, 0x55, sizeof sh);
        date_shape(e.data(), e.size(), &sh);
        SCOPED_TRACE(r.text);
        EXPECT_EQ(sh.ok, r.ok);
        if (!r.ok) continue;
        EXPECT_EQ(sh.n, r.n) << r.text;
        EXPECT_EQ(sh.month, r.month) << r.text;
        EXPECT_EQ(sh.ampm, r.ampm) << r.text;
        EXPECT_EQ(sh.tz, r.tz) << r.text;
        EXPECT_EQ(sh.tz_min, r.tz_min) << r.text;
        EXPECT_EQ(sh.sep, r.sep) << r.text;
    }
    const exact e("007 2024");
    date_shape_t sh;
    date_shape(e.data(), e.size(), &sh);
    EXPECT_EQ(sh.nums[0], 7);
    EXPECT_EQ(sh.ndig[0], 3); // leading zeros count
    EXPECT_EQ(sh.ndig[1], 4);
}

// Entries added by hand with their date texts, then the page-wide decision.
struct page {
    kldlp_limits lim{16777216, 100000, 8192, 1024, 0};
    kldlp_result res{};
    kldlp_ctx c{};
    page(std::vector<const char *> dates, int32_t hint)
    {
        lim.date_order = hint;
        c.lim = &lim;
        c.page_url = "http://h/";
        c.res = &res;
        int i = 0;
        for (const char *d : dates) EXPECT_EQ(insert_name(&c, "e" + std::to_string(i++), 0, -1, d), 0);
        decide_dates(&c);
    }
    ~page()
    {
        ctx_release(&c);
        kldlp_free(&res);
    }
};

TEST(ListingDateOrder, Decision)
{
    struct row {
        std::vector<const char *> dates;
        int32_t hint;
        int32_t order, hinted;
        std::vector<int64_t> mtimes;
    } rows[] = {
        {{"05.03.2024", "10.11.2024"}, 0, 2, 0, {1709596800000, 1731196800000}},
        {{"03/15/2024", "15/03/2024"}, 0, 4, 0, {-1, -1}},
        {{"03/15/2024", "15/03/2024"}, 2, 4, 0, {-1, -1}},
        {{"03/04/2024"}, 0, 4, 0, {-1}},
        {{"03/04/2024"}, 1, 4, 0, {-1}},
        {{"03/04/2024"}, 4, 4, 0, {-1}},
        {{"03/04/2024"}, 2, 2, 1, {1712102400000}},
        {{"03/04/2024"}, 3, 3, 1, {1709510400000}},
        {{"2024-03-04"}, 2, 1, 0, {1709510400000}},
        {{"2024-03-04"}, 3, 1, 0, {1709510400000}},
        {{"03/15/2024", "03/04/2024", "2024-01-01"}, 2, 3, 0, {1710460800000, 1709510400000, 1704067200000}},
        {{"13/01/2024", "03/04/2024"}, 3, 2, 0, {1705104000000, 1712102400000}},
        {{"01-02-2024"}, 0, 2, 0, {1706745600000}},
        {{"03/04/2024", "01-Jan-2024 12:00", nullptr}, 0, 4, 0, {-1, k_noon, -1}},
        {{"03/04/2024", "garbage 03/15/2024"}, 2, 2, 1, {1712102400000, -1}},
        {{nullptr, nullptr}, 2, 0, 0, {-1, -1}},
        {{"garbage", "Mon"}, 3, 0, 0, {-1, -1}},
        // Texts without numbers (a blank column, an empty cell, a lone "-")
        // are well formed but say nothing: no date was read.
        {{"garbage", "", "-"}, 3, 0, 0, {-1, -1, -1}},
        {{"", "  ", "-", "\xC2\xA0"}, 0, 0, 0, {-1, -1, -1, -1}},
        {{"-", "2024-01-01"}, 0, 1, 0, {-1, 1704067200000}},
        {{"2024-02-30"}, 0, 1, 0, {-1}},
        {{}, 2, 0, 0, {}},
    };
    int i = 0;
    for (const row &r : rows) {
        page p(r.dates, r.hint);
        EXPECT_EQ(p.res.date_order, r.order) << "row " << i;
        EXPECT_EQ(p.res.date_hinted, r.hinted) << "row " << i;
        ASSERT_EQ(p.res.count, r.mtimes.size()) << "row " << i;
        for (size_t k = 0; k < r.mtimes.size(); ++k)
            EXPECT_EQ(p.res.items[k].mtime_ms, r.mtimes[k]) << "row " << i << " entry " << k;
        ++i;
    }
}

} // namespace
