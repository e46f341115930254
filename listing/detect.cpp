// Entry point of the listing parser: one walk over the page to collect the
// markers that ASP.NET Core directory browsing, nginx autoindex and Apache
// mod_autoindex leave behind, a fixed order of precedence to pick the dialect,
// then the extraction pass (or, for Apache, the chain of passes) that fits,
// and finally the page-wide date order and the folder named by the title.
// Only a page that none of these three takes is walked once more for the
// marks of the other servers (listing/late.cpp), so that their detection
// costs the first three nothing.
#include <cstdlib>
#include <cstring>

#include "common/limits.h"
#include "listing/dialects.h"

namespace kldlp::detail {

namespace {

constexpr size_t k_title_cap = 65536;

// A link whose href is a query: Apache's sort links (?C=N;O=D, and ?N=D in
// httpd 1.3) or those of Caddy's browse template (?sort=name&order=asc).
void query_link(std::string_view href, markers *m)
{
    char letter;
    if (href.starts_with("?C=") || sort_link(href, &letter))
        m->sort_link = true;
    else if (href.starts_with("?sort=") && href.find("order=") != std::string_view::npos)
        m->caddy_sort = true;
}

bool is_icon_alt(const char *v, size_t n)
{
    return ci_eqn(v, n, "[DIR]") || ci_eqn(v, n, "[PARENTDIR]") || ci_eqn(v, n, "[ICO]") || ci_eqn(v, n, "Icon ") ||
           ci_eqn(v, n, "[   ]");
}

// ASP.NET markers outrank every other marker: once they are seen, the rest
// of the page cannot change the decision, and only the title was still
// wanted from the detection walk.
bool aspnet(const markers &m) { return m.row_class || (m.table_index && m.section_main); }

// The detection walk. Fills the markers and the text of the first <title>
// (a view into the page or a capped copy). 0, or -4 when memory ran out.
// The walk ends early on an ASP.NET page once its title is complete.
int detect(const char *page, size_t len, markers *m, ctext *title)
{
    ctext heading{}, link{};
    // The elements whose text is wanted, one bit each: most text runs of a
    // listing are wanted by none, and cost one test.
    enum : unsigned { in_h1 = 1, in_title = 2, in_link = 4, in_address = 8 };
    unsigned text_for = 0;
    bool title_done = false, in_item = false, in_cell = false;
    token_walk w(page, len);
    int rc = 0;
    std::string_view v;
    for (;;) {
        const html_tok &t = w.next();
        if (t.kind == TOK_EOF) break;
        if (t.kind == TOK_OPEN) {
            if (tag_is(t, "a")) {
                // The markers are only ever set, so a link whose href could
                // change none of them is not looked into.
                const bool wanted = !m->sort_link || (in_cell && !m->link_in_cell) || in_item;
                if (wanted && attr_of(t, "href", &v)) {
                    if (!v.empty() && v[0] == '?') query_link(v, m);
                    if (in_cell) m->link_in_cell = true;
                    if (in_item) {
                        m->link_in_item = true;
                        text_for |= in_link;
                        ct_reset(&link);
                    }
                }
            } else if (tag_is(t, "tr")) {
                m->any_row = true;
                if (!m->row_class && class_bits(t.attrs, t.attrs_len, {"file", "directory"})) {
                    m->row_class = true;
                    if (title_done) break;
                }
            } else if (tag_is(t, "td")) {
                in_cell = true;
            } else if (tag_is(t, "img")) {
                if (!m->icon && attr_of(t, "alt", &v) && is_icon_alt(v.data(), v.size())) m->icon = true;
            } else if (tag_is(t, "li")) {
                in_item = true;
            } else if (tag_is(t, "table")) {
                if (attr_of(t, "id", &v) && ci_eqn(v.data(), v.size(), "index")) {
                    m->table_index = true;
                    if (title_done && m->section_main) break;
                }
            } else if (tag_is(t, "section")) {
                if (attr_of(t, "id", &v) && ci_eqn(v.data(), v.size(), "main")) {
                    m->section_main = true;
                    if (title_done && m->table_index) break;
                }
            } else if (tag_is(t, "h1")) {
                ct_reset(&heading);
                text_for |= in_h1;
            } else if (tag_is(t, "title")) {
                if (!title_done) text_for |= in_title;
            } else if (tag_is(t, "pre")) {
                if (!m->pre) m->pre_at = w.s.pos;
                m->pre = true;
            } else if (tag_is(t, "address")) {
                text_for |= in_address;
            }
        } else if (t.kind == TOK_CLOSE) {
            if (tag_is(t, "a")) {
                if (text_for & in_link) {
                    if (window_is(link, "Parent Directory")) m->parent_link = true;
                    text_for &= ~in_link;
                }
            } else if (tag_is(t, "td")) {
                in_cell = false;
            } else if (tag_is(t, "li")) {
                in_item = false;
            } else if (tag_is(t, "h1")) {
                const char *p = heading.p;
                size_t n = heading.n;
                trim(&p, &n);
                if (ci_prefix(p, n, "Index of "))
                    m->index_heading = true;
                else if (ci_prefix(p, n, "Directory listing for "))
                    m->dirlist_heading = true;
                else if (host_title_path(p, n))
                    m->host_heading = true;
                text_for &= ~in_h1;
            } else if (tag_is(t, "title")) {
                if (text_for & in_title) {
                    title_done = true;
                    text_for &= ~in_title;
                    if (aspnet(*m)) break;
                }
            } else if (tag_is(t, "address")) {
                text_for &= ~in_address;
            }
        } else if (text_for) { // TOK_TEXT
            if ((text_for & in_h1) && (rc = add_window(&heading, t)) != 0) break;
            if ((text_for & in_title) && (rc = ct_add(title, t.text, t.len, k_title_cap, nullptr)) != 0) break;
            if ((text_for & in_link) && (rc = add_window(&link, t)) != 0) break;
            if ((text_for & in_address) && t.len >= 6 && ci_prefix(t.text, t.len, "Apache")) m->server_address = true;
        }
    }
    ct_free(&heading);
    ct_free(&link);
    return rc ? KLDLP_E_NOMEM : 0;
}

// The generic table pass and, when it found no usable table, the Apache
// fall-back chain: pre, then the plain list.
int apache_passes(kldlp_ctx *c, const char *page, size_t len, bool table_first, const markers &m)
{
    kldlp_result *r = c->res;
    // Only a "tr" start tag opens a row; a page without one holds no table
    // that the pass could recognise, so it would find nothing.
    if (table_first && m.any_row) {
        int recognised = 0;
        int rc = generic_table_pass(c, page, len, &recognised);
        if (rc) return rc;
        if (recognised) {
            r->variant = KLDLP_VARIANT_TABLE;
            return 0;
        }
    }
    if (m.pre) {
        int pre_seen = 0;
        int rc = parse_pre(c, page, len, 0, &pre_seen);
        if (rc) return rc;
        if (pre_seen) {
            r->variant = KLDLP_VARIANT_PRE;
            return 0;
        }
    }
    if (m.link_in_item) {
        int rc = list_pass(c, page, len);
        if (rc) return rc;
        r->variant = KLDLP_VARIANT_LIST;
        return 0;
    }
    return KLDLP_E_NOT_LISTING;
}

// The decision of the three original dialects. -1 when none of them takes
// the page.
int first_dialects(kldlp_ctx *c, const char *page, size_t len, const markers &m)
{
    kldlp_result *r = c->res;
    if (m.sort_link) {
        r->dialect = KLDLP_DIALECT_APACHE;
        return apache_passes(c, page, len, true, m);
    }
    if (m.icon || m.server_address || (m.index_heading && m.parent_link)) {
        r->dialect = KLDLP_DIALECT_APACHE;
        return apache_passes(c, page, len, m.link_in_cell, m);
    }
    if (m.index_heading && m.pre) {
        // Apache's pre form without sort links, icons or signature still
        // heads its columns with their titles; nginx writes no header line.
        if (apache_pre_header(m.pre_at, page + len)) {
            r->dialect = KLDLP_DIALECT_APACHE;
            return apache_passes(c, page, len, false, m);
        }
        r->dialect = KLDLP_DIALECT_NGINX;
        r->variant = KLDLP_VARIANT_PRE;
        int pre_seen = 0;
        return parse_pre(c, page, len, 1, &pre_seen);
    }
    return KLDLP_E_NOT_LISTING;
}

int dispatch(kldlp_ctx *c, const char *page, size_t len, const markers &m, const ctext &title)
{
    kldlp_result *r = c->res;
    if (aspnet(m)) {
        // Rows classed "file" are also what Caddy's browse template writes;
        // ASP.NET Core's own page is a table#index inside section#main.
        const bool rows_alone = !(m.table_index && m.section_main);
        if (rows_alone && m.caddy_sort) {
            r->dialect = KLDLP_DIALECT_CADDY;
            r->variant = KLDLP_VARIANT_TABLE;
            return caddy_pass(c, page, len);
        }
        r->dialect = KLDLP_DIALECT_ASPNET;
        r->variant = KLDLP_VARIANT_TABLE;
        const int rc = aspnet_table_pass(c, page, len);
        // An entry comes only from a name cell; only when every row was
        // rejected is it worth asking whether any had one.
        if (rc || !rows_alone || r->count || !r->rejected || aspnet_name_cell(page, len)) return rc;
        // Rows with those classes but no name cell in any of them are no
        // ASP.NET listing: reporting their rejection as an empty folder would
        // hide every file. The rows are forgotten and the other rules decide.
        r->dialect = 0;
        r->variant = 0;
        r->rejected = 0;
    }
    const int rc = first_dialects(c, page, len, m);
    if (rc != KLDLP_E_NOT_LISTING) return rc;
    // A refusal has counted nothing (no table was recognised, no pre or list
    // pass ran), so the other servers start from a clean result.
    r->dialect = 0;
    r->variant = 0;
    return late_dispatch(c, page, len, m, title);
}

// Where the folder path starts in a title of the dialect's own form, or 0:
// "Index of /x/" (nginx, Apache, ASP.NET Core, lighttpd), "Directory listing
// for /x/" (Python), "HOST - /x/" (IIS). Caddy's title is the folder's own
// name, which names no path.
size_t title_path_at(int32_t dialect, const char *p, size_t n)
{
    switch (dialect) {
    case KLDLP_DIALECT_PYTHON: return ci_prefix(p, n, "Directory listing for ") ? 22 : 0;
    case KLDLP_DIALECT_IIS: return host_title_path(p, n);
    case KLDLP_DIALECT_CADDY: return 0;
    default: return ci_prefix(p, n, "Index of ") ? 9 : 0;
    }
}

// The folder path the title claims to list, character references decoded.
// A reference that had to be replaced leaves no path, because a path with
// U+FFFD in it names no folder on the server; so do bytes that are not UTF-8
// (an Apache page in ISO-8859-1), which could not be compared with a folder
// path or shown in a result either.
int take_index_of(kldlp_result *r, const ctext &title)
{
    const char *p = title.p;
    size_t n = title.n;
    if (!p) return 0;
    trim(&p, &n);
    const size_t at = title_path_at(r->dialect, p, n);
    if (!at) return 0;
    int bad = 0;
    char *dec = kldlp_html_decode(p + at, n - at, &bad);
    if (!dec) return KLDLP_E_NOMEM;
    if (bad || !kldlp_utf8_valid(dec, strlen(dec))) {
        free(dec);
        return 0;
    }
    r->index_of = dec;
    return 0;
}

bool http_url(const char *url)
{
    url_parts u;
    uparse(url, &u);
    if (!u.scheme.present || !u.authority.present || u.authority.len == 0) return false;
    return ci_eqn(u.scheme.p, u.scheme.len, "http") || ci_eqn(u.scheme.p, u.scheme.len, "https");
}

} // namespace

// Plain Apache listings (no FancyIndexing): <ul><li><a href="x"> x</a></li>.
// Only the first link of each item names an entry; the list carries neither
// sizes nor dates.
int list_pass(kldlp_ctx *c, const char *page, size_t len)
{
    token_walk w(page, len);
    bool in_item = false;
    std::string_view v;
    for (;;) {
        const html_tok &t = w.next();
        if (t.kind == TOK_EOF) return 0;
        if (t.kind == TOK_OPEN) {
            if (tag_is(t, "li")) {
                in_item = true;
            } else if (in_item && tag_is(t, "a")) {
                if (attr_of(t, "href", &v)) {
                    if (v.size() > c->lim->max_href) {
                        c->res->rejected++;
                    } else if (int rc = add_href(c, v.data(), v.size(), nullptr, 0, nullptr, 0); rc != 0) {
                        return rc;
                    }
                }
                in_item = false;
            }
        } else if (t.kind == TOK_CLOSE && (tag_is(t, "li") || tag_is(t, "ul"))) {
            in_item = false;
        }
    }
}

} // namespace kldlp::detail

using namespace kldlp::detail;

int kldlp_parse(const char *page, size_t len, const char *page_url, const kldlp_opts *opts, kldlp_result *res)
{
    if (!res) return KLDLP_E_ARG;
    memset(res, 0, sizeof *res);
    if (!page || !page_url || !http_url(page_url)) return KLDLP_E_ARG;

    using namespace klaspnet;
    kldlp_limits lim{limits::page_max, limits::entries_max, limits::href_max, limits::name_max, 0};
    if (opts) {
        if (opts->max_page) lim.max_page = opts->max_page;
        if (opts->max_entries) lim.max_entries = opts->max_entries;
        if (opts->max_href) lim.max_href = opts->max_href;
        if (opts->max_name) lim.max_name = opts->max_name;
        lim.date_order = opts->date_order;
    }
    if (len > lim.max_page) return KLDLP_E_TOO_LARGE;

    kldlp_ctx c{};
    c.lim = &lim;
    c.page_url = page_url;
    c.res = res;
    c.page = page;
    c.page_len = len;

    markers m{};
    ctext title{};
    int rc = detect(page, len, &m, &title);
    if (rc == 0) rc = dispatch(&c, page, len, m, title);
    if (rc == 0) {
        decide_dates(&c);
        rc = take_index_of(res, title);
    }
    ct_free(&title);
    ctx_release(&c);
    if (rc == 0) return 0;

    // A failed parse leaves nothing behind but the dialect that had been
    // recognised (none when the page is no listing at all).
    const int32_t dialect = rc == KLDLP_E_NOT_LISTING ? 0 : res->dialect;
    kldlp_free(res);
    res->dialect = dialect;
    return rc;
}
