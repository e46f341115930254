// The current transport and the default-transport accessors.
#pragma once

#include <cstddef>

#include "klaspnet/klaspnet.h"

// The current transport: the installed host or fake record, else the default
// transport (absent in this build: null). The pointer is for comparison and
// for callers that hold no reference only: an operation takes the transport
// with klaspnet_io_acquire, which keeps the library's copy alive.
const velkaron_io *klaspnet_io_current();
// Make rec the current transport (rec must live until unload). Used by the fake.
void klaspnet_io_select(const velkaron_io *rec);
// Install a copy of the host's record; 0, -8 (no get) or -5 (out of memory).
int32_t klaspnet_set_io_impl(const velkaron_io *io);
int32_t klaspnet_use_curl_impl();

// The default transport and its extension; null when the build has none.
const velkaron_io *klaspnet_io_curl();
const velkaron_http *klaspnet_http_curl();

namespace klaspnet::detail {

// The current transport, held for one operation: the library's copy of the
// host's record stays alive until the holder is released, even when the host
// installs another transport meanwhile. Once neither current nor held, a copy
// is freed, so a host that installs a new context for every call keeps a
// bounded number of copies.
class io_hold {
public:
    io_hold() noexcept;
    ~io_hold();
    io_hold(const io_hold &) = delete;
    io_hold &operator=(const io_hold &) = delete;
    const velkaron_io *get() const { return io_; }

private:
    const velkaron_io *io_;
    void *node_; // the copy that is held, or null for a built-in transport
};

// Copies of host records alive now (current or held by a running operation).
size_t io_copies();

} // namespace klaspnet::detail
