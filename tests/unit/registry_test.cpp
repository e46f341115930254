// Binding HTTP extensions to host transports and finding them again.
#include <gtest/gtest.h>

#include "source/registry.h"
#include "source/transport_select.h"
#include "transport/fake.h"

namespace {

int32_t get_a(void *, const char *, char **, int32_t *, char **) { return -1; }
int32_t get_b(void *, const char *, char **, int32_t *, char **) { return -1; }
int32_t req_a(void *, const velkaron_http_req *, int32_t *, char **) { return -1; }

int g_ctx[16];

velkaron_io io_for(int i, decltype(velkaron_io::get) get = get_a)
{
    return velkaron_io{&g_ctx[i], get, nullptr, nullptr};
}

velkaron_http ext(uint32_t size = 32, uint32_t version = 1, decltype(velkaron_http::request) req = req_a)
{
    return velkaron_http{size, version, nullptr, req, nullptr};
}

// The registry lives for the whole process; leave it empty for the next test.
class Registry : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (int i = 0; i < 16; i++) {
            velkaron_io a = io_for(i), b = io_for(i, get_b);
            klaspnet_bind_http_impl(&a, nullptr);
            klaspnet_bind_http_impl(&b, nullptr);
        }
    }
};

TEST_F(Registry, RebindingAKeyReplacesItsExtension)
{
    velkaron_http h1 = ext(), h2 = ext();
    velkaron_io io = io_for(0);
    ASSERT_EQ(klaspnet_bind_http_impl(&io, &h1), 0);
    ASSERT_EQ(klaspnet_bind_http_impl(&io, &h2), 0);
    EXPECT_EQ(klaspnet_http_for(&io), &h2);
    // Only one slot was used: seven more keys still fit.
    velkaron_http h = ext();
    for (int i = 1; i < 8; i++) {
        velkaron_io o = io_for(i);
        EXPECT_EQ(klaspnet_bind_http_impl(&o, &h), 0) << "key " << i;
    }
    velkaron_io ninth = io_for(8);
    EXPECT_EQ(klaspnet_bind_http_impl(&ninth, &h), KLASPNET_E_INVALID);
}

TEST_F(Registry, FullRegistryRefusesAndAFreedSlotIsReused)
{
    velkaron_http hs[9];
    for (int i = 0; i < 9; i++) hs[i] = ext();
    for (int i = 0; i < 8; i++) {
        velkaron_io o = io_for(i);
        ASSERT_EQ(klaspnet_bind_http_impl(&o, &hs[i]), 0);
    }
    velkaron_io ninth = io_for(8);
    EXPECT_EQ(klaspnet_bind_http_impl(&ninth, &hs[8]), KLASPNET_E_INVALID);
    EXPECT_EQ(klaspnet_http_for(&ninth), nullptr);
    for (int i = 0; i < 8; i++) {
        velkaron_io o = io_for(i);
        EXPECT_EQ(klaspnet_http_for(&o), &hs[i]);
    }

    velkaron_io third = io_for(3);
    ASSERT_EQ(klaspnet_bind_http_impl(&third, nullptr), 0);
    EXPECT_EQ(klaspnet_http_for(&third), nullptr);
    EXPECT_EQ(klaspnet_bind_http_impl(&ninth, &hs[8]), 0);
    EXPECT_EQ(klaspnet_http_for(&ninth), &hs[8]);
}

TEST_F(Registry, UnbindingAnUnboundKeySucceeds)
{
    velkaron_io io = io_for(5);
    EXPECT_EQ(klaspnet_bind_http_impl(&io, nullptr), 0);
    EXPECT_EQ(klaspnet_http_for(&io), nullptr);
}

TEST_F(Registry, RejectsBadArguments)
{
    struct row {
        const char *what;
        velkaron_http h;
    } rows[] = {
        {"size 31", ext(31)},
        {"version 2", ext(32, 2)},
        {"version 0", ext(32, 0)},
        {"no request", ext(32, 1, nullptr)},
    };
    velkaron_io io = io_for(0);
    for (const row &r : rows) {
        EXPECT_EQ(klaspnet_bind_http_impl(&io, &r.h), KLASPNET_E_INVALID) << r.what;
        EXPECT_EQ(klaspnet_http_for(&io), nullptr) << r.what;
    }
    velkaron_http good = ext(48); // a larger, newer record is fine
    EXPECT_EQ(klaspnet_bind_http_impl(nullptr, &good), KLASPNET_E_INVALID);
    velkaron_io no_get{&g_ctx[0], nullptr, nullptr, nullptr};
    EXPECT_EQ(klaspnet_bind_http_impl(&no_get, &good), KLASPNET_E_INVALID);
    EXPECT_EQ(klaspnet_bind_http_impl(&no_get, nullptr), KLASPNET_E_INVALID);
    EXPECT_EQ(klaspnet_bind_http_impl(&io, &good), 0);
    EXPECT_EQ(klaspnet_http_for(&io), &good);
}

TEST_F(Registry, TransportsAreKnownByGetAndContext)
{
    velkaron_http h = ext();
    velkaron_io r2 = io_for(1);
    ASSERT_EQ(klaspnet_bind_http_impl(&r2, &h), 0);

    // A different record with the same (get, ctx), as the library's own copy is.
    velkaron_io r = r2;
    r.free = [](void *, void *) {};
    EXPECT_EQ(klaspnet_http_for(&r), &h);
    ASSERT_EQ(klaspnet_set_io_impl(&r), 0);
    EXPECT_EQ(klaspnet_http_for(klaspnet_io_current()), &h);
    klaspnet_set_io_impl(nullptr);

    velkaron_io other_ctx = io_for(2);
    velkaron_io other_get = io_for(1, get_b);
    EXPECT_EQ(klaspnet_http_for(&other_ctx), nullptr);
    EXPECT_EQ(klaspnet_http_for(&other_get), nullptr);
    EXPECT_EQ(klaspnet_http_for(nullptr), nullptr);
}

TEST_F(Registry, FakeCarriesItsExtensionWithoutBinding)
{
    ASSERT_NE(klaspnet_io_fake(), nullptr);
    EXPECT_EQ(klaspnet_http_for(klaspnet_io_fake()), klaspnet_http_fake());
    ASSERT_EQ(klaspnet_use_fake_impl(), 0);
    EXPECT_EQ(klaspnet_http_for(klaspnet_io_current()), klaspnet_http_fake());

    // A binding keyed on the fake's callbacks never overrides its own extension.
    velkaron_http h = ext();
    velkaron_io fake = *klaspnet_io_fake();
    ASSERT_EQ(klaspnet_bind_http_impl(&fake, &h), 0);
    EXPECT_EQ(klaspnet_http_for(&fake), klaspnet_http_fake());
    EXPECT_EQ(klaspnet_bind_http_impl(&fake, nullptr), 0);
    klaspnet_set_io_impl(nullptr);
}

} // namespace
