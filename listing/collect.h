// Small helpers shared by the extraction passes: tag-name tests and capped
// text collection that avoids copying page bytes when it can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "listing/internal.h"

namespace kldlp::detail {

// A tag name of the page equals a lower-case literal under ASCII case folding.
template <size_t N> inline bool tag_is(const html_tok &t, const char (&name)[N])
{
    return t.len == N - 1 && ci_equal(t.text, name, N - 1);
}

// Which of the given lower-case class names the tag's class attribute holds
// as a token (ASCII case folding): bit i for the i-th name. One look-up of
// the attribute serves every name, where a row or cell is classified by
// several of them.
inline unsigned class_bits(const char *attrs, size_t attrs_len, std::initializer_list<std::string_view> names)
{
    const char *v;
    size_t n;
    if (!get_attr(attrs, attrs_len, "class", &v, &n)) return 0;
    unsigned bits = 0;
    size_t i = 0;
    while (i < n) {
        while (i < n && is_html_space(v[i])) i++;
        const size_t start = i;
        while (i < n && !is_html_space(v[i])) i++;
        const size_t len = i - start;
        unsigned bit = 1;
        for (std::string_view name : names) {
            if (len == name.size() && ci_equal(v + start, name.data(), len)) bits |= bit;
            bit <<= 1;
        }
    }
    return bits;
}

// A walk over the tokens of a page from its first byte: the common start
// of every pass.
struct token_walk {
    html_scan s;
    html_tok t{};
    token_walk(const char *page, size_t len) : s{page, page + len} {}
    KLDLP_ALWAYS_INLINE const html_tok &next()
    {
        scan_tok(&s, &t);
        return t;
    }
    // The next token into t; false at the end of the page.
    bool step() { return next().kind != TOK_EOF; }
};

// The raw value of an attribute of a start tag, as a view into the page.
inline bool attr_of(const html_tok &t, const char *name, std::string_view *value)
{
    const char *v;
    size_t n;
    if (!get_attr(t.attrs, t.attrs_len, name, &v, &n)) return false;
    *value = std::string_view(v, n);
    return true;
}

// Apache's column-sorting links: ?C=N;O=D, ?C=M;O=A, ... since httpd 2.0 (the
// fourth byte names the column), and ?N=D, ?M=A, ?S=A, ?D=A in httpd 1.3 (the
// second byte). *letter receives the column letter.
inline bool sort_link(std::string_view href, char *letter)
{
    if (href.size() < 4 || href[0] != '?') return false;
    if (href[1] == 'C' && href[2] == '=') {
        *letter = href[3];
        return true;
    }
    const char c = href[1];
    if (href.size() == 4 && (c == 'N' || c == 'M' || c == 'S' || c == 'D') && href[2] == '=' &&
        (href[3] == 'A' || href[3] == 'D')) {
        *letter = c;
        return true;
    }
    return false;
}

// Windows over heading and link texts: enough to read "Index of ..." and
// "Parent Directory", small enough that a hostile page cannot grow them.
constexpr size_t k_window = 64;

// Text gathered from one or more runs of the page, never longer than a cap.
// The page outlives every pass, so while the text is a single run it is only
// a view into the page; a second run copies it into a builder that is reused
// from row to row (no allocation per entry once the builder has grown).
struct ctext {
    const char *p;
    size_t n;
    sbuf b;
    bool own;
};

inline void ct_reset(ctext *t)
{
    t->p = nullptr;
    t->n = 0;
    t->own = false;
    t->b.len = 0;
    if (t->b.data) t->b.data[0] = '\0';
}

inline void ct_free(ctext *t)
{
    sb_free(&t->b);
    t->p = nullptr;
    t->n = 0;
    t->own = false;
}

// Append at most what keeps the text within cap bytes. Sets *cut when bytes
// had to be dropped. 0, or -1 when memory ran out.
[[nodiscard]] inline int ct_add(ctext *t, const char *s, size_t n, size_t cap, bool *cut)
{
    const size_t room = t->n < cap ? cap - t->n : 0;
    if (n > room) {
        n = room;
        if (cut) *cut = true;
    }
    if (n == 0) return 0;
    if (!t->own && t->n == 0) {
        t->p = s;
        t->n = n;
        return 0;
    }
    if (!t->own) {
        t->b.len = 0;
        if (sb_add(&t->b, t->p, t->n)) return -1;
        t->own = true;
    }
    if (sb_add(&t->b, s, n)) return -1;
    t->p = t->b.data;
    t->n = t->b.len;
    return 0;
}

// Append at most the first k_window bytes of a run while the text holds
// fewer than k_window bytes. 0, or -1 when memory ran out.
[[nodiscard]] inline int add_window(ctext *t, const html_tok &tok)
{
    if (t->n >= k_window) return 0;
    return ct_add(t, tok.text, tok.len < k_window ? tok.len : k_window, SIZE_MAX, nullptr);
}

// The text of a window, trimmed, equals a literal under ASCII case folding.
inline bool window_is(const ctext &t, const char *text)
{
    const char *p = t.p;
    size_t n = t.n;
    trim(&p, &n);
    return ci_eqn(p, n, text);
}

} // namespace kldlp::detail
