// The parse operation: a listing page the host already holds, turned into the
// listing JSON without any network access, transport or settings.
#include <cstdlib>
#include <cstring>

#include "listing/kldlp.h"
#include "source/frame.h"
#include "source/json_writer.h"
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

// The listing JSON, straight into the writer. Every part is checked, once,
// at the end: a listing with an item or a key left out would tell the host
// a different folder than the page shows, so a partial text is a failure.
// False when an entry has no name.
bool write_listing(json_writer &w, const kldlp_result &r)
{
    w.obj_begin();
    w.key("op");
    w.str("parse");
    w.key("dialect");
    w.str(kldlp_dialect_name(r.dialect));
    w.key("variant");
    w.str(kldlp_variant_name(r.variant));
    w.key("date_order");
    w.str(klaspnet_order_text(r.date_order));
    w.key("count");
    w.num(static_cast<int64_t>(r.count));
    w.key("rejected");
    w.num(static_cast<int64_t>(r.rejected));
    w.key("skipped");
    w.num(static_cast<int64_t>(r.skipped));
    w.key("items");
    w.arr_begin();
    for (uint64_t i = 0; i < r.count && !w.failed(); i++) {
        const kldlp_entry &e = r.items[i];
        if (!e.name) return false;
        w.obj_begin();
        w.key("name");
        w.str(e.name);
        w.key("folder");
        w.boolean(e.folder != 0);
        w.key("size");
        w.num(e.size);
        w.key("mtime_ms");
        w.num(e.mtime_ms);
        w.obj_end();
    }
    w.arr_end();
    w.obj_end();
    return true;
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
    json_writer w;
    const bool named = write_listing(w, r);
    kldlp_free(&r);
    if (!named) return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
    return done_json(dst, dst_len, w, "out of memory");
}
