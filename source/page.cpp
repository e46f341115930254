// Page retrieval: one GET of a folder page, the status check, the parse, and
// the folder URL that the page really lists (servers redirect folders, for
// example to their https form or to another mount point). Also the steps that
// every operation ends with.
#include "source/page.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "source/frame.h"
#include "source/registry.h"
#include "source/url.h"

using klaspnet::limits::url_max;

void klaspnet_msgf(char *out, size_t size, const char *fmt, ...)
{
    if (!out || size == 0) return;
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(out, size, fmt, ap);
    va_end(ap);
    // A message cut short ends on a whole character.
    if (n >= 0 && static_cast<size_t>(n) >= size) out[klaspnet::text::utf8_whole_prefix(out, size - 1)] = '\0';
}

int klaspnet_base_url(const char *final_url, char out[url_max + 1])
{
    out[0] = '\0';
    if (!final_url) return -1;
    // Query and fragment go first: a "/" inside them ("?sort=a/b") says
    // nothing about the folder.
    size_t n = std::strcspn(final_url, "?#");
    const char *sep = nullptr;
    for (size_t i = 0; i + 3 <= n; ++i) {
        if (final_url[i] == ':' && final_url[i + 1] == '/' && final_url[i + 2] == '/') {
            sep = final_url + i;
            break;
        }
    }
    if (!sep) return -1;
    size_t auth = static_cast<size_t>(sep - final_url) + 3;
    size_t path = auth;
    while (path < n && final_url[path] != '/') ++path;
    if (path == auth) return -1; // no host
    size_t keep;
    bool add_slash = false;
    if (path == n) {
        // "http://h2": the folder is the server's root.
        keep = n;
        add_slash = true;
    } else {
        keep = n;
        while (final_url[keep - 1] != '/') --keep; // stops at the latest at the path's first "/"
    }
    if (keep + (add_slash ? 1 : 0) > url_max) return -1;
    std::memcpy(out, final_url, keep);
    if (add_slash) out[keep++] = '/';
    out[keep] = '\0';
    return 0;
}

namespace klaspnet::detail {

// The reason of a refused listing. The entry limit is always the default:
// neither page retrieval nor the parse operation passes limits of its own.
const char *refusal_reason(int rc, char *buf, size_t size)
{
    switch (rc) {
    case KLDLP_E_TOO_MANY:
        std::snprintf(buf, size, "more than %llu entries", static_cast<unsigned long long>(limits::entries_max));
        return buf;
    case KLDLP_E_TOO_LARGE: return "page too large";
    case KLDLP_E_NOMEM: return "out of memory";
    default: return "bad page URL";
    }
}

klaspnet_conn conn_of(const velkaron_io *io, const klaspnet_root &root)
{
    return klaspnet_conn{io, klaspnet_http_for(io), root.user, root.pass, root.user, root.pass};
}

int map_status(int status)
{
    if (status >= 200 && status <= 299) return KLASPNET_OK;
    if (status == 401 || status == 403 || status == 407) return KLASPNET_E_ACCESS;
    if (status == 404 || status == 410) return KLASPNET_E_NOT_FOUND;
    if (status == 429) return KLASPNET_E_RATE_LIMITED;
    if (status >= 500 || status == 408) return KLASPNET_E_UNAVAILABLE;
    return KLASPNET_E_FAILED;
}

int get_page(const klaspnet_conn *conn, const char *url, int32_t date_order, klaspnet_page *page,
             char msg[limits::url_msg_size])
{
    std::memset(page, 0, sizeof *page);
    char shown[limits::url_msg_size];
    klaspnet_redact(url, shown, sizeof shown);

    int rc = klaspnet_fetch(conn, url, 0, limits::page_max, &page->resp);
    if (rc != 0) {
        klaspnet_msgf(msg, limits::url_msg_size, "%s", page->resp.error);
        return rc == -1 ? KLASPNET_E_UNAVAILABLE : KLASPNET_E_FAILED;
    }
    const long status = page->resp.status;
    int code = map_status(page->resp.status);
    if (code != 0) {
        if (status >= 300 && status <= 399)
            klaspnet_msgf(msg, limits::url_msg_size, "GET %s: HTTP %ld redirect was not followed", shown, status);
        else
            klaspnet_msgf(msg, limits::url_msg_size, "GET %s: HTTP %ld", shown, status);
        return code;
    }
    if (page->resp.too_large) {
        klaspnet_msgf(msg, limits::url_msg_size, "GET %s: the page is larger than %s", shown, limits::page_max_text);
        return KLASPNET_E_FAILED;
    }

    kldlp_opts opts{};
    opts.date_order = date_order;
    rc = kldlp_parse(page->resp.body, static_cast<size_t>(page->resp.body_len), page->resp.final_url, &opts,
                     &page->result);
    // The listing owns its names and title (kldlp.h): the page text is done
    // with, and a page of up to 16 MiB need not stay beside the JSON written
    // from its listing.
    klaspnet_resp_drop_body(&page->resp);
    if (rc == KLDLP_E_NOT_LISTING) {
        klaspnet_msgf(msg, limits::url_msg_size,
                      "GET %s: HTTP %ld but the page is not a directory index (no ASP.NET, nginx or "
                      "Apache listing markup)",
                      shown, status);
        return KLASPNET_E_FAILED;
    }
    if (rc != 0) {
        char why[64];
        klaspnet_msgf(msg, limits::url_msg_size, "GET %s: listing rejected (%s)", shown,
                      refusal_reason(rc, why, sizeof why));
        return KLASPNET_E_FAILED;
    }

    if (klaspnet_base_url(page->resp.final_url, page->base_url) != 0) {
        klaspnet_msgf(msg, limits::url_msg_size, "GET %s: final URL unusable", shown);
        return KLASPNET_E_FAILED;
    }
    return KLASPNET_OK;
}

void add_listing_kind(json_writer &w, const kldlp_result &r)
{
    w.key("dialect");
    w.str(kldlp_dialect_name(r.dialect));
    w.key("variant");
    w.str(kldlp_variant_name(r.variant));
    w.key("date_order");
    w.str(klaspnet_order_text(r.date_order));
}

void add_listing_counts(json_writer &w, const kldlp_result &r)
{
    w.key("count");
    w.num(static_cast<int64_t>(r.count));
    w.key("rejected");
    w.num(static_cast<int64_t>(r.rejected));
    w.key("skipped");
    w.num(static_cast<int64_t>(r.skipped));
}

void add_page_meta(json_writer &w, const klaspnet_page *page, int has_http)
{
    const kldlp_result &r = page->result;
    char shown[limits::url_msg_size];
    klaspnet_redact(page->resp.final_url, shown, sizeof shown);
    add_listing_kind(w, r);
    w.key("date_hinted");
    w.boolean(r.date_hinted != 0);
    w.key("final_url");
    w.str(shown);
    w.key("redirects");
    w.num(page->resp.redirects);
    w.key("transport");
    w.str(has_http ? "velkaron_http" : "velkaron_io");
    add_listing_counts(w, r);
    if (r.index_of) {
        w.key("index_of");
        w.str(r.index_of);
    }
}

bool page_slot::allocate()
{
    page = static_cast<klaspnet_page *>(std::calloc(1, sizeof(klaspnet_page)));
    return page != nullptr;
}

void page_slot::release()
{
    if (!page) return;
    klaspnet_resp_wipe(&page->resp);
    kldlp_free(&page->result);
    std::free(page);
    page = nullptr;
}

} // namespace klaspnet::detail

const char *klaspnet_order_text(int32_t order)
{
    switch (order) {
    case KLDLP_ORDER_YMD: return "ymd";
    case KLDLP_ORDER_DMY: return "dmy";
    case KLDLP_ORDER_MDY: return "mdy";
    case KLDLP_ORDER_AMBIGUOUS: return "ambiguous";
    default: return "none";
    }
}
