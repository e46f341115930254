// The library frame as a host sees it: identity, published state, the
// download refusal, and transport selection through the module.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capi/module.h"

namespace {

const char k_refusal[] = "{\"error\":\"ASPNET is a read-only listing source: download is not supported\",\"code\":-6}";

TEST(CapiFrame, PublishedStateStartsEmpty)
{
    // Each test runs in a fresh process, so nothing has been published yet.
    EXPECT_STREQ(api().last_error(), "");
    EXPECT_STREQ(api().result_json(), "{}");
}

TEST(CapiFrame, Identity)
{
    EXPECT_STREQ(api().version(), "1.0.0");
    EXPECT_STREQ(api().runtime_type(), "ASPNET");
    EXPECT_EQ(api().caps(), 35);
    const klaspnet_handler *h = api().get_handler();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h, api().get_handler());
    EXPECT_STREQ(h->runtime_type, "ASPNET");
    EXPECT_EQ(h->caps, 0x23u);
    EXPECT_NE(h->validate, nullptr);
    EXPECT_NE(h->list, nullptr);
    EXPECT_NE(h->stream_url, nullptr);
    EXPECT_NE(h->download, nullptr);
}

TEST(CapiFrame, DownloadRefusalFitsAndPublishes)
{
    char buf[200];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(api().download("{}", "{}", buf, sizeof buf), KLASPNET_E_UNSUPPORTED);
    EXPECT_STREQ(buf, k_refusal);
    EXPECT_STREQ(api().last_error(), "ASPNET is a read-only listing source: download is not supported");
    EXPECT_STREQ(api().result_json(), k_refusal);
}

TEST(CapiFrame, DownloadRefusalKeepsItsCodeWhenBufferIsShort)
{
    char buf[10];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(api().download(nullptr, nullptr, buf, sizeof buf), KLASPNET_E_UNSUPPORTED);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 'x'); // nothing but the first byte is touched
    EXPECT_STREQ(api().result_json(), k_refusal);
    // Also through the handler table, with a buffer the host does not have.
    EXPECT_EQ(api().get_handler()->download(nullptr, nullptr, nullptr, nullptr, 0), KLASPNET_E_UNSUPPORTED);
    EXPECT_EQ(api().download("{}", "{}", buf, -5), KLASPNET_E_UNSUPPORTED);
}

TEST(CapiFrame, ResultJsonCopiesStayValidUntilTheNextCall)
{
    char buf[200];
    api().download(nullptr, nullptr, buf, sizeof buf);
    const char *first = api().result_json();
    std::string kept = first;
    const char *second = api().result_json();
    EXPECT_EQ(kept, second);
}

int32_t dummy_get(void *, const char *, char **, int32_t *, char **) { return -1; }

TEST(CapiTransport, SelectionExports)
{
#if defined(KLASPNET_CURL_DEFAULT)
    EXPECT_EQ(api().use_curl(), KLASPNET_OK);
#else
    EXPECT_EQ(api().use_curl(), KLASPNET_E_UNSUPPORTED);
#endif
    velkaron_io none{};
    EXPECT_EQ(api().set_io(&none), KLASPNET_E_INVALID);
    velkaron_io io{};
    io.get = dummy_get;
    EXPECT_EQ(api().set_io(&io), KLASPNET_OK);
    EXPECT_EQ(api().set_io(nullptr), KLASPNET_OK);
}

} // namespace
