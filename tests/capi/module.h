// Loads the plug-in module by its path and resolves the 21 exports, as a host does.
#pragma once

#include <string>

#include "klaspnet/klaspnet.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

struct klaspnet_api {
    decltype(&klaspnet_validate) validate;
    decltype(&klaspnet_list) list;
    decltype(&klaspnet_stream_url) stream_url;
    decltype(&klaspnet_download) download;
    decltype(&klaspnet_stat) stat;
    decltype(&klaspnet_parse) parse;
    decltype(&klaspnet_last_error) last_error;
    decltype(&klaspnet_result_json) result_json;
    decltype(&klaspnet_version) version;
    decltype(&klaspnet_runtime_type) runtime_type;
    decltype(&klaspnet_caps) caps;
    decltype(&klrch_get) get_handler;
    decltype(&klaspnet_set_io) set_io;
    decltype(&klaspnet_use_curl) use_curl;
    decltype(&klaspnet_use_fake) use_fake;
    decltype(&klaspnet_bind_http) bind_http;
    decltype(&klaspnet_fake_reset) fake_reset;
    decltype(&klaspnet_fake_set) fake_set;
    decltype(&klaspnet_fake_fail) fake_fail;
    decltype(&klaspnet_fake_calls) fake_calls;
    decltype(&klaspnet_fake_last_request) fake_last_request;
};

// The module, loaded once per test process; aborts the test run when it
// cannot be loaded or an export is missing.
const klaspnet_api &api();
