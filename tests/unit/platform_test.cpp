// The two operating-system services the library relies on: an exclusive lock
// usable from static storage, and the secure 32-bit random source.
#include <gtest/gtest.h>

#include <cstdint>
#include <latch>
#include <thread>
#include <vector>

#include "platform/platform.h"

using namespace klaspnet::platform;

namespace {

// constinit: the lock must be usable before any constructor has run.
constinit lock g_test_lock;
volatile long g_counter = 0;

TEST(PlatformLock, ExcludesConcurrentWriters)
{
    constexpr int threads = 8, rounds = 2000;
    g_counter = 0;
    std::latch start(threads); // all writers run at once, not one after another
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&start] {
            start.arrive_and_wait();
            for (int i = 0; i < rounds; ++i) {
                guard g(g_test_lock);
                // Read, give way, write back: without exclusion the writers
                // overwrite one another and the count comes out short.
                long v = g_counter;
                if (i % 2 == 0) std::this_thread::yield();
                g_counter = v + 1;
            }
        });
    for (auto &t : pool) t.join();
    EXPECT_EQ(g_counter, long(threads) * rounds);
}

TEST(PlatformRandom, DrawsCoverAll32Bits)
{
    // A 15-bit generator (the C library's rand) or a stuck one would leave
    // high bits unset or every draw equal; with a sound source the chance of
    // any bit never being set in 128 draws is 32 * 2^-128.
    uint32_t any = 0, first = rand32();
    bool varies = false;
    for (int i = 0; i < 128; ++i) {
        uint32_t v = rand32();
        any |= v;
        varies = varies || v != first;
    }
    EXPECT_TRUE(varies);
    EXPECT_EQ(any, 0xFFFFFFFFu);
}

} // namespace
