// This build carries no default transport: the host installs its own.
#include "source/transport_select.h"

const velkaron_io *klaspnet_io_curl() { return nullptr; }
const velkaron_http *klaspnet_http_curl() { return nullptr; }
