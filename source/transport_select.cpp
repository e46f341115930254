#include "source/transport_select.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

// Every record the host installs is copied into a node that lives until the
// module is unloaded: an operation that took the current transport keeps
// reading its copy without a lock, so replacing the transport must never
// change or free a copy that is still in use. Installing a record identical
// to an earlier one reuses that copy, so a host that re-installs the same
// transport does not grow memory.
struct io_node {
    velkaron_io rec;
    io_node *next;
};

struct io_store {
    klaspnet::platform::lock lock; // g_io_lock: guards g_io and the node list
    const velkaron_io *cur;        // g_io: null means the default transport
    io_node *head;
    ~io_store()
    {
        for (io_node *n = head; n;) {
            io_node *next = n->next;
            std::free(n);
            n = next;
        }
    }
};

constinit io_store g_io_state{};

bool same_record(const velkaron_io &a, const velkaron_io &b)
{
    return a.ctx == b.ctx && a.get == b.get && a.post == b.post && a.free == b.free;
}

} // namespace

const velkaron_io *klaspnet_io_current()
{
    const velkaron_io *io;
    {
        klaspnet::platform::guard g(g_io_state.lock);
        io = g_io_state.cur;
    }
    return io ? io : klaspnet_io_curl();
}

void klaspnet_io_select(const velkaron_io *rec)
{
    klaspnet::platform::guard g(g_io_state.lock);
    g_io_state.cur = rec;
}

int32_t klaspnet_set_io_impl(const velkaron_io *io)
{
    if (!io) {
        klaspnet_io_select(nullptr);
        return KLASPNET_OK;
    }
    if (!io->get) return KLASPNET_E_INVALID;
    velkaron_io rec = *io; // the host's record need not outlive the call
    klaspnet::platform::guard g(g_io_state.lock);
    for (io_node *n = g_io_state.head; n; n = n->next) {
        if (same_record(n->rec, rec)) {
            g_io_state.cur = &n->rec;
            return KLASPNET_OK;
        }
    }
    auto *n = static_cast<io_node *>(std::malloc(sizeof(io_node)));
    if (!n) return KLASPNET_E_FAILED;
    n->rec = rec;
    n->next = g_io_state.head;
    g_io_state.head = n;
    g_io_state.cur = &n->rec;
    return KLASPNET_OK;
}

int32_t klaspnet_use_curl_impl()
{
    const velkaron_io *def = klaspnet_io_curl();
    if (!def) return KLASPNET_E_UNSUPPORTED;
    klaspnet_io_select(def);
    return KLASPNET_OK;
}
