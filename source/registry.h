// Binding of HTTP extensions to host transports, keyed by (get, ctx).
#pragma once

#include <cstdint>

#include "klaspnet/klaspnet.h"

int32_t klaspnet_bind_http_impl(const velkaron_io *io, const velkaron_http *http);
// The extension of a transport: the built-in ones first, then the bindings.
const velkaron_http *klaspnet_http_for(const velkaron_io *io);
