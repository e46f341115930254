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
// (?C=N;O=D, ?C=M;O=A, ?C=S;O=A, ?C=D;O=A; ?N=D ... in httpd 1.3) in display
// order, and that order is the layout of every entry line. With
// SuppressColumnSorting the header line still names the columns, as text:
//
//   <pre><img alt="Icon "> Name                    Last modified      Size  Description<hr>
//
// With IconsAreLinks each line links the icon to the entry as well:
//
//   <a href="x.mp3"><img alt="[SND]"></a> <a href="x.mp3">x.mp3</a>   2024-01-01 12:00  1.2K
//
// and only the second link, the one that shows the name, carries the line's
// columns.
#include <cstdint>
#include <cstring>

#include "listing/dialects.h"

namespace kldlp::detail {

namespace {

// A line is at most a few hundred bytes; anything longer is not a listing
// column and is cut rather than kept.
constexpr size_t k_trail_cap = 4096;
constexpr size_t k_max_cols = 7;

// Apache's header line is a few dozen bytes; a longer one is no header.
constexpr size_t k_header_cap = 512;

bool all_space(const char *s, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (!is_html_space(s[i])) return false;
    return true;
}

// The column titles of Apache's header line, in display order: "Name", then
// any of "Last modified", "Size" and "Description". Fills the layout (the
// letters after N) and returns true when the text is such a line and nothing
// else.
bool header_columns(const char *s, size_t n, char *layout, size_t *ncols)
{
    static constexpr struct {
        const char *title;
        size_t len;
        char letter;
    } k_titles[] = {{"Name", 4, 'N'}, {"Last modified", 13, 'M'}, {"Size", 4, 'S'}, {"Description", 11, 'D'}};
    size_t i = 0, k = 0;
    bool name = false;
    for (;;) {
        while (i < n && is_html_space(s[i])) i++;
        if (i == n) break;
        bool found = false;
        for (const auto &t : k_titles) {
            if (n - i < t.len || memcmp(s + i, t.title, t.len) != 0) continue;
            if (i + t.len < n && !is_html_space(s[i + t.len])) continue;
            if ((t.letter == 'N') == name || k == k_max_cols) return false; // Name first, once
            if (t.letter == 'N')
                name = true;
            else
                layout[k++] = t.letter;
            i += t.len;
            found = true;
            break;
        }
        if (!found) return false;
    }
    if (!name) return false;
    layout[k] = '\0';
    *ncols = k;
    return true;
}

// The header line at the start of a pre (page from `at`): one run of text,
// the first that is not only spaces (an icon image may stand before it),
// ending at the rule under it, or at the first link when rules are
// suppressed. When it consists of Apache's column titles, fills the layout.
// A few tokens: they go through next_tok, so that the walk's inline
// tokenizer stays in parse_pre alone.
bool header_titles(const char *at, const char *end, char *layout, size_t *ncols)
{
    html_scan s{at, end};
    html_tok t{};
    const char *line = nullptr;
    size_t n = 0;
    for (;;) {
        next_tok(&s, &t);
        if (t.kind == TOK_EOF || (t.kind == TOK_OPEN && (tag_is(t, "a") || tag_is(t, "hr"))) ||
            (t.kind == TOK_CLOSE && tag_is(t, "pre")))
            break;
        if (t.kind != TOK_TEXT || all_space(t.text, t.len)) continue;
        if (line) return false; // a second run: something else
        line = t.text;
        n = t.len;
    }
    return line && n <= k_header_cap && header_columns(line, n, layout, ncols);
}

// Whether a link's content [p, end) shows text, not only an image.
bool shows_text(const char *p, const char *end)
{
    html_scan s{p, end};
    html_tok t{};
    for (;;) {
        next_tok(&s, &t);
        if (t.kind == TOK_EOF) return false;
        if (t.kind == TOK_TEXT && !all_space(t.text, t.len)) return true;
    }
}

struct pre_state {
    char layout[k_max_cols + 1]; // column letters: M date (two words), S size (one word), D description
    size_t ncols;
    // The pending link: its href stays a view into the page, which outlives
    // the pass, so nothing is copied for it.
    const char *href;
    size_t href_len;
    ctext trail; // text after the link's end tag, up to the end of its line
    bool pending, in_link, collecting, in_pre;
    // Apache mode: where the pending link's content starts, and whether it
    // holds an image and no text (IconsAreLinks: the entry's own link follows).
    const char *link_at;
    bool link_img, icon_only;
};

// The columns are padded with runs of spaces: short ones between Apache's
// columns, long ones in nginx's (its dates are padded to column 51, its sizes
// to 20 places). The first two bytes one by one, then eight at a time.
inline size_t skip_padding(const char *s, size_t n, size_t i)
{
    for (int k = 0; k < 2; k++, i++)
        if (i == n || !is_html_space(s[i])) return i;
    constexpr uint64_t k_spaces = 0x2020202020202020ull;
    while (n - i >= 8) {
        uint64_t w;
        memcpy(&w, s + i, 8);
        if (w != k_spaces) break;
        i += 8;
    }
    while (i < n && is_html_space(s[i])) i++;
    return i;
}

// The next column of `words` words, starting at *pos: skip spaces, then take
// words separated by spaces; the column ends before the space after its last
// word. Returns false when only spaces remain.
bool next_column(const char *s, size_t n, size_t *pos, int words, const char **col, size_t *col_len)
{
    size_t i = skip_padding(s, n, *pos);
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
    if (st->icon_only) return 0;
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

bool apache_pre_header(const char *pre_at, const char *end)
{
    char layout[k_max_cols + 1];
    size_t ncols = 0;
    return pre_at && header_titles(pre_at, end, layout, &ncols);
}

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
            // Without sort links Apache's header line names the columns.
            if (!nginx_mode && !*pre_seen) header_titles(w.s.pos, page + len, st.layout, &st.ncols);
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
                char letter;
                if (!nginx_mode && sort_link(v, &letter)) {
                    if (st.ncols < k_max_cols && (letter == 'D' || letter == 'M' || letter == 'S'))
                        st.layout[st.ncols++] = letter;
                    continue;
                }
                ct_reset(&st.trail);
                st.href = v.data();
                st.href_len = v.size();
                st.collecting = false;
                st.in_link = true;
                st.pending = true;
                st.link_at = w.s.pos;
                st.link_img = st.icon_only = false;
            } else if (st.in_link) {
                // Inside the link nothing is being collected yet.
                if (!nginx_mode && tag_is(t, "img")) st.link_img = true;
            } else if (tag_is(t, "br")) {
                st.collecting = false;
            }
        } else if (tag_is(t, "a")) { // TOK_CLOSE
            if (st.in_link && st.pending) {
                st.collecting = true;
                if (st.link_img) st.icon_only = !shows_text(st.link_at, t.text - 2);
            }
            st.in_link = false;
        }
    }
    ct_free(&st.trail);
    return rc;
}

} // namespace kldlp::detail
