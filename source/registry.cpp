// Which HTTP extension belongs to which transport.
//
// A velkaron_io record has no field that leads to its velkaron_http, so the
// host binds the two explicitly. A transport is identified by its (get, ctx)
// pair, never by the address of its record: the library works from its own
// copy of the host's record, and the lookup for that copy must find what the
// host bound through the original.
#include "source/registry.h"

#include "platform/platform.h"
#include "source/transport_select.h"
#include "transport/fake.h"

namespace {

using get_fn = decltype(velkaron_io::get);

struct bind_slot {
    get_fn get; // null marks an empty slot
    void *ctx;
    const velkaron_http *http; // the host's record, kept by pointer
};

constexpr int k_slots = 8;

struct bind_table {
    klaspnet::platform::lock lock; // g_bind_lock
    bind_slot slot[k_slots];
};

constinit bind_table g_bind{};

bool same_transport(const velkaron_io *a, const velkaron_io *b)
{
    return a && b && a->get == b->get && a->ctx == b->ctx;
}

bool usable(const velkaron_http *http) { return http->size >= 32 && http->version == 1 && http->request != nullptr; }

} // namespace

int32_t klaspnet_bind_http_impl(const velkaron_io *io, const velkaron_http *http)
{
    if (!io || !io->get) return KLASPNET_E_INVALID;
    if (http && !usable(http)) return KLASPNET_E_INVALID;

    klaspnet::platform::guard g(g_bind.lock);
    for (bind_slot &s : g_bind.slot) {
        if (s.get == io->get && s.ctx == io->ctx) {
            if (http)
                s.http = http;
            else
                s = bind_slot{};
            return KLASPNET_OK;
        }
    }
    if (!http) return KLASPNET_OK; // nothing bound, nothing to unbind
    for (bind_slot &s : g_bind.slot) {
        if (!s.get) {
            s.get = io->get;
            s.ctx = io->ctx;
            s.http = http;
            return KLASPNET_OK;
        }
    }
    return KLASPNET_E_INVALID; // every slot taken
}

const velkaron_http *klaspnet_http_for(const velkaron_io *io)
{
    if (!io) return nullptr;
    // The built-in transports carry their extension without a binding, and a
    // binding keyed on their callbacks never overrides it.
    if (same_transport(klaspnet_io_curl(), io)) return klaspnet_http_curl();
    if (same_transport(klaspnet_io_fake(), io)) return klaspnet_http_fake();

    klaspnet::platform::guard g(g_bind.lock);
    for (const bind_slot &s : g_bind.slot) {
        if (s.get && s.get == io->get && s.ctx == io->ctx && s.http) return s.http;
    }
    return nullptr;
}
