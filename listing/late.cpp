// The servers recognised after ASP.NET Core, nginx and Apache's marked pages,
// each by marks it writes itself:
//
//   lighttpd mod_dirlisting  <title>Index of /x/</title>, <h2>, a table whose
//                            header cells carry the classes n, m, s, t:
//                            <th class="n">Name</th><th class="m">Last Modified</th>...
//   Caddy file_server browse sort links ?sort=name&order=asc and a footer
//                            "Served with <a href="https://caddyserver.com">Caddy</a>"
//   Python http.server       <title>Directory listing for /x/</title>, the same
//                            h1, a <ul> of <li><a href="name">name</a></li>
//   IIS directory browsing   <title>HOST - /x/</title>, the same H1, one <pre>
//
// and Apache's own pages that carry none of the marks of its usual
// configuration: a table with SuppressIcon, SuppressColumnSorting and
// ServerSignature Off ("Index of" heading, header texts Name, Last modified,
// Size, a Parent Directory row), and the plain list of the document root
// with ServerSignature Off (no Parent Directory item there).
//
// This walk runs only on pages that the first three dialects refuse, so it
// costs their pages nothing.
#include <cstring>

#include "listing/dialects.h"

namespace kldlp::detail {

namespace {

struct late_marks {
    bool th_name;        // a header cell reading "Name"
    bool lighttpd_head;  // that cell carries lighttpd's class "n"
    bool parent_in_cell; // a link reading "Parent Directory" inside a <td>
    bool ul;             // a <ul>
    bool items_relative; // every link sits in a list item and names a child by a relative path
    bool caddy_footer;   // a link to caddyserver.com inside a <footer>
};

// A link written as the plain relative path of a child ("x", "x/", or Apache's
// "./x:y" for a name that could be read as a scheme): no scheme, authority,
// query or fragment, no "/" but a final one, not "." or "..".
bool relative_child(std::string_view h)
{
    const bool dot_slash = h.starts_with("./");
    if (dot_slash) h.remove_prefix(2);
    if (h.ends_with('/')) h.remove_suffix(1);
    if (h.empty() || h == "." || h == "..") return false;
    for (const char ch : h)
        if (ch == '/' || ch == '?' || ch == '#' || (ch == ':' && !dot_slash)) return false;
    return true;
}

int late_walk(const char *page, size_t len, late_marks *lm)
{
    ctext th{}, link{};
    bool in_th = false, th_n = false, in_cell = false, in_item = false, in_footer = false, in_cell_link = false;
    std::string_view v;
    int rc = 0;
    for (token_walk w(page, len); rc == 0 && w.step();) {
        const html_tok &t = w.t;
        if (t.kind == TOK_OPEN) {
            if (tag_is(t, "a")) {
                if (!attr_of(t, "href", &v)) continue;
                if (!in_item || !relative_child(v)) lm->items_relative = false;
                if (in_cell) {
                    in_cell_link = true;
                    ct_reset(&link);
                }
                if (in_footer && v.starts_with("https://caddyserver.com")) lm->caddy_footer = true;
            } else if (tag_is(t, "th")) {
                in_th = true;
                ct_reset(&th);
                th_n = class_bits(t.attrs, t.attrs_len, {"n"}) != 0;
            } else if (tag_is(t, "td")) {
                in_cell = true;
            } else if (tag_is(t, "li")) {
                in_item = true;
            } else if (tag_is(t, "ul")) {
                lm->ul = true;
            } else if (tag_is(t, "footer")) {
                in_footer = true;
            }
        } else if (t.kind == TOK_CLOSE) {
            if (tag_is(t, "a")) {
                if (in_cell_link && window_is(link, "Parent Directory")) lm->parent_in_cell = true;
                in_cell_link = false;
            } else if (tag_is(t, "th")) {
                if (in_th && window_is(th, "Name")) {
                    lm->th_name = true;
                    if (th_n) lm->lighttpd_head = true;
                }
                in_th = false;
            } else if (tag_is(t, "td")) {
                in_cell = false;
            } else if (tag_is(t, "li") || tag_is(t, "ul")) {
                in_item = false;
            } else if (tag_is(t, "footer")) {
                in_footer = false;
            }
        } else { // TOK_TEXT
            if (in_th) rc = add_window(&th, t);
            if (in_cell_link && rc == 0) rc = add_window(&link, t);
        }
    }
    ct_free(&th);
    ct_free(&link);
    return rc ? KLDLP_E_NOMEM : 0;
}

// The table pass under the dialect; -1 when it recognised no table.
int table_as(kldlp_ctx *c, const char *page, size_t len, int32_t dialect)
{
    c->res->dialect = dialect;
    int recognised = 0;
    const int rc = generic_table_pass(c, page, len, &recognised);
    if (rc) return rc;
    if (!recognised) {
        c->res->dialect = 0;
        return KLDLP_E_NOT_LISTING;
    }
    c->res->variant = KLDLP_VARIANT_TABLE;
    return 0;
}

int list_as(kldlp_ctx *c, const char *page, size_t len, int32_t dialect)
{
    c->res->dialect = dialect;
    c->res->variant = KLDLP_VARIANT_LIST;
    return list_pass(c, page, len);
}

} // namespace

size_t host_title_path(const char *s, size_t n)
{
    size_t i = 0;
    while (i < n && !is_html_space(s[i])) i++;
    if (i == 0 || n - i < 4 || memcmp(s + i, " - /", 4) != 0) return 0;
    return i + 3;
}

int late_dispatch(kldlp_ctx *c, const char *page, size_t len, const markers &m, const ctext &title)
{
    late_marks lm{};
    lm.items_relative = true;
    if (late_walk(page, len, &lm)) return KLDLP_E_NOMEM;
    const char *tp = title.p;
    size_t tn = title.n;
    if (tp) trim(&tp, &tn);
    kldlp_result *r = c->res;

    if (m.caddy_sort && lm.caddy_footer) {
        r->dialect = KLDLP_DIALECT_CADDY;
        r->variant = KLDLP_VARIANT_TABLE;
        return caddy_pass(c, page, len);
    }
    int rc = KLDLP_E_NOT_LISTING;
    if (lm.lighttpd_head && ci_prefix(tp, tn, "Index of ")) rc = table_as(c, page, len, KLDLP_DIALECT_LIGHTTPD);
    if (rc == KLDLP_E_NOT_LISTING && m.index_heading && (lm.th_name || lm.parent_in_cell))
        rc = table_as(c, page, len, KLDLP_DIALECT_APACHE);
    if (rc != KLDLP_E_NOT_LISTING) return rc;

    if (lm.ul && lm.items_relative) {
        if (m.index_heading && ci_prefix(tp, tn, "Index of ")) return list_as(c, page, len, KLDLP_DIALECT_APACHE);
        if (m.dirlist_heading && ci_prefix(tp, tn, "Directory listing for "))
            return list_as(c, page, len, KLDLP_DIALECT_PYTHON);
    }
    if (m.host_heading && m.pre && host_title_path(tp, tn)) {
        r->dialect = KLDLP_DIALECT_IIS;
        r->variant = KLDLP_VARIANT_PRE;
        return iis_pass(c, page, len);
    }
    return KLDLP_E_NOT_LISTING;
}

} // namespace kldlp::detail
