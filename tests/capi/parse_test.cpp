// klaspnet_parse as a host calls it: every stored listing page (tests/data)
// through the loaded module, the output compared byte for byte with the
// stored JSON, and the buffer convention seen from outside.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capi/module.h"
#include "support/data.h"

namespace {

TEST(CapiParse, StoredPages)
{
    const auto rows = ktest::stored_pages();
    ASSERT_FALSE(rows.empty());
    std::vector<char> dst(1 << 20);
    for (const ktest::stored_page &r : rows) {
        SCOPED_TRACE(r.file);
        const std::string page = r.page();
        const std::string want = r.json();
        // Poison the buffer: the answer must be the whole text with its NUL.
        std::fill(dst.begin(), dst.end(), '#');
        EXPECT_EQ(api().parse(page.c_str(), r.url.c_str(), dst.data(), static_cast<int32_t>(dst.size())), r.code);
        ASSERT_EQ(std::string(dst.data()), want);
        EXPECT_EQ(dst[want.size() + 1], '#');
        EXPECT_EQ(std::string(api().result_json()), want);
        if (r.code == 0) {
            EXPECT_STREQ(api().last_error(), "");
        }
    }
}

TEST(CapiParse, TooSmallBufferPublishesTheWholeResult)
{
    const std::string page = ktest::data_file("nginx_basic.html");
    const std::string want = ktest::data_file("nginx_basic.json");
    std::vector<char> dst(want.size(), '#');
    EXPECT_EQ(api().parse(page.c_str(), "http://127.0.0.1:18090/Music/", dst.data(), static_cast<int32_t>(dst.size())),
              KLASPNET_E_BUFFER);
    EXPECT_EQ(dst[0], '\0');
    EXPECT_EQ(std::string(api().last_error()),
              "output buffer too small: " + std::to_string(want.size() + 1) + " bytes needed");
    EXPECT_EQ(std::string(api().result_json()), want);
}

TEST(CapiParse, NeedsNoTransport)
{
    // Clearing the transport does not matter to parse.
    api().set_io(nullptr);
    char dst[512];
    EXPECT_EQ(api().parse("<h1>Index of /m/</h1><pre></pre>", "https://h/m/", dst, sizeof dst), KLASPNET_OK);
    EXPECT_STREQ(dst, "{\"op\":\"parse\",\"dialect\":\"nginx\",\"variant\":\"pre\",\"date_order\":\"none\",\"count\":0,"
                      "\"rejected\":0,\"skipped\":0,\"items\":[]}");
    EXPECT_EQ(api().parse(nullptr, nullptr, dst, sizeof dst), KLASPNET_E_INVALID);
    EXPECT_STREQ(dst, "{\"error\":\"html and page_url are required\",\"code\":-8}");
}

} // namespace
