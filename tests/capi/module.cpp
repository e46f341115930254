#include "capi/module.h"

#include <cstdio>
#include <cstdlib>

namespace {

void *open_module()
{
#if defined(_WIN32)
    HMODULE h = LoadLibraryW(L"" KLASPNET_MODULE_FILE_W);
    return reinterpret_cast<void *>(h);
#else
    return dlopen(KLASPNET_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
#endif
}

void *symbol(void *h, const char *name)
{
#if defined(_WIN32)
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(h), name));
#else
    return dlsym(h, name);
#endif
}

template <class T> void resolve(void *h, T &slot, const char *name)
{
    void *p = symbol(h, name);
    if (!p) {
        std::fprintf(stderr, "module export %s is missing\n", name);
        std::abort();
    }
    slot = reinterpret_cast<T>(p);
}

klaspnet_api load()
{
    void *h = open_module();
    if (!h) {
#if !defined(_WIN32)
        std::fprintf(stderr, "cannot load module: %s\n", dlerror());
#else
        std::fprintf(stderr, "cannot load module\n");
#endif
        std::abort();
    }
    klaspnet_api a{};
#define R(field, name) resolve(h, a.field, #name)
    R(validate, klaspnet_validate);
    R(list, klaspnet_list);
    R(stream_url, klaspnet_stream_url);
    R(download, klaspnet_download);
    R(stat, klaspnet_stat);
    R(parse, klaspnet_parse);
    R(last_error, klaspnet_last_error);
    R(result_json, klaspnet_result_json);
    R(version, klaspnet_version);
    R(runtime_type, klaspnet_runtime_type);
    R(caps, klaspnet_caps);
    R(get_handler, klrch_get);
    R(set_io, klaspnet_set_io);
    R(use_curl, klaspnet_use_curl);
    R(use_fake, klaspnet_use_fake);
    R(bind_http, klaspnet_bind_http);
    R(fake_reset, klaspnet_fake_reset);
    R(fake_set, klaspnet_fake_set);
    R(fake_fail, klaspnet_fake_fail);
    R(fake_calls, klaspnet_fake_calls);
    R(fake_last_request, klaspnet_fake_last_request);
#undef R
    return a;
}

} // namespace

const klaspnet_api &api()
{
    static const klaspnet_api a = load();
    return a;
}
