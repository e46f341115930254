// The stored listing pages (tests/data, see its README): each page through the
// parser itself and through the parse operation, whose output must equal the
// stored JSON byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "listing/internal.h"
#include "source/ops.h"
#include "support/data.h"
#include "support/exact.h"

using namespace klaspnet::detail;
using namespace kldlp::detail;

namespace {

using ktest::stored_page;

TEST(ListingPages, ManifestIsComplete)
{
    const auto rows = ktest::stored_pages();
    EXPECT_GE(rows.size(), 20u);
    for (const stored_page &r : rows) {
        EXPECT_FALSE(r.page().empty()) << r.file;
        EXPECT_FALSE(r.json().empty()) << r.file;
    }
}

// The parser reads exactly the bytes it is given: each page sits in a heap
// block of its own length with no NUL after it, so an over-read shows up
// under AddressSanitizer.
TEST(ListingPages, ParserHoldsItsInvariants)
{
    for (const stored_page &r : ktest::stored_pages()) {
        SCOPED_TRACE(r.file);
        kldlp_result res;
        // The copy is gone before the result is read: nothing in it may
        // point into the page.
        const int rc = [&] {
            const ktest::exact_bytes page(r.page());
            return kldlp_parse(page.data(), page.size(), r.url.c_str(), nullptr, &res);
        }();
        if (r.code == 0) {
            ASSERT_EQ(rc, KLDLP_OK);
            EXPECT_NE(res.dialect, KLDLP_DIALECT_UNKNOWN);
            EXPECT_NE(res.variant, KLDLP_VARIANT_NONE);
        } else {
            EXPECT_EQ(rc, KLDLP_E_NOT_LISTING);
            EXPECT_EQ(res.dialect, 0);
        }
        for (uint64_t i = 0; i < res.count; i++) {
            const kldlp_entry &e = res.items[i];
            EXPECT_TRUE(name_ok(e.name, strlen(e.name))) << e.name;
            if (e.folder) {
                EXPECT_EQ(e.size, -1) << e.name;
            }
            for (uint64_t j = 0; j < i; j++) EXPECT_STRNE(res.items[j].name, e.name);
        }
        kldlp_free(&res);
    }
}

TEST(ListingPages, ParseOperationWritesTheStoredJson)
{
    std::vector<char> dst(1 << 20);
    for (const stored_page &r : ktest::stored_pages()) {
        SCOPED_TRACE(r.file);
        const std::string page = r.page();
        EXPECT_EQ(klaspnet_parse_page(page.c_str(), r.url.c_str(), dst.data(), static_cast<int32_t>(dst.size())),
                  r.code);
        EXPECT_EQ(std::string(dst.data()), r.json());
    }
}

// The title names the folder on every dialect; the operation does not show
// it, so it is checked here.
TEST(ListingPages, IndexOfComesFromTheTitle)
{
    struct row {
        const char *file, *url, *index_of;
    } rows[] = {
        {"nginx_basic.html", "http://127.0.0.1:18090/Music/", "/Music/"},
        {"apache_table.html", "http://127.0.0.1:18091/Music/", "/Music"},
        {"aspnet.html", "http://localhost:5000/Music/", "/Music/"},
    };
    for (const row &r : rows) {
        const std::string page = ktest::data_file(r.file);
        kldlp_result res;
        ASSERT_EQ(kldlp_parse(page.data(), page.size(), r.url, nullptr, &res), 0) << r.file;
        ASSERT_NE(res.index_of, nullptr) << r.file;
        EXPECT_STREQ(res.index_of, r.index_of) << r.file;
        kldlp_free(&res);
    }
}

} // namespace
