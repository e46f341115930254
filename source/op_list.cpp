// The list operation: one folder of the source, one item per entry with its
// id below the root ("path") and the absolute URL the server gives it ("url").
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "source/buf.h"
#include "source/cfg.h"
#include "source/frame.h"
#include "source/ops.h"
#include "source/page.h"
#include "source/registry.h"
#include "source/url.h"

namespace klaspnet::detail {

namespace {

const char k_oom[] = "out of memory building the listing JSON";

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
    yyjson_mut_doc *out_doc = nullptr;
    yyjson_mut_doc *pub_doc = nullptr;

    void release()
    {
        yyjson_mut_doc_free(out_doc);
        yyjson_mut_doc_free(pub_doc);
        out_doc = pub_doc = nullptr;
        page.release();
        klaspnet_buf_free(&path);
        klaspnet_buf_free(&url);
        klaspnet_root_free(&cfg.root);
    }
    ~list_state() { release(); }
};

} // namespace

yyjson_mut_val *items_json(yyjson_mut_doc *doc, const klaspnet_page *page, const char *folder_path)
{
    yyjson_mut_val *arr = yyjson_mut_arr(doc);
    if (!arr) return nullptr;
    // Two buffers serve every entry: the folder path and the base URL stay
    // in them as prefixes, only the name part is rewritten per entry.
    klaspnet_buf path{};
    klaspnet_buf url{};
    bool ok = klaspnet_buf_adds(&path, folder_path) == 0 && klaspnet_buf_adds(&path, "/") == 0 &&
              klaspnet_buf_adds(&url, page->base_url) == 0;
    const size_t path_prefix = path.len;
    const size_t url_prefix = url.len;
    const kldlp_result &r = page->result;
    for (uint64_t i = 0; ok && i < r.count; ++i) {
        const kldlp_entry &e = r.items[i];
        if (!e.name) {
            ok = false;
            break;
        }
        path.len = path_prefix;
        url.len = url_prefix;
        ok = klaspnet_buf_adds(&path, e.name) == 0 && klaspnet_buf_add_pct(&url, e.name, std::strlen(e.name)) == 0 &&
             (!e.folder || klaspnet_buf_adds(&url, "/") == 0);
        if (!ok) break;
        yyjson_mut_val *item = yyjson_mut_obj(doc);
        ok = item && yyjson_mut_obj_add_strcpy(doc, item, "name", e.name) &&
             yyjson_mut_obj_add_strncpy(doc, item, "path", path.data, path.len) &&
             yyjson_mut_obj_add_bool(doc, item, "folder", e.folder != 0) &&
             yyjson_mut_obj_add_int(doc, item, "size", e.size) &&
             yyjson_mut_obj_add_int(doc, item, "mtime_ms", e.mtime_ms) &&
             yyjson_mut_obj_add_strncpy(doc, item, "url", url.data, url.len) && yyjson_mut_arr_append(arr, item);
    }
    klaspnet_buf_free(&path);
    klaspnet_buf_free(&url);
    return ok ? arr : nullptr;
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

    s.out_doc = yyjson_mut_doc_new(nullptr);
    s.pub_doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *out = s.out_doc ? yyjson_mut_obj(s.out_doc) : nullptr;
    yyjson_mut_val *pub = s.pub_doc ? yyjson_mut_obj(s.pub_doc) : nullptr;
    yyjson_mut_val *out_items = out ? items_json(s.out_doc, s.page.page, folder) : nullptr;
    yyjson_mut_val *pub_items = pub ? items_json(s.pub_doc, s.page.page, folder) : nullptr;
    if (!out_items || !pub_items) return fail(dst, dst_len, KLASPNET_E_FAILED, k_oom);

    yyjson_mut_doc_set_root(s.out_doc, out);
    // The answer is nothing but its items: without them the host would see an
    // empty folder, so this addition, unlike the report's keys, must succeed.
    if (!yyjson_mut_obj_add_val(s.out_doc, out, "items", out_items))
        return fail(dst, dst_len, KLASPNET_E_FAILED, k_oom);

    yyjson_mut_doc_set_root(s.pub_doc, pub);
    yyjson_mut_obj_add_str(s.pub_doc, pub, "op", "list");
    yyjson_mut_obj_add_int(s.pub_doc, pub, "code", 0);
    yyjson_mut_obj_add_strncpy(s.pub_doc, pub, "folder", folder, s.path.len);
    add_page_meta(s.pub_doc, pub, s.page.page, conn.http != nullptr);
    yyjson_mut_obj_add_val(s.pub_doc, pub, "items", pub_items);

    char *out_text = write_json(s.out_doc);
    char *pub_text = write_json(s.pub_doc);
    // The page, the documents and the credentials go before the texts are
    // handed over.
    s.release();
    return answer(dst, dst_len, out_text, pub_text, true, k_oom);
}

} // namespace klaspnet::detail
