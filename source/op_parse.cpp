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

// The bytes of an item besides its name and numbers: keys, quotes and
// punctuation.
constexpr size_t k_item_fixed = 56;

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
// The entries are released behind the writer (see write_items). False when
// an entry has no name.
bool write_listing(json_writer &w, kldlp_result &r)
{
    w.obj_begin();
    w.key("op");
    w.str("parse");
    add_listing_kind(w, r);
    add_listing_counts(w, r);
    w.key("items");
    // Sized once from the names' lengths, so that the text need not grow
    // (and move) while a large listing is written.
    uint64_t names = 0;
    for (uint64_t i = 0; i < r.count; ++i) {
        if (!r.items[i].name) return false;
        names += std::strlen(r.items[i].name);
    }
    w.reserve(static_cast<size_t>(r.count * (k_item_fixed + 2 * json_num_max) + names + names / 4));
    w.arr_begin();
    for (uint64_t i = 0; i < r.count; i++) {
        kldlp_release_before(&r, i);
        const kldlp_entry &e = r.items[i];
        const size_t n = std::strlen(e.name);
        char *p = w.value_begin(k_item_fixed + json_escape_max(n) + 2 * json_num_max);
        if (!p) break;
        p = json_put(p, "{\"name\":\"");
        p = json_escape_to(p, e.name, n);
        p = e.folder ? json_put(p, "\",\"folder\":true,\"size\":") : json_put(p, "\",\"folder\":false,\"size\":");
        p = json_put_num(p, e.size);
        p = json_put(p, ",\"mtime_ms\":");
        p = json_put_num(p, e.mtime_ms);
        *p++ = '}';
        w.value_end(p);
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
