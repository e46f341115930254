// A host transport on libcurl: the plain velkaron_io (its get follows
// redirects itself) and the velkaron_http extension (one exchange per request,
// no redirect followed, response headers reported). The command-line tool and
// the real-server tests install it as any host would; a build with the curl
// default transport also hands it out through the default-transport accessors.
#pragma once

#include <cstdint>

#include "klaspnet/klaspnet.h"

// The constant records. Both are identified by their callbacks and a null ctx.
// libcurl's global initialisation runs on first use, once, on whichever thread
// gets there first; nothing runs at load.
const velkaron_io *klaspnet_curl_io();
const velkaron_http *klaspnet_curl_http();

// What the transport tells an observer about a request. One request may take
// several attempts (see klaspnet_curl_options::retries); the library sees only
// the last one.
struct klaspnet_curl_event {
    enum kind_t : int {
        progress, // an attempt is under way (called often, also while nothing arrives)
        retry,    // an attempt failed in a way worth repeating; the next one follows after delay
        end       // the request is over, whatever its outcome
    } kind;
    uint64_t request;   // numbers one request through all its attempts
    const char *url;    // as requested; on the plain road it may carry userinfo
    double elapsed;     // seconds since this attempt began
    uint64_t received;  // body bytes of this attempt so far
    uint64_t expected;  // the announced body length, 0 when unknown
    int attempt;        // 1 for the first attempt
    int http;           // retry: the status that asked for it; 0 for a failed connection
    double delay;       // retry: seconds before the next attempt
    const char *reason; // retry: libcurl's text for a failed connection, else null
};

// Settings of the transport for a host that offers them to its user. All
// zero (the defaults): certificates checked against the system's store,
// 30 s to connect, the request's own time limit (120 s), no retries.
struct klaspnet_curl_options {
    bool insecure = false;         // accept any certificate and host name
    const char *ca_file = nullptr; // certificates to trust instead of the system's bundle
    const char *ca_path = nullptr; // a folder of hashed certificates to trust as well
    long connect_timeout_ms = 0;   // 0: 30000
    long max_time_ms = 0;          // one attempt's limit; 0: the request's own
    // Further attempts after a failed connection or timeout (when nothing of
    // the answer has reached the library yet) and after 408, 429 and 5xx
    // answers, which are then not passed on. The wait doubles from 1 s, or
    // is what the answer's Retry-After asks (at most 10 minutes).
    int retries = 0;
    // Called on the requesting thread, from inside libcurl's callbacks; it
    // must return quickly and never throw.
    void (*observer)(void *ctx, const klaspnet_curl_event *ev) = nullptr;
    void *observer_ctx = nullptr;
};

// Replaces the options (null: the defaults). The texts are referenced, not
// copied. Not synchronised with requests in flight: a host sets the options
// before its first request.
void klaspnet_curl_configure(const klaspnet_curl_options *options);

// libcurl's version text, such as "libcurl/7.88.1 OpenSSL/3.0.11 ...".
const char *klaspnet_curl_version();
