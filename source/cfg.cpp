// Loading of the settings document that names the source's directory URL.
#include "source/cfg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "klaspnet/klaspnet.h"
#include "listing/kldlp.h"

namespace {

// Every block carries its size in a 16-byte head (keeping malloc's
// alignment), so that free can clear the whole block: the documents that
// pass through this allocator hold passwords or texts derived from them.
constexpr size_t k_head = 16;

void *w_malloc(void *, size_t size)
{
    if (size > SIZE_MAX - k_head) return nullptr;
    unsigned char *p = static_cast<unsigned char *>(std::malloc(size + k_head));
    if (!p) return nullptr;
    std::memcpy(p, &size, sizeof size);
    return p + k_head;
}

void w_free(void *, void *ptr)
{
    if (!ptr) return;
    unsigned char *p = static_cast<unsigned char *>(ptr) - k_head;
    size_t size;
    std::memcpy(&size, p, sizeof size);
    klaspnet_wipe(p, size + k_head);
    std::free(p);
}

// Never a plain realloc: a block that moves would leave its old bytes behind.
void *w_realloc(void *ctx, void *ptr, size_t, size_t size)
{
    void *q = w_malloc(ctx, size);
    if (!q || !ptr) return q;
    size_t old;
    std::memcpy(&old, static_cast<unsigned char *>(ptr) - k_head, sizeof old);
    std::memcpy(q, ptr, old < size ? old : size);
    w_free(ctx, ptr);
    return q;
}

constexpr yyjson_alc k_wipe_alc = {w_malloc, w_realloc, w_free, nullptr};

const char k_no_url[] = "settings key URL is missing (the ASPNET source needs the directory URL)";

int refuse(klaspnet_cfg *cfg, const char *message)
{
    std::snprintf(cfg->msg, sizeof cfg->msg, "%s", message);
    return KLASPNET_E_INVALID;
}

bool str_is(yyjson_val *v, const char *text)
{
    size_t n = std::strlen(text);
    return yyjson_get_len(v) == n && std::memcmp(yyjson_get_str(v), text, n) == 0;
}

} // namespace

const yyjson_alc *klaspnet_wipe_alc() { return &k_wipe_alc; }

int load_cfg(const char *settings_json, klaspnet_cfg *cfg)
{
    std::memset(cfg, 0, sizeof *cfg);
    if (!settings_json) return refuse(cfg, "settings JSON is NULL");
    // Strict JSON over the whole text. The document holds the URL as the host
    // wrote it, password included, so its memory is cleared when freed.
    yyjson_doc *doc =
        yyjson_read_opts(const_cast<char *>(settings_json), std::strlen(settings_json), 0, &k_wipe_alc, nullptr);
    yyjson_val *obj = yyjson_doc_get_root(doc);
    if (!yyjson_is_obj(obj)) {
        yyjson_doc_free(doc);
        return refuse(cfg, "settings are not a JSON object");
    }
    if (yyjson_obj_size(obj) == 0) {
        yyjson_doc_free(doc);
        return refuse(cfg, k_no_url);
    }
    // yyjson_obj_getn walks the members in document order and compares
    // length and bytes: an exact match, and the first of duplicate keys wins.
    yyjson_val *url = yyjson_obj_getn(obj, "URL", 3);
    yyjson_val *id = yyjson_obj_getn(obj, "ID", 2);
    yyjson_val *order = yyjson_obj_getn(obj, "DateOrder", 9);
    cfg->has_id = (yyjson_is_str(id) && yyjson_get_len(id) > 0) ? 1 : 0;
    if (yyjson_is_str(order)) {
        if (str_is(order, "dmy"))
            cfg->date_order = KLDLP_ORDER_DMY;
        else if (str_is(order, "mdy"))
            cfg->date_order = KLDLP_ORDER_MDY;
    }
    if (!yyjson_is_str(url)) {
        yyjson_doc_free(doc);
        return refuse(cfg, k_no_url);
    }
    // The whole string: a \u0000 inside it is refused as a control character
    // instead of silently cutting the URL short.
    int rc = klaspnet_root_parsen(yyjson_get_str(url), yyjson_get_len(url), &cfg->root, cfg->msg, sizeof cfg->msg);
    yyjson_doc_free(doc);
    return rc == 0 ? 0 : KLASPNET_E_INVALID;
}
