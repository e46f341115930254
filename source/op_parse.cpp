// The parse operation: a listing page the host already holds, turned into the
// listing JSON without any network access, transport or settings.
#include <yyjson.h>

#include <cstdlib>
#include <cstring>

#include "listing/kldlp.h"
#include "source/frame.h"
#include "source/ops.h"
#include "source/page.h"

using namespace klaspnet::detail;

namespace {

int parse_failure(char *dst, int32_t dst_len, int rc)
{
    switch (rc) {
    case KLDLP_E_ARG: return fail(dst, dst_len, KLASPNET_E_INVALID, "page_url is not an absolute http(s) URL");
    case KLDLP_E_NOT_LISTING: return fail(dst, dst_len, KLASPNET_E_FAILED, "not a directory index");
    case KLDLP_E_TOO_LARGE:
    case KLDLP_E_TOO_MANY: {
        char why[64];
        return fail(dst, dst_len, KLASPNET_E_FAILED, refusal_reason(rc, why, sizeof why));
    }
    default: return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
    }
}

// Serialise the result; null when memory ran out. Every addition is checked:
// a listing with an item or a key silently left out would tell the host a
// different folder than the page shows, so a partial document is a failure.
char *to_json(const kldlp_result &r)
{
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    if (!doc) return nullptr;
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_val *items = yyjson_mut_arr(doc);
    bool ok = root && items;
    if (ok) {
        yyjson_mut_doc_set_root(doc, root);
        ok = yyjson_mut_obj_add_str(doc, root, "op", "parse") &&
             yyjson_mut_obj_add_str(doc, root, "dialect", kldlp_dialect_name(r.dialect)) &&
             yyjson_mut_obj_add_str(doc, root, "variant", kldlp_variant_name(r.variant)) &&
             yyjson_mut_obj_add_str(doc, root, "date_order", klaspnet_order_text(r.date_order)) &&
             yyjson_mut_obj_add_int(doc, root, "count", static_cast<int64_t>(r.count)) &&
             yyjson_mut_obj_add_int(doc, root, "rejected", static_cast<int64_t>(r.rejected)) &&
             yyjson_mut_obj_add_int(doc, root, "skipped", static_cast<int64_t>(r.skipped));
    }
    for (uint64_t i = 0; ok && i < r.count; i++) {
        const kldlp_entry &e = r.items[i];
        yyjson_mut_val *o = yyjson_mut_obj(doc);
        ok = o && yyjson_mut_obj_add_strcpy(doc, o, "name", e.name) &&
             yyjson_mut_obj_add_bool(doc, o, "folder", e.folder != 0) &&
             yyjson_mut_obj_add_int(doc, o, "size", e.size) && yyjson_mut_obj_add_int(doc, o, "mtime_ms", e.mtime_ms) &&
             yyjson_mut_arr_append(items, o);
    }
    ok = ok && yyjson_mut_obj_add_val(doc, root, "items", items);
    char *json = ok ? write_json(doc) : nullptr;
    yyjson_mut_doc_free(doc);
    return json;
}

} // namespace

int32_t klaspnet_parse_page(const char *html, const char *page_url, char *dst, int32_t dst_len)
{
    if (!html || !page_url) return fail(dst, dst_len, KLASPNET_E_INVALID, "html and page_url are required");
    kldlp_result r;
    const int rc = kldlp_parse(html, strlen(html), page_url, nullptr, &r);
    if (rc != KLDLP_OK) {
        kldlp_free(&r);
        return parse_failure(dst, dst_len, rc);
    }
    char *json = to_json(r);
    kldlp_free(&r);
    return answer(dst, dst_len, json, nullptr, false, "out of memory");
}
