#include "source/transport_select.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

// The library works from its own copy of the host's record: the host's
// record need not outlive klaspnet_set_io. An operation holds the copy it
// took for as long as it runs, so replacing the transport never changes or
// frees a copy in use; a replaced copy is freed by whoever lets go of it
// last.
struct io_node {
    velkaron_io rec;
    io_node *next;  // in the list of replaced copies still held
    uint32_t holds; // running operations that took this copy
};

struct io_store {
    klaspnet::platform::lock lock; // g_io_lock: guards everything below
    const velkaron_io *cur;        // g_io: null means the default transport
    io_node *cur_node;             // the copy cur points into, or null
    io_node *retired;              // replaced copies that operations still hold
    size_t copies;
    ~io_store()
    {
        std::free(cur_node);
        for (io_node *n = retired; n;) {
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

// Called with the lock held: the current copy is being replaced. Returns
// the node to free after the lock is released, or null.
io_node *retire_current()
{
    io_node *n = g_io_state.cur_node;
    g_io_state.cur_node = nullptr;
    if (!n) return nullptr;
    if (n->holds == 0) {
        g_io_state.copies--;
        return n;
    }
    n->next = g_io_state.retired;
    g_io_state.retired = n;
    return nullptr;
}

void make_current(const velkaron_io *rec, io_node *node)
{
    io_node *dead;
    {
        klaspnet::platform::guard g(g_io_state.lock);
        dead = retire_current();
        g_io_state.cur = rec;
        g_io_state.cur_node = node;
        if (node) g_io_state.copies++;
    }
    std::free(dead);
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

void klaspnet_io_select(const velkaron_io *rec) { make_current(rec, nullptr); }

int32_t klaspnet_set_io_impl(const velkaron_io *io)
{
    if (!io) {
        klaspnet_io_select(nullptr);
        return KLASPNET_OK;
    }
    if (!io->get) return KLASPNET_E_INVALID;
    {
        // Installing the record that is current already changes nothing.
        klaspnet::platform::guard g(g_io_state.lock);
        if (g_io_state.cur_node && same_record(g_io_state.cur_node->rec, *io)) {
            g_io_state.cur = &g_io_state.cur_node->rec;
            return KLASPNET_OK;
        }
    }
    auto *n = static_cast<io_node *>(std::malloc(sizeof(io_node)));
    if (!n) return KLASPNET_E_FAILED;
    n->rec = *io;
    n->next = nullptr;
    n->holds = 0;
    make_current(&n->rec, n);
    return KLASPNET_OK;
}

int32_t klaspnet_use_curl_impl()
{
    const velkaron_io *def = klaspnet_io_curl();
    if (!def) return KLASPNET_E_UNSUPPORTED;
    klaspnet_io_select(def);
    return KLASPNET_OK;
}

namespace klaspnet::detail {

io_hold::io_hold() noexcept : io_(nullptr), node_(nullptr)
{
    {
        platform::guard g(g_io_state.lock);
        io_ = g_io_state.cur;
        if (g_io_state.cur_node) {
            g_io_state.cur_node->holds++;
            node_ = g_io_state.cur_node;
        }
    }
    if (!io_) io_ = klaspnet_io_curl();
}

io_hold::~io_hold()
{
    auto *n = static_cast<io_node *>(node_);
    if (!n) return;
    io_node *dead = nullptr;
    {
        platform::guard g(g_io_state.lock);
        if (--n->holds == 0 && n != g_io_state.cur_node) {
            for (io_node **p = &g_io_state.retired; *p; p = &(*p)->next) {
                if (*p == n) {
                    *p = n->next;
                    break;
                }
            }
            g_io_state.copies--;
            dead = n;
        }
    }
    std::free(dead);
}

size_t io_copies()
{
    platform::guard g(g_io_state.lock);
    return g_io_state.copies;
}

} // namespace klaspnet::detail
