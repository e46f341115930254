// The validate operation: fetch and parse the root listing, probe one file
// with a one-byte Range request (seeking works only when the server honours
// Range), notice a permanent move of the root, and propose the settings the
// host should store.
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

struct probe {
    const char *verdict;
    int32_t http;
    int64_t size;
    char note[limits::msg_size];
};

struct validate_state {
    klaspnet_cfg cfg{};
    page_slot page;
    klaspnet_buf file_url{};

    void release()
    {
        page.release();
        klaspnet_buf_free(&file_url);
        klaspnet_root_free(&cfg.root);
    }
    ~validate_state() { release(); }
};

// The first file in page order that has something to read: a file listed
// with size 0 cannot answer a Range request for byte 0.
const kldlp_entry *probe_file(const kldlp_result &r)
{
    for (uint64_t i = 0; i < r.count; ++i)
        if (!r.items[i].folder && r.items[i].size != 0) return &r.items[i];
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
    if (klaspnet_fetch(&conn, file_url, 1, limits::probe_keep, &resp) != 0) {
        p.verdict = "failed";
        klaspnet_msgf(p.note, sizeof p.note, "%s", resp.error);
        klaspnet_resp_wipe(&resp);
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
    klaspnet_resp_wipe(&resp);
}

// Probes the chosen file (or says there is none). -1 when memory runs out
// building its URL.
int probe_root(validate_state &s, const klaspnet_conn &conn, const kldlp_entry *file, probe &p)
{
    p.size = -1;
    if (!file) {
        p.verdict = "no-file";
        klaspnet_msgf(p.note, sizeof p.note, "%s", "the root lists no file to probe");
        return 0;
    }
    const klaspnet_page &page = *s.page.page;
    if (klaspnet_buf_adds(&s.file_url, page.base_url) != 0 ||
        klaspnet_buf_add_pct(&s.file_url, file->name, std::strlen(file->name)) != 0)
        return -1;
    // The page fetch stops sending credentials when the root redirects to
    // another server; the probe of a file there must not send them either.
    klaspnet_conn pc = conn;
    if (pc.user && !klaspnet_same_origin(s.cfg.root.url, page.base_url) &&
        !klaspnet_is_https_upgrade(s.cfg.root.url, page.base_url)) {
        pc.user = nullptr;
        pc.password = nullptr;
    }
    run_probe(pc, s.file_url.data, p);
    return 0;
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

// Proposed settings: only what validation found. The host stores this
// object as it is, so a finding left out (a new ID, the moved URL, the date
// order) would be lost without notice: the report is written whole or not at
// all.
void write_settings(json_writer &w, const validate_state &s, bool moved)
{
    const kldlp_result &r = s.page.page->result;
    w.obj_begin();
    w.key("RuntimeType");
    w.str("ASPNET");
    if (!s.cfg.has_id) {
        char id[37];
        klaspnet_guid(id);
        w.key("ID");
        w.str(id);
    }
    if (moved) {
        w.key("URL");
        w.str(s.page.page->base_url);
    }
    const int32_t order = r.date_order;
    if (!r.date_hinted && (order == KLDLP_ORDER_DMY || order == KLDLP_ORDER_MDY)) {
        w.key("DateOrder");
        w.str(order == KLDLP_ORDER_DMY ? "dmy" : "mdy");
    }
    w.obj_end();
}

// The report: page facts, the rewrite finding, the Range verdict and, last,
// the proposed settings, which are also the answer. Where the settings
// stand in the text goes to *settings.
void write_report(json_writer &w, const validate_state &s, bool has_http, bool moved, const kldlp_entry *file,
                  const probe &p, answer_part *settings)
{
    w.obj_begin();
    w.key("op");
    w.str("validate");
    w.key("code");
    w.num(0);
    add_page_meta(w, s.page.page, has_http);
    w.key("url_rewritten");
    w.boolean(moved);
    w.key("range");
    w.obj_begin();
    w.key("verdict");
    w.str(p.verdict);
    if (file) {
        w.key("file");
        w.str(file->name);
    }
    w.key("http");
    w.num(p.http);
    w.key("size");
    w.num(p.size);
    if (p.note[0]) {
        w.key("note");
        w.str(p.note);
    }
    w.obj_end();
    w.key("settings");
    settings->from = w.size();
    write_settings(w, s, moved);
    settings->len = w.size() - settings->from;
    w.obj_end();
}

} // namespace

int32_t h_validate(const velkaron_io *io, const char *settings_json, char *dst, int32_t dst_len)
{
    validate_state s;
    int rc = load_cfg(settings_json, &s.cfg);
    if (rc != 0) return fail(dst, dst_len, rc, s.cfg.msg);
    if (!io || !io->get) return fail(dst, dst_len, KLASPNET_E_INVALID, "no velkaron_io transport");

    const klaspnet_conn conn = conn_of(io, s.cfg.root);
    if (!s.page.allocate()) return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
    char msg[limits::url_msg_size];
    rc = get_page(&conn, s.cfg.root.url, s.cfg.date_order, s.page.page, msg);
    if (rc != 0) return fail(dst, dst_len, rc, msg);

    probe p{};
    const kldlp_entry *file = probe_file(s.page.page->result);
    if (probe_root(s, conn, file, p) != 0) return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
    const bool moved = rewritten(*s.page.page, s.cfg.root);

    json_writer w;
    answer_part settings{0, 0};
    write_report(w, s, conn.http != nullptr, moved, file, p, &settings);
    s.release();
    return done_json(dst, dst_len, w, "out of memory", settings);
}

} // namespace klaspnet::detail
