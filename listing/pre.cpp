// Preformatted listings: nginx autoindex and Apache FancyIndexing without
// HTMLTable. Both write one entry per line inside <pre>: a link whose href
// names the entry (its text may be shortened by the server, so it is never
// used), then plain columns padded with spaces up to the end of the line.
//
//   nginx:  <a href="song%20one.mp3">song one.mp3</a>      01-Jan-2024 12:00     1234
//   Apache: <img alt="[SND]"> <a href="x.mp3">x.mp3</a>   2024-01-01 12:00  1.2K  Description
//
// nginx always writes the date, then the size. Apache's columns depend on
// its IndexOptions; its header line carries one sort link per column
// (?C=N;O=D, ?C=M;O=A, ?C=S;O=A, ?C=D;O=A) in display order, and that order
// is the layout of every entry line.
#include <cstring>

#include "listing/collect.h"
#include "listing/internal.h"

namespace kldlp::detail {

namespace {

// A line is at most a few hundred bytes; anything longer is not a listing
// column and is cut rather than kept.
constexpr size_t k_trail_cap = 4096;
constexpr size_t k_max_cols = 7;

struct pre_state {
    char layout[k_max_cols + 1]; // column letters: M date (two words), S size (one word), D description
    size_t ncols;
    // The pending link: its href stays a view into the page, which outlives
    // the pass, so nothing is copied for it.
    const char *href;
    size_t href_len;
    ctext trail; // text after the link's end tag, up to the end of its line
    bool pending, in_link, collecting, in_pre;
};

// The next column of `words` words, starting at *pos: skip spaces, then take
// words separated by spaces; the column ends before the space after its last
// word. Returns false when only spaces remain.
bool next_column(const char *s, size_t n, size_t *pos, int words, const char **col, size_t *col_len)
{
    size_t i = *pos;
    while (i < n && is_html_space(s[i])) i++;
    if (i == n) {
        *pos = n;
        return false;
    }
    const size_t start = i;
    size_t stop = i;
    for (int w = 0; w < words; w++) {
        while (i < n && is_html_space(s[i])) i++;
        if (i == n) break;
        while (i < n && !is_html_space(s[i])) i++;
        stop = i;
    }
    *col = s + start;
    *col_len = stop - start;
    *pos = stop;
    return true;
}

int emit(kldlp_ctx *c, pre_state *st)
{
    st->pending = false;
    if (st->href_len > c->lim->max_href) {
        c->res->rejected++;
        return 0;
    }
    const char *size = "", *date = nullptr;
    size_t size_len = 0, date_len = 0;
    if (st->ncols && st->trail.n) {
        size_t pos = 0;
        for (size_t k = 0; k < st->ncols && pos < st->trail.n; k++) {
            const char letter = st->layout[k];
            if (letter != 'M' && letter != 'S') break;
            const char *col = nullptr;
            size_t col_len = 0;
            if (!next_column(st->trail.p, st->trail.n, &pos, letter == 'M' ? 2 : 1, &col, &col_len)) {
                col = st->trail.p + st->trail.n; // only spaces remain: an empty column
            }
            if (letter == 'M') {
                date = col;
                date_len = col_len;
            } else {
                size = col;
                size_len = col_len;
            }
        }
    }
    return add_href(c, st->href, st->href_len, size, size_len, date, date_len);
}

} // namespace

int parse_pre(kldlp_ctx *c, const char *page, size_t len, int nginx_mode, int *pre_seen)
{
    *pre_seen = 0;
    pre_state st{};
    if (nginx_mode) {
        st.layout[0] = 'M';
        st.layout[1] = 'S';
        st.ncols = 2;
    }
    token_walk w(page, len);
    int rc = 0;
    std::string_view v;
    for (;;) {
        const html_tok &t = w.next();
        // A link's line ends where the next link starts, at </pre> and at the
        // end of the page.
        if (st.pending && (t.kind == TOK_EOF || (t.kind == TOK_CLOSE && tag_is(t, "pre")) ||
                           (t.kind == TOK_OPEN && tag_is(t, "a")))) {
            if ((rc = emit(c, &st)) != 0) break;
        }
        if (t.kind == TOK_EOF) break;
        if (t.kind == TOK_OPEN && tag_is(t, "pre")) {
            st.in_pre = true;
            *pre_seen = 1;
            continue;
        }
        if (t.kind == TOK_CLOSE && tag_is(t, "pre")) {
            st.in_pre = false;
            continue;
        }
        if (!st.in_pre) continue;
        if (t.kind == TOK_TEXT) {
            if (!st.pending || !st.collecting) continue;
            const char *lf = static_cast<const char *>(memchr(t.text, '\n', t.len));
            const size_t n = lf ? static_cast<size_t>(lf - t.text) : t.len;
            if (ct_add(&st.trail, t.text, n, k_trail_cap, nullptr)) {
                rc = KLDLP_E_NOMEM;
                break;
            }
            if (lf) st.collecting = false;
        } else if (t.kind == TOK_OPEN) {
            if (tag_is(t, "a")) {
                if (!attr_of(t, "href", &v)) continue;
                if (!nginx_mode && is_sort_link(v)) {
                    if (st.ncols < k_max_cols && (v[3] == 'D' || v[3] == 'M' || v[3] == 'S'))
                        st.layout[st.ncols++] = v[3];
                    continue;
                }
                ct_reset(&st.trail);
                st.href = v.data();
                st.href_len = v.size();
                st.collecting = false;
                st.in_link = true;
                st.pending = true;
            } else if (tag_is(t, "br")) {
                st.collecting = false;
            }
        } else if (tag_is(t, "a")) { // TOK_CLOSE
            if (st.in_link && st.pending) st.collecting = true;
            st.in_link = false;
        }
    }
    ct_free(&st.trail);
    return rc;
}

} // namespace kldlp::detail
