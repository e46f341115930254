// The list operation: one folder of the source, one item per entry with its
// id below the root ("path") and the absolute URL the server gives it ("url").
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "source/buf.h"
#include "source/cfg.h"
#include "source/frame.h"
#include "source/json_writer.h"
#include "source/ops.h"
#include "source/page.h"
#include "source/registry.h"
#include "source/url.h"

namespace klaspnet::detail {

namespace {

const char k_oom[] = "out of memory building the listing JSON";
// The bytes of an item besides its texts and numbers: keys, quotes,
// punctuation, "/" after the folder path and after a folder's URL.
constexpr size_t k_item_fixed = 80;

// A server that does not have the folder may answer with another listing
// (a fallback to the root, a case-insensitive match). The page title names
// the folder it lists; the requested path must be its tail, so that a server
// mounted below a prefix (Index of /share/Music/Jazz/) still passes.
bool same_folder(const char *index_of, const char *folder_path)
{
    size_t n = std::strlen(index_of);
    while (n > 0 && index_of[n - 1] == '/') --n;
    size_t f = std::strlen(folder_path);
    return n >= f && std::memcmp(index_of + n - f, folder_path, f) == 0;
}

// Everything one call acquires, released in one place.
struct list_state {
    klaspnet_cfg cfg{};
    klaspnet_buf path{};
    klaspnet_buf url{};
    page_slot page;

    void release()
    {
        page.release();
        klaspnet_buf_free(&path);
        klaspnet_buf_free(&url);
        klaspnet_root_free(&cfg.root);
    }
    ~list_state() { release(); }
};

} // namespace

bool write_items(json_writer &w, klaspnet_page *page, json_span folder)
{
    kldlp_result &r = page->result;
    const size_t base_n = std::strlen(page->base_url);
    // The text is sized once for the whole array, from the names' lengths,
    // so that it need not grow (and move) while a large listing is written.
    uint64_t names = 0;
    for (uint64_t i = 0; i < r.count; ++i) {
        if (!r.items[i].name) return false;
        names += std::strlen(r.items[i].name);
    }
    w.reserve(static_cast<size_t>(r.count * (k_item_fixed + 2 * json_num_max + folder.len + base_n) + 3 * names));
    // Every item's path starts with the folder path and its URL with the
    // base URL: both are escaped once, and copied from the text already
    // written (the report's "folder", the first item's "url") after that.
    json_span base{};
    w.arr_begin();
    for (uint64_t i = 0; i < r.count; ++i) {
        // The entries behind go as the items are written, so that a large
        // listing does not hold all its entries and all its JSON at once.
        kldlp_release_before(&r, i);
        const kldlp_entry &e = r.items[i];
        const size_t n = std::strlen(e.name);
        const size_t max = k_item_fixed + 2 * json_escape_max(n) + folder.len +
                           (i ? base.len : json_escape_max(base_n)) + 3 * n + 2 * json_num_max;
        char *p = w.value_begin(max);
        if (!p) break;
        const char *text = w.data();
        p = json_put(p, "{\"name\":\"");
        const char *name = p;
        p = json_escape_to(p, e.name, n);
        const size_t name_len = static_cast<size_t>(p - name);
        p = json_put(p, "\",\"path\":\"");
        std::memcpy(p, text + folder.from, folder.len);
        p += folder.len;
        *p++ = '/';
        std::memcpy(p, name, name_len);
        p += name_len;
        p = e.folder ? json_put(p, "\",\"folder\":true,\"size\":") : json_put(p, "\",\"folder\":false,\"size\":");
        p = json_put_num(p, e.size);
        p = json_put(p, ",\"mtime_ms\":");
        p = json_put_num(p, e.mtime_ms);
        p = json_put(p, ",\"url\":\"");
        if (i == 0) {
            base.from = static_cast<size_t>(p - text);
            p = json_escape_to(p, page->base_url, base_n);
            base.len = static_cast<size_t>(p - text) - base.from;
        } else {
            std::memcpy(p, text + base.from, base.len);
            p += base.len;
        }
        p = text::pct_encode_to(p, e.name, n, text::k_keep_unreserved);
        if (e.folder) *p++ = '/';
        p = json_put(p, "\"}");
        w.value_end(p);
    }
    w.arr_end();
    return true;
}

int32_t h_list(const velkaron_io *io, const char *settings_json, const char *folder_id, char *dst, int32_t dst_len)
{
    list_state s;
    int rc = load_cfg(settings_json, &s.cfg);
    if (rc != 0) return fail(dst, dst_len, rc, s.cfg.msg);
    if (!io || !io->get) return fail(dst, dst_len, KLASPNET_E_INVALID, "no velkaron_io transport");
    if (klaspnet_path_norm(folder_id, &s.path) != 0)
        return fail(dst, dst_len, KLASPNET_E_NOT_FOUND, "folder_id is not a valid path (., .. or control characters)");
    if (klaspnet_path_url(s.cfg.root.url, s.path.data, 1, &s.url) != 0)
        return fail_url_too_long(dst, dst_len, "folder");

    const klaspnet_conn conn = conn_of(io, s.cfg.root);
    if (!s.page.allocate()) return fail(dst, dst_len, KLASPNET_E_FAILED, k_oom);
    char msg[limits::url_msg_size];
    rc = get_page(&conn, s.url.data, s.cfg.date_order, s.page.page, msg);
    if (rc != 0) return fail(dst, dst_len, rc, msg);

    const char *folder = s.path.data ? s.path.data : "";
    const char *title = s.page.page->result.index_of;
    if (folder[0] && title && !same_folder(title, folder)) {
        char shown[limits::url_msg_size];
        klaspnet_redact(s.url.data, shown, sizeof shown);
        klaspnet_msgf(msg, sizeof msg,
                      "GET %s: the server answered with the listing of another folder (Index of %.200s)", shown, title);
        return fail(dst, dst_len, KLASPNET_E_FAILED, msg);
    }

    // One text: the report, whose items array is also the answer.
    json_writer w;
    w.obj_begin();
    w.key("op");
    w.str("list");
    w.key("code");
    w.num(0);
    w.key("folder");
    const json_span folder_at = w.str(folder, s.path.len);
    add_page_meta(w, s.page.page, conn.http != nullptr);
    w.key("items");
    const size_t items_from = w.size();
    if (!write_items(w, s.page.page, folder_at)) return fail(dst, dst_len, KLASPNET_E_FAILED, k_oom);
    const size_t items_len = w.size() - items_from;
    w.obj_end();
    // The page and the credentials go before the text is handed over.
    s.release();
    return done_json(dst, dst_len, w, k_oom, {items_from, items_len, "{\"items\":", "}"});
}

} // namespace klaspnet::detail
