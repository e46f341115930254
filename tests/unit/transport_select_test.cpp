#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "source/transport_select.h"

using namespace klaspnet::detail;

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

TEST(TransportSelect, AHeldCopyOutlivesItsReplacement)
{
    velkaron_io a{nullptr, get_a, nullptr, nullptr};
    velkaron_io b{nullptr, get_b, nullptr, nullptr};
    ASSERT_EQ(klaspnet_set_io_impl(&a), 0);
    const size_t base = io_copies();
    {
        io_hold held;
        ASSERT_EQ(held.get()->get, get_a);
        ASSERT_EQ(klaspnet_set_io_impl(&b), 0);
        ASSERT_EQ(klaspnet_set_io_impl(&a), 0); // a fresh copy: the held one is retired
        EXPECT_EQ(io_copies(), base + 1);
        EXPECT_EQ(held.get()->get, get_a); // still whole
        EXPECT_NE(held.get(), klaspnet_io_current());
    }
    EXPECT_EQ(io_copies(), base); // freed by its last holder
    // Re-installing the current record keeps its copy.
    const velkaron_io *cur = klaspnet_io_current();
    ASSERT_EQ(klaspnet_set_io_impl(&a), 0);
    EXPECT_EQ(klaspnet_io_current(), cur);
    ASSERT_EQ(klaspnet_set_io_impl(nullptr), 0);
    EXPECT_EQ(io_copies(), 0u);
}

// One thread keeps installing transports, each with a context of its own as
// a host that makes one per call does, while others hold the current one and
// call through it as running operations do: every record read is whole, and
// the number of live copies stays bounded by the holders.
TEST(TransportSelect, ReplacementWhileOperationsRunKeepsCopiesBounded)
{
    static int ctx_a, ctx_b;
    std::atomic<bool> stop{false};
    std::atomic<long> bad{0};
    std::atomic<size_t> most{0};
    constexpr int k_readers = 3;
    std::vector<std::thread> readers;
    for (int t = 0; t < k_readers; t++) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                io_hold held;
                const velkaron_io *io = held.get();
                if (!io || (io->get != get_a && io->get != get_b)) continue; // none yet, or the default
                const int32_t rc = io->get(io->ctx, "", nullptr, nullptr, nullptr);
                const bool whole = (rc == 1 && io->get == get_a) || (rc == 2 && io->get == get_b);
                if (!whole) bad++;
            }
        });
    }
    for (int i = 0; i < 100000; i++) {
        // A distinct context every time, so no copy is ever reused.
        velkaron_io rec{reinterpret_cast<char *>(i % 2 ? &ctx_a : &ctx_b) + (i & 1023), i % 2 ? get_a : get_b, nullptr,
                        nullptr};
        ASSERT_EQ(klaspnet_set_io_impl(&rec), 0);
        const size_t n = io_copies();
        if (n > most) most = n;
    }
    stop = true;
    for (auto &t : readers) t.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_LE(most.load(), static_cast<size_t>(k_readers + 1)); // the current one and one per holder
    ASSERT_EQ(klaspnet_set_io_impl(nullptr), 0);
    EXPECT_EQ(io_copies(), 0u);
}

} // namespace
