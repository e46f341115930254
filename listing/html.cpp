// HTML scanning for generated listing pages: a small tokenizer (text runs,
// start and end tags, comments/declarations/script bodies skipped), attribute
// lookup on demand, and the character-reference and percent decoders.
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "listing/internal.h"

namespace kldlp::detail {

namespace {

// Byte classes of the attribute reader.
constexpr uint8_t k_space = 1, k_slash = 2, k_equals = 4, k_gt = 8;
constexpr struct attr_bytes {
    uint8_t b[256];
    constexpr attr_bytes() : b{}
    {
        for (int c : {0x09, 0x0A, 0x0C, 0x0D, 0x20}) b[c] = k_space;
        b[0x2F] = k_slash;  // "/"
        b[0x3D] = k_equals; // "="
        b[0x3E] = k_gt;     // ">"
    }
    constexpr uint8_t operator[](unsigned char c) const { return b[c]; }
} k_attr_byte;

// First "-->" at or after p, or null.
const char *find_comment_end(const char *p, const char *end)
{
    const char *q = p + 2;
    while (q < end) {
        const char *gt = static_cast<const char *>(memchr(q, '>', static_cast<size_t>(end - q)));
        if (!gt) return nullptr;
        if (gt[-1] == '-' && gt[-2] == '-') return gt;
        q = gt + 1;
    }
    return nullptr;
}

// Position of the first "</name" (case-insensitive, name being script or
// style) at or after p, or null. A longer tag name that begins with the
// same letters also matches, as in browsers that end raw text loosely.
const char *find_end_tag(const char *p, const char *end, const char *name, size_t nlen)
{
    while (p < end) {
        const char *lt = static_cast<const char *>(memchr(p, '<', static_cast<size_t>(end - p)));
        if (!lt) return nullptr;
        if (static_cast<size_t>(end - lt) >= nlen + 2 && lt[1] == '/' && ci_equal(lt + 2, name, nlen)) return lt;
        p = lt + 1;
    }
    return nullptr;
}

} // namespace

void next_tok(html_scan *s, html_tok *t)
{
    const char *const end = s->end;
    const char *p = s->pos;
    for (;;) {
        if (p >= end) {
            s->pos = p;
            set_tok(t, TOK_EOF, nullptr, 0, nullptr, 0);
            return;
        }
        const size_t left = static_cast<size_t>(end - p);
        if (*p != '<') {
            const char *lt = static_cast<const char *>(memchr(p, '<', left));
            if (!lt) lt = end;
            set_tok(t, TOK_TEXT, p, static_cast<size_t>(lt - p), nullptr, 0);
            s->pos = lt;
            return;
        }
        // What follows the "<" decides: a letter starts a start tag, "/"
        // and a letter an end tag; "<!--" a comment, other "<!" and "<?"
        // a declaration; anything else leaves the "<" as text.
        const unsigned char c1 = left >= 2 ? static_cast<unsigned char>(p[1]) : 0;
        const char *name;
        bool closing = false;
        if (is_alpha(c1)) {
            name = p + 1;
        } else if (c1 == '/' && left >= 3 && is_alpha(static_cast<unsigned char>(p[2]))) {
            name = p + 2;
            closing = true;
        } else if (c1 == '!' && left >= 4 && p[2] == '-' && p[3] == '-') {
            // Comment: skipped up to the first "-->" after "<!--".
            if (left - 4 < 3) {
                p = end;
                continue;
            }
            const char *close = find_comment_end(p + 4, end);
            p = close ? close + 1 : end;
            continue;
        } else if (c1 == '!' || c1 == '?') {
            // <!DOCTYPE ...>, <![CDATA[...]> and <?xml ...?>: skipped to the next ">".
            const char *gt = static_cast<const char *>(memchr(p, '>', left));
            p = gt ? gt + 1 : end;
            continue;
        } else {
            // A stray "<" is text on its own ("a<b" is three text runs).
            set_tok(t, TOK_TEXT, p, 1, nullptr, 0);
            s->pos = p + 1;
            return;
        }
        const char *q = name + 1;
        while (q < end && k_tag_name_byte[static_cast<unsigned char>(*q)]) ++q;
        const size_t name_len = static_cast<size_t>(q - name);
        const char *stop = attrs_end(q, end);
        set_tok(t, closing ? TOK_CLOSE : TOK_OPEN, name, name_len, q, static_cast<size_t>(stop - q));
        s->pos = stop < end ? stop + 1 : end;
        if (!closing) {
            // Script and style bodies are raw text: nothing inside is markup.
            const char *raw = nullptr;
            size_t rlen = 0;
            if (name_len == 6 && ci_equal(name, "script", 6)) {
                raw = "script";
                rlen = 6;
            } else if (name_len == 5 && ci_equal(name, "style", 5)) {
                raw = "style";
                rlen = 5;
            }
            if (raw) {
                const char *et = find_end_tag(s->pos, end, raw, rlen);
                if (!et) {
                    s->pos = end;
                } else {
                    const char *from = et + 2 + rlen;
                    const char *gt = static_cast<const char *>(memchr(from, '>', static_cast<size_t>(end - from)));
                    s->pos = gt ? gt + 1 : end;
                }
            }
        }
        return;
    }
}

int ci_eqn(const char *s, size_t len, const char *text)
{
    const size_t n = strlen(text);
    return n == len && ci_equal(s, text, n) ? 1 : 0;
}

int ci_prefix(const char *s, size_t len, const char *text)
{
    const size_t n = strlen(text);
    return len >= n && ci_equal(s, text, n) ? 1 : 0;
}

int get_attr_n(const char *attrs, size_t attrs_len, const char *name, size_t want, const char **val, size_t *val_len)
{
    if (!attrs) return 0;
    const char *p = attrs;
    const char *const end = attrs + attrs_len;
    auto is = [](char c, uint8_t cls) { return (k_attr_byte[static_cast<unsigned char>(c)] & cls) != 0; };
    // Servers write the attribute a pass looks for first, as name="value"
    // after one space (<a href="x">, <tr class="file">): that case at once.
    // The wanted name holds no space, "/", "=" or ">", so the walk below
    // would read the same attribute.
    if (want && attrs_len > want + 3 && is(attrs[0], k_space) && attrs[want + 1] == '=' &&
        (attrs[want + 2] == '"' || attrs[want + 2] == '\'') && ci_equal(attrs + 1, name, want)) {
        const char *v = attrs + want + 3;
        *val = v;
        *val_len = static_cast<size_t>(find_byte(v, end, attrs[want + 2], attrs) - v);
        return 1;
    }
    while (p < end) {
        while (p < end && is(*p, k_space | k_slash)) ++p;
        if (p >= end) break;
        const char *ns = p;
        while (p < end && !is(*p, k_space | k_slash | k_equals | k_gt)) ++p;
        const size_t nlen = static_cast<size_t>(p - ns);
        while (p < end && is(*p, k_space)) ++p;
        const char *v = p;
        size_t vlen = 0;
        if (p < end && *p == '=') {
            ++p;
            while (p < end && is(*p, k_space)) ++p;
            if (p < end && (*p == '"' || *p == '\'')) {
                v = p + 1;
                const char *cq = find_byte(v, end, *p, attrs);
                vlen = static_cast<size_t>(cq - v);
                p = cq < end ? cq + 1 : end;
            } else {
                v = p;
                while (p < end && !is(*p, k_space)) ++p;
                vlen = static_cast<size_t>(p - v);
            }
        }
        if (nlen && nlen == want && ci_equal(ns, name, nlen)) {
            *val = v;
            *val_len = vlen;
            return 1;
        }
        if (!nlen) ++p; // "=x" or a stray ">": step over it
    }
    return 0;
}

namespace {

// Length of a wide space (HTML space, U+00A0, U+202F, U+2009) starting at p,
// or 0.
inline size_t space_at(const unsigned char *p, size_t n)
{
    if (is_html_space(p[0])) return 1;
    if (n >= 2 && p[0] == 0xC2 && p[1] == 0xA0) return 2;
    if (n >= 3 && p[0] == 0xE2 && p[1] == 0x80 && (p[2] == 0xAF || p[2] == 0x89)) return 3;
    return 0;
}

// Length of a wide space ending at p + n, or 0.
inline size_t space_before(const unsigned char *p, size_t n)
{
    if (is_html_space(p[n - 1])) return 1;
    if (n >= 2 && p[n - 2] == 0xC2 && p[n - 1] == 0xA0) return 2;
    if (n >= 3 && p[n - 3] == 0xE2 && p[n - 2] == 0x80 && (p[n - 1] == 0xAF || p[n - 1] == 0x89)) return 3;
    return 0;
}

} // namespace

void trim(const char **s, size_t *len)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(*s);
    size_t n = *len;
    if (!p) return;
    while (n) {
        size_t k = space_at(p, n);
        if (!k) break;
        p += k;
        n -= k;
    }
    while (n) {
        size_t k = space_before(p, n);
        if (!k) break;
        n -= k;
    }
    *s = reinterpret_cast<const char *>(p);
    *len = n;
}

namespace {

// Capacity for at least need bytes: 64 for a first small text, else 128 (or
// the old capacity) doubled until it suffices. False when memory ran out;
// the builder is then unchanged.
bool sb_grow(sbuf *b, size_t need)
{
    if (need <= b->cap) return true;
    size_t cap;
    if (b->cap == 0) {
        cap = 64;
        if (need > 64) {
            cap = 128;
            while (cap < need) {
                if (cap > SIZE_MAX / 2) return false;
                cap *= 2;
            }
        }
    } else {
        cap = b->cap;
        while (cap < need) {
            if (cap > SIZE_MAX / 2) return false;
            cap *= 2;
        }
    }
    char *d = static_cast<char *>(realloc(b->data, cap));
    if (!d) return false;
    b->data = d;
    b->cap = cap;
    return true;
}

} // namespace

int sb_add(sbuf *b, const char *s, size_t n)
{
    if (n > SIZE_MAX - b->len - 1) return -1;
    if (!sb_grow(b, b->len + n + 1)) return -1;
    if (n) memcpy(b->data + b->len, s, n);
    b->len += n;
    b->data[b->len] = '\0';
    return 0;
}

char *sb_room(sbuf *b, size_t n)
{
    b->len = 0;
    if (b->data) b->data[0] = '\0';
    if (n == SIZE_MAX || !sb_grow(b, n + 1)) return nullptr;
    b->data[0] = '\0';
    return b->data;
}

void sb_free(sbuf *b)
{
    free(b->data);
    b->data = nullptr;
    b->len = 0;
    b->cap = 0;
}

namespace {

struct ent {
    const char *name;
    size_t len;
    uint32_t cp;
};

// Named references that generated listings use; "#" ends the table.
constexpr ent k_ent[] = {
    {"amp", 3, 0x26},  {"lt", 2, 0x3C},   {"gt", 2, 0x3E}, {"quot", 4, 0x22},
    {"apos", 4, 0x27}, {"nbsp", 4, 0xA0}, {"#", 1, 0},
};

// A character reference at p (p[0] == '&', n > 2 bytes remain). Returns its
// length and code point, or 0 when there is none.
size_t one_ref(const char *p, size_t n, int32_t *cp)
{
    if (p[1] != '#') {
        for (const ent *e = k_ent; e->name[0] != '#'; ++e) {
            if (n >= e->len + 2 && memcmp(p + 1, e->name, e->len) == 0 && p[1 + e->len] == ';') {
                *cp = static_cast<int32_t>(e->cp);
                return e->len + 2;
            }
        }
        return 0;
    }
    size_t i = 2;
    const bool hex = p[2] == 'x' || p[2] == 'X';
    if (hex) ++i;
    const size_t first = i;
    int64_t v = 0;
    while (i < n && i - first < 8) {
        int d = hex ? hex_value(p[i]) : (is_digit(static_cast<unsigned char>(p[i])) ? p[i] - '0' : -1);
        if (d < 0) break;
        v = v * (hex ? 16 : 10) + d;
        ++i;
    }
    if (i == first || i >= n || p[i] != ';') return 0;
    *cp = v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
    return i + 1;
}

inline size_t put_utf8(char *o, uint32_t cp)
{
    if (cp < 0x80) {
        o[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        o[0] = static_cast<char>(0xC0 | (cp >> 6));
        o[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        o[0] = static_cast<char>(0xE0 | (cp >> 12));
        o[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        o[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    o[0] = static_cast<char>(0xF0 | (cp >> 18));
    o[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    o[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    o[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

} // namespace

size_t html_decode_to(const char *s, size_t len, char *out, int *bad)
{
    if (bad) *bad = 0;
    size_t o = 0, i = 0;
    while (i < len) {
        const char *amp = static_cast<const char *>(memchr(s + i, '&', len - i));
        const size_t run = (amp ? static_cast<size_t>(amp - s) : len) - i;
        memcpy(out + o, s + i, run);
        o += run;
        i += run;
        if (i >= len) break;
        int32_t cp = 0;
        const size_t rl = len - i > 2 ? one_ref(s + i, len - i, &cp) : 0;
        if (!rl) {
            out[o++] = '&';
            ++i;
            continue;
        }
        i += rl;
        uint32_t u = static_cast<uint32_t>(cp);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            int32_t lo = 0;
            const size_t ll = (len - i > 2 && s[i] == '&') ? one_ref(s + i, len - i, &lo) : 0;
            if (ll && lo >= 0xDC00 && lo <= 0xDFFF) {
                u = 0x10000u + (static_cast<uint32_t>(cp) - 0xD800u) * 0x400u + (static_cast<uint32_t>(lo) - 0xDC00u);
                i += ll;
            } else {
                u = 0xFFFD;
                if (bad) *bad = 1;
            }
        } else if ((cp >= 0xDC00 && cp <= 0xDFFF) || cp <= 0 || cp > 0x10FFFF) {
            u = 0xFFFD;
            if (bad) *bad = 1;
        }
        o += put_utf8(out + o, u);
    }
    out[o] = '\0';
    return o;
}

} // namespace kldlp::detail

using namespace kldlp::detail;

// Every reference is at least as long as what it decodes to (the shortest
// one that yields three bytes, "&#0;", is four bytes long), so the output
// never outgrows the input and one allocation of len + 1 bytes suffices.
char *kldlp_html_decode(const char *s, size_t len, int *bad)
{
    if (bad) *bad = 0;
    if (!s) return nullptr;
    if (len == SIZE_MAX) return nullptr;
    char *out = static_cast<char *>(malloc(len + 1));
    if (!out) return nullptr;
    html_decode_to(s, len, out, bad);
    return out;
}

char *kldlp_pct_decode(const char *s, size_t len) { return pct_decode(s, len, nullptr); }
