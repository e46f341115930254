// The stored listing pages (tests/data, see its README): each page through the
// parser itself and through the parse operation, whose output must equal the
// stored JSON byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "listing/internal.h"
#include "source/ops.h"

using namespace klaspnet::detail;
using namespace kldlp::detail;

namespace {

struct page_row {
    std::string file, url;
    int code;
};

std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::vector<page_row> manifest()
{
    std::vector<page_row> rows;
    std::istringstream in(slurp(std::string(KLASPNET_TEST_DATA) + "/pages.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream cols(line);
        page_row r;
        std::string code;
        std::getline(cols, r.file, '\t');
        std::getline(cols, r.url, '\t');
        std::getline(cols, code, '\t');
        r.code = std::atoi(code.c_str());
        rows.push_back(r);
    }
    return rows;
}

std::string expected_json(const std::string &page_file)
{
    return slurp(std::string(KLASPNET_TEST_DATA) + "/" + page_file.substr(0, page_file.size() - 5) + ".json");
}

TEST(ListingPages, ManifestIsComplete)
{
    const auto rows = manifest();
    EXPECT_GE(rows.size(), 20u);
    for (const page_row &r : rows) {
        EXPECT_FALSE(slurp(std::string(KLASPNET_TEST_DATA) + "/" + r.file).empty()) << r.file;
        EXPECT_FALSE(expected_json(r.file).empty()) << r.file;
    }
}

// The parser reads exactly the bytes it is given: each page sits in a heap
// block of its own length with no NUL after it, so an over-read shows up
// under AddressSanitizer.
TEST(ListingPages, ParserHoldsItsInvariants)
{
    for (const page_row &r : manifest()) {
        SCOPED_TRACE(r.file);
        const std::string page = slurp(std::string(KLASPNET_TEST_DATA) + "/" + r.file);
        char *exact = static_cast<char *>(malloc(page.size()));
        ASSERT_NE(exact, nullptr);
        memcpy(exact, page.data(), page.size());
        kldlp_result res;
        const int rc = kldlp_parse(exact, page.size(), r.url.c_str(), nullptr, &res);
        free(exact);
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
    for (const page_row &r : manifest()) {
        SCOPED_TRACE(r.file);
        const std::string page = slurp(std::string(KLASPNET_TEST_DATA) + "/" + r.file);
        EXPECT_EQ(klaspnet_parse_page(page.c_str(), r.url.c_str(), dst.data(), static_cast<int32_t>(dst.size())),
                  r.code);
        EXPECT_EQ(std::string(dst.data()), expected_json(r.file));
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
        const std::string page = slurp(std::string(KLASPNET_TEST_DATA) + "/" + r.file);
        kldlp_result res;
        ASSERT_EQ(kldlp_parse(page.data(), page.size(), r.url, nullptr, &res), 0) << r.file;
        ASSERT_NE(res.index_of, nullptr) << r.file;
        EXPECT_STREQ(res.index_of, r.index_of) << r.file;
        kldlp_free(&res);
    }
}

} // namespace
