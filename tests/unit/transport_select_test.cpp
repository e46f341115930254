#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "source/transport_select.h"

namespace {

int32_t get_a(void *, const char *, char **, int32_t *, char **) { return 1; }
int32_t get_b(void *, const char *, char **, int32_t *, char **) { return 2; }

#if !defined(KLASPNET_CURL_DEFAULT)
TEST(TransportSelect, NoDefaultTransportInThisBuild)
{
    // Other tests of this binary may have installed a transport first.
    ASSERT_EQ(klaspnet_set_io_impl(nullptr), KLASPNET_OK);
    EXPECT_EQ(klaspnet_io_current(), nullptr);
    EXPECT_EQ(klaspnet_io_curl(), nullptr);
    EXPECT_EQ(klaspnet_http_curl(), nullptr);
    EXPECT_EQ(klaspnet_use_curl_impl(), KLASPNET_E_UNSUPPORTED);
    EXPECT_EQ(klaspnet_io_current(), nullptr);
}
#else
TEST(TransportSelect, DefaultTransportIsCurrentWhenNothingIsInstalled)
{
    ASSERT_EQ(klaspnet_set_io_impl(nullptr), KLASPNET_OK);
    ASSERT_NE(klaspnet_io_curl(), nullptr);
    EXPECT_EQ(klaspnet_io_current(), klaspnet_io_curl());
    EXPECT_EQ(klaspnet_use_curl_impl(), KLASPNET_OK);
}
#endif

TEST(TransportSelect, InstallCopiesAndKeepsPreviousOnBadRecord)
{
    int ctx = 0;
    {
        velkaron_io host{&ctx, get_a, nullptr, nullptr};
        ASSERT_EQ(klaspnet_set_io_impl(&host), KLASPNET_OK);
        host.get = get_b; // the library works from its own copy
    }
    const velkaron_io *cur = klaspnet_io_current();
    ASSERT_NE(cur, nullptr);
    EXPECT_EQ(cur->get, get_a);
    EXPECT_EQ(cur->ctx, &ctx);

    velkaron_io bad{&ctx, nullptr, nullptr, nullptr};
    EXPECT_EQ(klaspnet_set_io_impl(&bad), KLASPNET_E_INVALID);
    EXPECT_EQ(klaspnet_io_current(), cur);

    EXPECT_EQ(klaspnet_set_io_impl(nullptr), KLASPNET_OK);
    EXPECT_EQ(klaspnet_io_current(), klaspnet_io_curl()); // back to the default (absent: null)
}

TEST(TransportSelect, ReinstallingTheSameRecordReusesItsCopy)
{
    velkaron_io a{nullptr, get_a, nullptr, nullptr};
    velkaron_io b{nullptr, get_b, nullptr, nullptr};
    ASSERT_EQ(klaspnet_set_io_impl(&a), 0);
    const velkaron_io *ca = klaspnet_io_current();
    ASSERT_EQ(klaspnet_set_io_impl(&b), 0);
    const velkaron_io *cb = klaspnet_io_current();
    EXPECT_NE(ca, cb);
    for (int i = 0; i < 1000; i++) {
        ASSERT_EQ(klaspnet_set_io_impl(&a), 0);
        ASSERT_EQ(klaspnet_io_current(), ca);
        ASSERT_EQ(klaspnet_set_io_impl(&b), 0);
        ASSERT_EQ(klaspnet_io_current(), cb);
    }
    // The copy a running operation took stays intact after a replacement.
    EXPECT_EQ(ca->get, get_a);
}

// One thread keeps replacing the transport while others take it and call
// through it, as running operations do: every record read must be whole.
TEST(TransportSelect, ReplacementNeverDisturbsRunningReaders)
{
    int ctx_a = 0, ctx_b = 0;
    velkaron_io a{&ctx_a, get_a, nullptr, nullptr};
    velkaron_io b{&ctx_b, get_b, nullptr, nullptr};
    ASSERT_EQ(klaspnet_set_io_impl(&a), 0);
    std::atomic<bool> stop{false};
    std::atomic<long> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; t++) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const velkaron_io *io = klaspnet_io_current();
                if (!io || (io->get != get_a && io->get != get_b))
                    continue; // the default transport, when the build has one
                int32_t rc = io->get(io->ctx, "", nullptr, nullptr, nullptr);
                bool whole = (rc == 1 && io->ctx == &ctx_a) || (rc == 2 && io->ctx == &ctx_b);
                if (!whole) bad++;
            }
        });
    }
    for (int i = 0; i < 20000; i++) {
        klaspnet_set_io_impl(i % 2 ? &a : &b);
        if (i % 100 == 0) klaspnet_set_io_impl(nullptr);
    }
    stop = true;
    for (auto &t : readers) t.join();
    EXPECT_EQ(bad.load(), 0);
}

} // namespace
