// One HTTP GET through the current transport, with the library's own redirect
// rules on the velkaron_http road.
#pragma once

#include <cstdint>

#include "klaspnet/klaspnet.h"

struct klaspnet_conn {
    const velkaron_io *io;
    const velkaron_http *http; // null: plain velkaron_io road
    const char *user;          // null: no credentials
    const char *password;
    // The root's credentials, masked in every error text whichever request
    // the text came from: a transport that once received them may echo them
    // in a later answer, also on a request that carried none. Null: user and
    // password are masked.
    const char *mask_user = nullptr;
    const char *mask_password = nullptr;
};

struct klaspnet_resp {
    int status;
    char *body; // NUL-terminated; null after a failure
    uint64_t body_len;
    // The transport whose free releases body (the plain road keeps the
    // transport's own text); null: the library's allocator.
    const velkaron_io *body_io;
    char *final_url; // never carries credentials; null after a failure
    int redirects;   // -1 on the plain road
    int permanent;   // every followed redirect was 301/308 (and there was one)
    int too_large;
    int64_t range_first;
    int64_t range_last;
    int64_t range_total;
    int64_t content_length;
    int accept_ranges;
    char error[256];
};

// 0: an HTTP response was obtained (any status); -1: no transport, transport
// failure or out of memory; -2: refused (Range on a plain transport, redirect rules).
int klaspnet_fetch(const klaspnet_conn *c, const char *url, int range, uint64_t limit, klaspnet_resp *r);
// Frees body (through body_io when set) and final_url; other fields stay.
void klaspnet_resp_free(klaspnet_resp *r);
// Frees body and final_url and clears the error text, which may have quoted
// a transport's answer: for responses whose record is released.
void klaspnet_resp_wipe(klaspnet_resp *r);
// Frees the body alone (body null, body_len 0): for a caller done with it.
void klaspnet_resp_drop_body(klaspnet_resp *r);
