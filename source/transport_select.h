// The current transport and the default-transport accessors.
#pragma once

#include "klaspnet/klaspnet.h"

// The current transport: the installed host or fake record, else the default
// transport (absent in this build: null). Read once per operation.
const velkaron_io *klaspnet_io_current();
// Make rec the current transport (rec must live until unload). Used by the fake.
void klaspnet_io_select(const velkaron_io *rec);
// Install a copy of the host's record; 0, -8 (no get) or -5 (out of memory).
int32_t klaspnet_set_io_impl(const velkaron_io *io);
int32_t klaspnet_use_curl_impl();

// The default transport and its extension; null when the build has none.
const velkaron_io *klaspnet_io_curl();
const velkaron_http *klaspnet_http_curl();
