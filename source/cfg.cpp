// Loading of the settings document that names the source's directory URL.
#include "source/cfg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "common/wipe.h"
#include "klaspnet/klaspnet.h"
#include "listing/kldlp.h"

namespace {

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

namespace klaspnet::detail {

int load_cfg(const char *settings_json, klaspnet_cfg *cfg)
{
    std::memset(cfg, 0, sizeof *cfg);
    if (!settings_json) return refuse(cfg, "settings JSON is NULL");
    // Strict JSON over the whole text. The document holds the URL as the host
    // wrote it, password included, so its memory is cleared when freed.
    yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(settings_json), std::strlen(settings_json), 0,
                                       klaspnet_wipe_alc(), nullptr);
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

} // namespace klaspnet::detail
