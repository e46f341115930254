// This build carries libcurl as its default transport: klaspnet_use_curl
// selects it, and its HTTP extension is recognised without any binding.
#include "source/transport_select.h"
#include "transport/curl_transport.h"

const velkaron_io *klaspnet_io_curl() { return klaspnet_curl_io(); }
const velkaron_http *klaspnet_http_curl() { return klaspnet_curl_http(); }
