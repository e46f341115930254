// The fake transport's controls and the extension binding, as a host sees them.
#include <gtest/gtest.h>

#include <string>

#include "capi/module.h"

namespace {

const char k_empty[] = "{\"calls\":0,\"range\":null,\"auth\":false}";

class CapiFake : public ::testing::Test {
protected:
    void SetUp() override { api().fake_reset(); }
    void TearDown() override { api().fake_reset(); }
};

TEST_F(CapiFake, SelectionAndScriptingCodes)
{
    EXPECT_EQ(api().use_fake(), 0);
    EXPECT_EQ(api().use_fake(), 0);
    EXPECT_EQ(api().fake_set("http://h/", 200, nullptr, "<html></html>"), 0);
    EXPECT_EQ(api().fake_set("http://h/", 200, "Content-Type: text/html", "again"), 0);
    EXPECT_EQ(api().fake_set("http://h/", 200, nullptr, nullptr), KLASPNET_E_INVALID);
    EXPECT_EQ(api().fake_set(nullptr, 200, nullptr, "x"), KLASPNET_E_INVALID);
    EXPECT_EQ(api().fake_fail("http://h/down", nullptr), 0);
    EXPECT_EQ(api().fake_fail("http://h/down", "boom"), 0);
    EXPECT_EQ(api().fake_fail(nullptr, "boom"), KLASPNET_E_INVALID);
    EXPECT_EQ(api().set_io(nullptr), 0);
}

TEST_F(CapiFake, CountersAndLastRequestStartEmpty)
{
    EXPECT_EQ(api().fake_set("http://h/", 200, nullptr, "x"), 0);
    EXPECT_EQ(api().fake_calls(nullptr), 0u);
    EXPECT_EQ(api().fake_calls("http://h/"), 0u);
    EXPECT_EQ(api().fake_calls("http://h/never"), 0u);
    EXPECT_STREQ(api().fake_last_request("http://h/"), k_empty);
    EXPECT_STREQ(api().fake_last_request("http://h/never"), k_empty);
    EXPECT_STREQ(api().fake_last_request(nullptr), k_empty);
    // The text stays valid until the next call.
    const char *a = api().fake_last_request("http://h/");
    std::string copy = a;
    EXPECT_EQ(copy, k_empty);
    api().fake_reset();
    EXPECT_STREQ(api().fake_last_request("http://h/"), k_empty);
}

int32_t host_get(void *, const char *, char **, int32_t *, char **) { return -1; }
int32_t host_request(void *, const velkaron_http_req *, int32_t *, char **) { return -1; }

TEST_F(CapiFake, BindingChecksItsArguments)
{
    int ctx = 0;
    velkaron_io io{&ctx, host_get, nullptr, nullptr};
    velkaron_http good{32, 1, nullptr, host_request, nullptr};
    velkaron_http small{31, 1, nullptr, host_request, nullptr};
    velkaron_http v2{32, 2, nullptr, host_request, nullptr};
    velkaron_http noreq{32, 1, nullptr, nullptr, nullptr};
    EXPECT_EQ(api().bind_http(&io, &small), KLASPNET_E_INVALID);
    EXPECT_EQ(api().bind_http(&io, &v2), KLASPNET_E_INVALID);
    EXPECT_EQ(api().bind_http(&io, &noreq), KLASPNET_E_INVALID);
    EXPECT_EQ(api().bind_http(nullptr, &good), KLASPNET_E_INVALID);
    EXPECT_EQ(api().bind_http(&io, nullptr), 0); // nothing bound yet
    EXPECT_EQ(api().bind_http(&io, &good), 0);
    EXPECT_EQ(api().bind_http(&io, &good), 0);
    EXPECT_EQ(api().bind_http(&io, nullptr), 0);

    // Eight keys fit, a ninth does not.
    int ctxs[9];
    for (int i = 0; i < 8; i++) {
        velkaron_io k{&ctxs[i], host_get, nullptr, nullptr};
        EXPECT_EQ(api().bind_http(&k, &good), 0) << i;
    }
    velkaron_io ninth{&ctxs[8], host_get, nullptr, nullptr};
    EXPECT_EQ(api().bind_http(&ninth, &good), KLASPNET_E_INVALID);
    for (int i = 0; i < 8; i++) {
        velkaron_io k{&ctxs[i], host_get, nullptr, nullptr};
        EXPECT_EQ(api().bind_http(&k, nullptr), 0) << i;
    }
}

} // namespace
