// Placeholder until the scripted fake transport lands.
#include "transport/fake.h"

#include "source/transport_select.h"

const velkaron_io *klaspnet_io_fake() { return nullptr; }
const velkaron_http *klaspnet_http_fake() { return nullptr; }
int32_t klaspnet_use_fake_impl() { return KLASPNET_E_UNSUPPORTED; }
void klaspnet_fake_reset_impl() {}
int32_t klaspnet_fake_set_impl(const char *, int32_t, const char *, const char *) { return KLASPNET_E_UNSUPPORTED; }
int32_t klaspnet_fake_fail_impl(const char *, const char *) { return KLASPNET_E_UNSUPPORTED; }
uint32_t klaspnet_fake_calls_impl(const char *) { return 0; }
const char *klaspnet_fake_last_request_impl(const char *) { return "{\"calls\":0,\"range\":null,\"auth\":false}"; }
