// The stat operation: a file's size from a one-byte Range request. A 206
// answer's Content-Range carries the complete length; a server that ignores
// Range answers 200 and its Content-Length says the same. Either way at most
// 64 body bytes are kept and the transfer is stopped after them.
#include <cstdio>
#include <cstdlib>

#include "source/buf.h"
#include "source/cfg.h"
#include "source/frame.h"
#include "source/json_writer.h"
#include "source/ops.h"
#include "source/page.h"
#include "source/registry.h"
#include "source/url.h"

using namespace klaspnet::detail;
namespace limits = klaspnet::limits;

namespace {

struct stat_state {
    klaspnet_cfg cfg{};
    klaspnet_buf path{};
    klaspnet_buf url{};
    klaspnet_resp resp{};

    void release()
    {
        klaspnet_resp_wipe(&resp);
        klaspnet_buf_free(&path);
        klaspnet_buf_free(&url);
        klaspnet_root_free(&cfg.root);
    }
    ~stat_state() { release(); }
};

// The answer object.
void write_stat(json_writer &w, const stat_state &s)
{
    const klaspnet_resp &r = s.resp;
    const bool ranged = r.status == 206 && r.range_first == 0;
    int64_t size = -1;
    if (ranged)
        size = r.range_total;
    else if (r.status == 200)
        size = r.content_length;
    char shown[limits::url_msg_size];
    klaspnet_redact(r.final_url, shown, sizeof shown);
    w.obj_begin();
    w.key("op");
    w.str("stat");
    w.key("path");
    w.str(s.path.data, s.path.len);
    w.key("url");
    w.str(shown);
    w.key("http");
    w.num(r.status);
    w.key("range");
    w.boolean(ranged);
    w.key("size");
    w.num(size);
    w.key("redirects");
    w.num(r.redirects);
    w.obj_end();
}

} // namespace

int32_t klaspnet_stat_io(const velkaron_io *io, const char *settings_json, const char *path, char *dst, int32_t dst_len)
{
    stat_state s;
    int rc = load_cfg(settings_json, &s.cfg);
    if (rc != 0) return fail(dst, dst_len, rc, s.cfg.msg);
    const klaspnet_conn conn = conn_of(io, s.cfg.root);
    if (klaspnet_path_norm(path, &s.path) != 0 || s.path.len == 0)
        return fail(dst, dst_len, KLASPNET_E_NOT_FOUND, "path is not a file path");
    if (!conn.http)
        return fail(dst, dst_len, KLASPNET_E_UNSUPPORTED,
                    "stat needs a transport with the velkaron_http extension (Range)");
    if (klaspnet_path_url(s.cfg.root.url, s.path.data, 0, &s.url) != 0) return fail_url_too_long(dst, dst_len, "file");

    rc = klaspnet_fetch(&conn, s.url.data, 1, limits::probe_keep, &s.resp);
    if (rc != 0) {
        char msg[limits::msg_size];
        klaspnet_msgf(msg, sizeof msg, "%s", s.resp.error);
        return fail(dst, dst_len, rc == -1 ? KLASPNET_E_UNAVAILABLE : KLASPNET_E_FAILED, msg);
    }
    rc = map_status(s.resp.status);
    if (rc != 0) {
        char shown[limits::url_msg_size];
        char msg[limits::url_msg_size];
        klaspnet_redact(s.url.data, shown, sizeof shown);
        klaspnet_msgf(msg, sizeof msg, "GET %s: HTTP %ld", shown, static_cast<long>(s.resp.status));
        return fail(dst, dst_len, rc, msg);
    }

    json_writer w;
    write_stat(w, s);
    s.release();
    return done_json(dst, dst_len, w, "out of memory");
}
