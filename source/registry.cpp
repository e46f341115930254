// Placeholder until the extension registry lands.
#include "source/registry.h"

int32_t klaspnet_bind_http_impl(const velkaron_io *, const velkaron_http *) { return KLASPNET_E_INVALID; }
const velkaron_http *klaspnet_http_for(const velkaron_io *) { return nullptr; }
