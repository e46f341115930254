// Entry point of the listing parser: one walk over the page to collect the
// markers that ASP.NET Core directory browsing, nginx autoindex and Apache
// mod_autoindex leave behind, a fixed order of precedence to pick the dialect,
// then the extraction pass (or, for Apache, the chain of passes) that fits,
// and finally the page-wide date order and the folder named by the title.
#include <cstdlib>
#include <cstring>

#include "common/limits.h"
#include "listing/collect.h"
#include "listing/internal.h"

namespace kldlp::detail {

namespace {

// Windows over heading and link texts: enough to read "Index of ..." and
// "Parent Directory", small enough that a hostile page cannot grow them.
constexpr size_t k_window = 64;
constexpr size_t k_title_cap = 65536;

struct markers {
    bool row_class;      // <tr class="file|directory">: ASP.NET Core
    bool table_index;    // <table id="index">: ASP.NET Core
    bool section_main;   // <section id="main">: ASP.NET Core
    bool sort_link;      // <a href="?C=...">: Apache column sorting
    bool icon;           // Apache's icon alt texts
    bool parent_link;    // <li><a> Parent Directory</a>: Apache plain list
    bool server_address; // <address>Apache/2.4 ...: Apache signature
    bool index_heading;  // <h1>Index of ...
    bool pre;            // any <pre>
    bool link_in_cell;   // a link inside a <td>
    bool link_in_item;   // a link inside an <li>
    bool any_row;        // not a marker: some <tr> exists, so a table pass can find something
};

bool is_icon_alt(const char *v, size_t n)
{
    return ci_eqn(v, n, "[DIR]") || ci_eqn(v, n, "[PARENTDIR]") || ci_eqn(v, n, "[ICO]") || ci_eqn(v, n, "Icon ") ||
           ci_eqn(v, n, "[   ]");
}

// ASP.NET markers outrank every other marker: once they are seen, the rest
// of the page cannot change the decision, and only the title was still
// wanted from the detection walk.
bool aspnet(const markers &m) { return m.row_class || (m.table_index && m.section_main); }

// Append at most the first k_window bytes of a run while the text holds
// fewer than k_window bytes.
int add_window(ctext *t, const html_tok &tok)
{
    if (t->n >= k_window) return 0;
    return ct_add(t, tok.text, tok.len < k_window ? tok.len : k_window, SIZE_MAX, nullptr);
}

// The detection walk. Fills the markers and the text of the first <title>
// (a view into the page or a capped copy). 0, or -4 when memory ran out.
// The walk ends early on an ASP.NET page once its title is complete.
int detect(const char *page, size_t len, markers *m, ctext *title)
{
    ctext heading{}, link{};
    bool in_h1 = false, in_title = false, title_done = false, in_item = false, in_cell = false, in_address = false,
         in_link = false;
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
                    if (v.starts_with("?C=")) m->sort_link = true;
                    if (in_cell) m->link_in_cell = true;
                    if (in_item) {
                        m->link_in_item = true;
                        in_link = true;
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
                in_h1 = true;
            } else if (tag_is(t, "title")) {
                if (!title_done) in_title = true;
            } else if (tag_is(t, "pre")) {
                m->pre = true;
            } else if (tag_is(t, "address")) {
                in_address = true;
            }
        } else if (t.kind == TOK_CLOSE) {
            if (tag_is(t, "a")) {
                if (in_link) {
                    const char *p = link.p;
                    size_t n = link.n;
                    trim(&p, &n);
                    if (ci_eqn(p, n, "Parent Directory")) m->parent_link = true;
                    in_link = false;
                }
            } else if (tag_is(t, "td")) {
                in_cell = false;
            } else if (tag_is(t, "li")) {
                in_item = false;
            } else if (tag_is(t, "h1")) {
                const char *p = heading.p;
                size_t n = heading.n;
                trim(&p, &n);
                if (ci_prefix(p, n, "Index of ")) m->index_heading = true;
                in_h1 = false;
            } else if (tag_is(t, "title")) {
                if (in_title) {
                    title_done = true;
                    in_title = false;
                    if (aspnet(*m)) break;
                }
            } else if (tag_is(t, "address")) {
                in_address = false;
            }
        } else { // TOK_TEXT
            if (in_h1 && (rc = add_window(&heading, t)) != 0) break;
            if (in_title && (rc = ct_add(title, t.text, t.len, k_title_cap, nullptr)) != 0) break;
            if (in_link && (rc = add_window(&link, t)) != 0) break;
            if (in_address && t.len >= 6 && ci_prefix(t.text, t.len, "Apache")) m->server_address = true;
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

int dispatch(kldlp_ctx *c, const char *page, size_t len, const markers &m)
{
    kldlp_result *r = c->res;
    if (aspnet(m)) {
        r->dialect = KLDLP_DIALECT_ASPNET;
        r->variant = KLDLP_VARIANT_TABLE;
        return aspnet_table_pass(c, page, len);
    }
    if (m.sort_link) {
        r->dialect = KLDLP_DIALECT_APACHE;
        return apache_passes(c, page, len, true, m);
    }
    if (m.icon || m.server_address || (m.index_heading && m.parent_link)) {
        r->dialect = KLDLP_DIALECT_APACHE;
        return apache_passes(c, page, len, m.link_in_cell, m);
    }
    if (m.index_heading && m.pre) {
        r->dialect = KLDLP_DIALECT_NGINX;
        r->variant = KLDLP_VARIANT_PRE;
        int pre_seen = 0;
        return parse_pre(c, page, len, 1, &pre_seen);
    }
    return KLDLP_E_NOT_LISTING;
}

// The folder path the title claims to list: the text after "Index of ",
// character references decoded. A reference that had to be replaced leaves no
// path, because a path with U+FFFD in it names no folder on the server; so do
// bytes that are not UTF-8 (an Apache page in ISO-8859-1), which could not be
// compared with a folder path or shown in a result either.
int take_index_of(kldlp_result *r, const ctext &title)
{
    const char *p = title.p;
    size_t n = title.n;
    if (!p) return 0;
    trim(&p, &n);
    if (!ci_prefix(p, n, "Index of ")) return 0;
    int bad = 0;
    char *dec = kldlp_html_decode(p + 9, n - 9, &bad);
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

    markers m{};
    ctext title{};
    int rc = detect(page, len, &m, &title);
    if (rc == 0) rc = dispatch(&c, page, len, m);
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
