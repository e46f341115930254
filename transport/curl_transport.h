// A host transport on libcurl: the plain velkaron_io (its get follows
// redirects itself) and the velkaron_http extension (one exchange per request,
// no redirect followed, response headers reported). The command-line tool and
// the real-server tests install it as any host would; a build with the curl
// default transport also hands it out through the default-transport accessors.
#pragma once

#include "klaspnet/klaspnet.h"

// The constant records. Both are identified by their callbacks and a null ctx.
// libcurl's global initialisation runs on first use, once, on whichever thread
// gets there first; nothing runs at load.
const velkaron_io *klaspnet_curl_io();
const velkaron_http *klaspnet_curl_http();
