// The listing parser on arbitrary pages: every entry it yields must obey the
// name rules, the limits must hold, a failure must leave a cleared result,
// and the parse operation must agree with the parser and write valid JSON.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <yyjson.h>

#include "klaspnet/klaspnet.h"
#include "listing/kldlp.h"
#include "props.h"
#include "source/ops.h"

using namespace klaspnet::detail;

namespace {

const char *const k_urls[] = {
    "http://h/dir/",
    "http://h/",
    "https://H:8080/a%20b/index.html",
    "http://h/music/",
    "http://[::1]/x/y/",
    "http://h/m/Sub/?C=N;O=D",
    "https://example.org/pub/%C3%A9t%C3%A9/",
};

std::string item_detail(const kldlp_entry &e)
{
    return std::string("name [") + (e.name ? e.name : "(null)") + "] folder " + std::to_string(e.folder) + " size " +
           std::to_string(e.size) + " mtime " + std::to_string(e.mtime_ms);
}

void check_result(int rc, const kldlp_result &r, const kldlp_opts *o)
{
    PROP(rc == 0 || rc == KLDLP_E_NOT_LISTING || rc == KLDLP_E_TOO_LARGE || rc == KLDLP_E_TOO_MANY,
         "status " + std::to_string(rc));
    if (rc != 0) {
        PROP(r.count == 0 && r.items == nullptr && r.variant == 0 && r.index_of == nullptr && r.rejected == 0 &&
                 r.skipped == 0,
             "a failed parse leaves entries behind");
        if (rc == KLDLP_E_NOT_LISTING) PROP(r.dialect == 0, "dialect kept after not-a-listing");
        return;
    }
    uint64_t max_entries = o && o->max_entries ? o->max_entries : 100000;
    uint64_t max_name = o && o->max_name ? o->max_name : 1024;
    PROP(r.count <= max_entries, std::to_string(r.count) + " entries");
    PROP(r.count <= r.capacity, "count above capacity");
    PROP(r.dialect >= 0 && r.dialect <= KLDLP_DIALECT_IIS, "dialect " + std::to_string(r.dialect));
    PROP(r.variant >= 0 && r.variant <= 3, "variant " + std::to_string(r.variant));
    PROP(r.count == 0 || r.variant != 0, "entries without a variant");
    PROP(r.date_order >= 0 && r.date_order <= 4, "date order " + std::to_string(r.date_order));
    if (r.date_hinted)
        PROP(o && r.date_order == o->date_order && (o->date_order == 2 || o->date_order == 3), "hint not given");
    if (r.count == 0) PROP(r.date_order == 0, "date order without entries");
    std::set<std::string> seen;
    for (uint64_t i = 0; i < r.count; ++i) {
        const kldlp_entry &e = r.items[i];
        PROP(e.name != nullptr, "entry without name");
        size_t n = std::strlen(e.name);
        PROP(name_rules(e.name, n), item_detail(e));
        PROP(n <= max_name, item_detail(e));
        PROP(e.folder == 0 || e.folder == 1, item_detail(e));
        PROP(e.size >= -1, item_detail(e));
        PROP(!e.folder || e.size == -1, item_detail(e));
        PROP(e.mtime_ms >= -1 && (e.mtime_ms == -1 || e.mtime_ms % 1000 == 0), item_detail(e));
        PROP(seen.insert(e.name).second, "duplicate " + item_detail(e));
    }
}

// The parse operation on the same page (when it holds no NUL byte) must agree.
void check_operation(const std::string &page, const char *url, const kldlp_result &r, int rc)
{
    static std::vector<char> dst(1 << 24);
    int op = klaspnet_parse_page(page.c_str(), url, dst.data(), static_cast<int32_t>(dst.size()));
    std::string out = dst.data();
    std::string err = klaspnet_last_error();
    if (rc != 0) {
        PROP(op == KLASPNET_E_FAILED, "operation status " + std::to_string(op));
        PROP(out == error_json(err, op), out);
        return;
    }
    PROP(op == 0, "operation status " + std::to_string(op) + " " + err);
    yyjson_doc *d = yyjson_read(out.data(), out.size(), 0);
    PROP(d != nullptr, "invalid JSON: " + out);
    yyjson_val *root = yyjson_doc_get_root(d);
    uint64_t count = yyjson_get_uint(yyjson_obj_get(root, "count"));
    size_t items = yyjson_arr_size(yyjson_obj_get(root, "items"));
    yyjson_doc_free(d);
    PROP(count == r.count && items == r.count,
         "count " + std::to_string(count) + " items " + std::to_string(items) + " parser " + std::to_string(r.count));
    PROP(std::string(klaspnet_result_json()) == out, "published result differs from the output");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    uint8_t sel = data[0];
    const char *url = k_urls[(sel & 0x0F) % (sizeof k_urls / sizeof k_urls[0])];
    kldlp_opts opts{};
    const kldlp_opts *o = nullptr;
    if (sel & 0x80) {
        // Small limits, so that the limit paths are reached by small inputs.
        opts.max_entries = 1 + (sel & 3);
        opts.max_name = 4 + (sel & 0x10);
        opts.max_href = 24 + (sel & 0x20);
        opts.date_order = (sel & 0x40) ? 2 : 3;
        o = &opts;
    } else if (sel & 0x40) {
        opts.date_order = (sel & 0x20) ? 2 : 3;
        o = &opts;
    }
    // An exact-size copy, so that any read past the page is caught.
    std::vector<char> page(data + 1, data + size);
    kldlp_result r;
    std::memset(&r, 0x5A, sizeof r);
    // An empty page is still a page (a null pointer would be refused as -5).
    int rc = kldlp_parse(page.empty() ? "" : page.data(), page.size(), url, o, &r);
    check_result(rc, r, o);
    if (!o && (page.empty() || std::memchr(page.data(), 0, page.size()) == nullptr))
        check_operation(std::string(page.begin(), page.end()), url, r, rc);
    kldlp_free(&r);
    kldlp_free(&r);
    PROP(r.count == 0 && r.items == nullptr && r.dialect == 0, "kldlp_free left fields set");
    return 0;
}
