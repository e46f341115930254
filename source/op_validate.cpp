// The validate operation: fetch and parse the root listing, probe one file
// with a one-byte Range request (seeking works only when the server honours
// Range), notice a permanent move of the root, and propose the settings the
// host should store.
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

namespace {

// A probe keeps at most this much body; the transport is asked to stop after it.
constexpr uint64_t k_probe_limit = 64;

struct probe {
    const char *verdict;
    int32_t http;
    int64_t size;
    char note[256];
};

struct validate_state {
    klaspnet_cfg cfg{};
    klaspnet_page *page = nullptr;
    klaspnet_buf file_url{};
    yyjson_mut_doc *set_doc = nullptr;
    yyjson_mut_doc *rep_doc = nullptr;

    void release()
    {
        yyjson_mut_doc_free(set_doc);
        yyjson_mut_doc_free(rep_doc);
        set_doc = rep_doc = nullptr;
        if (page) {
            klaspnet_resp_free(&page->resp);
            kldlp_free(&page->result);
            std::free(page);
            page = nullptr;
        }
        klaspnet_buf_free(&file_url);
        klaspnet_root_free(&cfg.root);
    }
    ~validate_state() { release(); }
};

// The first file in page order that has something to read: a file listed
// with size 0 cannot answer a Range request for byte 0.
const kldlp_entry *probe_file(const kldlp_result &r)
{
    for (uint64_t i = 0; i < r.count; ++i) {
        if (!r.items[i].folder && r.items[i].size != 0) return &r.items[i];
    }
    return nullptr;
}

void run_probe(const klaspnet_conn &conn, const char *file_url, probe &p)
{
    if (!conn.http) {
        p.verdict = "unverified";
        klaspnet_msgf(p.note, sizeof p.note, "%s", "velkaron_io v1 carries no Range header");
        return;
    }
    klaspnet_resp resp;
    if (klaspnet_fetch(&conn, file_url, 1, k_probe_limit, &resp) != 0) {
        p.verdict = "failed";
        klaspnet_msgf(p.note, sizeof p.note, "%s", resp.error);
        klaspnet_resp_free(&resp);
        return;
    }
    p.http = resp.status;
    if (resp.status == 206) {
        if (resp.range_first == 0 && resp.range_last >= 0) {
            p.verdict = "verified";
            p.size = resp.range_total;
        } else {
            p.verdict = "failed";
            klaspnet_msgf(p.note, sizeof p.note, "%s", "206 without a usable Content-Range");
        }
    } else if (resp.status == 200) {
        p.verdict = "ignored";
        p.size = resp.content_length;
        klaspnet_msgf(p.note, sizeof p.note, "%s", "the server ignores Range: seeking will re-download from byte 0");
    } else {
        p.verdict = "failed";
        klaspnet_msgf(p.note, sizeof p.note, "HTTP %ld", static_cast<long>(resp.status));
    }
    klaspnet_resp_free(&resp);
}

// A permanent move of the root to another address of the same server (or to
// its https form) is worth storing; a temporary one, one that leaves the
// origin, or one seen with credentials (which would then travel to the new
// address) is not.
bool rewritten(const klaspnet_page &page, const klaspnet_root &root)
{
    return page.resp.redirects > 0 && page.resp.permanent && !root.user && std::strcmp(page.base_url, root.url) != 0 &&
           (klaspnet_same_origin(root.url, page.base_url) || klaspnet_is_https_upgrade(root.url, page.base_url));
}

} // namespace

int32_t h_validate(const velkaron_io *io, const char *settings_json, char *dst, int32_t dst_len)
{
    validate_state s;
    int rc = load_cfg(settings_json, &s.cfg);
    if (rc != 0) return fail(dst, dst_len, rc, s.cfg.msg);
    if (!io || !io->get) return fail(dst, dst_len, KLASPNET_E_INVALID, "no velkaron_io transport");

    klaspnet_conn conn{io, klaspnet_http_for(io), s.cfg.root.user, s.cfg.root.pass};
    s.page = static_cast<klaspnet_page *>(std::malloc(sizeof(klaspnet_page)));
    if (!s.page) return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
    char msg[512];
    rc = get_page(&conn, s.cfg.root.url, s.cfg.date_order, s.page, msg);
    if (rc != 0) return fail(dst, dst_len, rc, msg);
    const klaspnet_page &page = *s.page;

    probe p{};
    p.size = -1;
    const kldlp_entry *file = probe_file(page.result);
    if (!file) {
        p.verdict = "no-file";
        klaspnet_msgf(p.note, sizeof p.note, "%s", "the root lists no file to probe");
    } else {
        if (klaspnet_buf_adds(&s.file_url, page.base_url) != 0 || klaspnet_buf_add_pct(&s.file_url, file->name) != 0)
            return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
        // The page fetch stops sending credentials when the root redirects
        // to another server; the probe of a file there must not send them
        // either.
        klaspnet_conn pc = conn;
        if (pc.user && !klaspnet_same_origin(s.cfg.root.url, page.base_url) &&
            !klaspnet_is_https_upgrade(s.cfg.root.url, page.base_url)) {
            pc.user = nullptr;
            pc.password = nullptr;
        }
        run_probe(pc, s.file_url.data, p);
    }

    const bool moved = rewritten(page, s.cfg.root);

    s.set_doc = yyjson_mut_doc_new(nullptr);
    s.rep_doc = yyjson_mut_doc_new(nullptr);
    if (!s.set_doc || !s.rep_doc) return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
    yyjson_mut_val *set = yyjson_mut_obj(s.set_doc);
    yyjson_mut_val *rep = yyjson_mut_obj(s.rep_doc);
    if (!set || !rep) return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
    yyjson_mut_doc_set_root(s.set_doc, set);
    yyjson_mut_doc_set_root(s.rep_doc, rep);

    // Proposed settings: only what validation found. The host stores this
    // object as it is, so a finding left out (a new ID, the moved URL, the
    // date order) would be lost without notice: each addition must succeed.
    bool whole = yyjson_mut_obj_add_str(s.set_doc, set, "RuntimeType", "ASPNET");
    if (whole && !s.cfg.has_id) {
        char id[37];
        klaspnet_guid(id);
        whole = yyjson_mut_obj_add_strcpy(s.set_doc, set, "ID", id);
    }
    if (whole && moved) whole = yyjson_mut_obj_add_strcpy(s.set_doc, set, "URL", page.base_url);
    const int32_t order = page.result.date_order;
    if (whole && !page.result.date_hinted && (order == KLDLP_ORDER_DMY || order == KLDLP_ORDER_MDY))
        whole = yyjson_mut_obj_add_str(s.set_doc, set, "DateOrder", order == KLDLP_ORDER_DMY ? "dmy" : "mdy");
    if (!whole) return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");

    // The report.
    yyjson_mut_obj_add_str(s.rep_doc, rep, "op", "validate");
    yyjson_mut_obj_add_int(s.rep_doc, rep, "code", 0);
    add_page_meta(s.rep_doc, rep, &page, conn.http != nullptr);
    yyjson_mut_obj_add_bool(s.rep_doc, rep, "url_rewritten", moved);
    if (yyjson_mut_val *range = yyjson_mut_obj(s.rep_doc)) {
        yyjson_mut_obj_add_str(s.rep_doc, range, "verdict", p.verdict);
        if (file) yyjson_mut_obj_add_strcpy(s.rep_doc, range, "file", file->name);
        yyjson_mut_obj_add_int(s.rep_doc, range, "http", p.http);
        yyjson_mut_obj_add_int(s.rep_doc, range, "size", p.size);
        if (p.note[0]) yyjson_mut_obj_add_strcpy(s.rep_doc, range, "note", p.note);
        yyjson_mut_obj_add_val(s.rep_doc, rep, "range", range);
    }
    if (yyjson_mut_val *copy = yyjson_mut_val_mut_copy(s.rep_doc, set))
        yyjson_mut_obj_add_val(s.rep_doc, rep, "settings", copy);

    char *out_text = yyjson_mut_write_opts(s.set_doc, 0, nullptr, nullptr, nullptr);
    char *rep_text = yyjson_mut_write_opts(s.rep_doc, 0, nullptr, nullptr, nullptr);
    s.release();
    if (!out_text || !rep_text) {
        std::free(out_text);
        std::free(rep_text);
        return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
    }
    rc = done(dst, dst_len, out_text, rep_text);
    std::free(out_text);
    std::free(rep_text);
    return rc;
}
