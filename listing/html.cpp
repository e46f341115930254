// HTML scanning for generated listing pages: a small tokenizer (text runs,
// start and end tags, comments/declarations/script bodies skipped), attribute
// lookup on demand, and the character-reference and percent decoders.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "listing/internal.h"

namespace {

inline unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }
inline bool is_alpha(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Case-folded equality of n bytes.
bool ci_same(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// First "-->" at or after p, or null.
const char *find_comment_end(const char *p, const char *end) {
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
const char *find_end_tag(const char *p, const char *end, const char *name, size_t nlen) {
    while (p < end) {
        const char *lt = static_cast<const char *>(memchr(p, '<', static_cast<size_t>(end - p)));
        if (!lt) return nullptr;
        if (static_cast<size_t>(end - lt) >= nlen + 2 && lt[1] == '/' && ci_same(lt + 2, name, nlen)) return lt;
        p = lt + 1;
    }
    return nullptr;
}

} // namespace

void next_tok(html_scan *s, html_tok *t) {
    for (;;) {
        *t = html_tok{};
        const char *p = s->pos;
        const char *end = s->end;
        if (p >= end) {
            t->kind = TOK_EOF;
            return;
        }
        const size_t left = static_cast<size_t>(end - p);
        if (*p != '<') {
            const char *lt = static_cast<const char *>(memchr(p, '<', left));
            if (!lt) lt = end;
            t->kind = TOK_TEXT;
            t->text = p;
            t->len = static_cast<size_t>(lt - p);
            s->pos = lt;
            return;
        }
        // Comment: skipped up to the first "-->" after "<!--".
        if (left >= 4 && p[1] == '!' && p[2] == '-' && p[3] == '-') {
            if (left - 4 < 3) {
                s->pos = end;
                continue;
            }
            const char *close = find_comment_end(p + 4, end);
            s->pos = close ? close + 1 : end;
            continue;
        }
        // <!DOCTYPE ...>, <![CDATA[...]> and <?xml ...?>: skipped to the next ">".
        if (left >= 2 && (p[1] == '!' || p[1] == '?')) {
            const char *gt = static_cast<const char *>(memchr(p, '>', left));
            s->pos = gt ? gt + 1 : end;
            continue;
        }
        const bool closing = left >= 2 && p[1] == '/';
        const char *name = p + (closing ? 2 : 1);
        if (name >= end || !is_alpha(static_cast<unsigned char>(*name))) {
            // A stray "<" is text on its own ("a<b" is three text runs).
            t->kind = TOK_TEXT;
            t->text = p;
            t->len = 1;
            s->pos = p + 1;
            return;
        }
        const char *q = name + 1;
        while (q < end) {
            unsigned char c = static_cast<unsigned char>(*q);
            if (!(is_alpha(c) || is_digit(c) || c == ':' || c == '-')) break;
            ++q;
        }
        t->kind = closing ? TOK_CLOSE : TOK_OPEN;
        t->text = name;
        t->len = static_cast<size_t>(q - name);
        // Attributes end at the first ">" outside a quoted value.
        const char *a = q;
        const char *r = q;
        const char *stop = end;
        while (r < end) {
            char c = *r;
            if (c == '>') {
                stop = r;
                break;
            }
            if (c == '"' || c == '\'') {
                const char *cq = static_cast<const char *>(memchr(r + 1, c, static_cast<size_t>(end - r - 1)));
                if (!cq) {
                    r = end;
                    break;
                }
                r = cq + 1;
                continue;
            }
            ++r;
        }
        t->attrs = a;
        t->attrs_len = static_cast<size_t>(stop - a);
        s->pos = stop < end ? stop + 1 : end;
        if (t->kind == TOK_OPEN) {
            // Script and style bodies are raw text: nothing inside is markup.
            const char *raw = nullptr;
            size_t rlen = 0;
            if (ci_eqn(t->text, t->len, "script")) {
                raw = "script";
                rlen = 6;
            } else if (ci_eqn(t->text, t->len, "style")) {
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

int ci_eqn(const char *s, size_t len, const char *text) {
    const size_t n = strlen(text);
    return n == len && ci_same(s, text, n) ? 1 : 0;
}

int ci_prefix(const char *s, size_t len, const char *text) {
    const size_t n = strlen(text);
    return len >= n && ci_same(s, text, n) ? 1 : 0;
}

int get_attr(const char *attrs, size_t attrs_len, const char *name, const char **val, size_t *val_len) {
    if (!attrs) return 0;
    size_t i = 0;
    const size_t n = attrs_len;
    while (i < n) {
        while (i < n && (is_html_space(static_cast<unsigned char>(attrs[i])) || attrs[i] == '/')) ++i;
        if (i >= n) break;
        const size_t ns = i;
        while (i < n) {
            unsigned char c = static_cast<unsigned char>(attrs[i]);
            if (is_html_space(c) || c == '/' || c == '=' || c == '>') break;
            ++i;
        }
        const size_t nlen = i - ns;
        while (i < n && is_html_space(static_cast<unsigned char>(attrs[i]))) ++i;
        const char *v = attrs + i;
        size_t vlen = 0;
        if (i < n && attrs[i] == '=') {
            ++i;
            while (i < n && is_html_space(static_cast<unsigned char>(attrs[i]))) ++i;
            if (i < n && (attrs[i] == '"' || attrs[i] == '\'')) {
                const char q = attrs[i++];
                v = attrs + i;
                const char *cq = static_cast<const char *>(memchr(v, q, n - i));
                if (cq) {
                    vlen = static_cast<size_t>(cq - v);
                    i += vlen + 1;
                } else {
                    vlen = n - i;
                    i = n;
                }
            } else {
                v = attrs + i;
                while (i < n && !is_html_space(static_cast<unsigned char>(attrs[i]))) ++i;
                vlen = static_cast<size_t>(attrs + i - v);
            }
        }
        if (nlen && ci_eqn(attrs + ns, nlen, name)) {
            *val = v;
            *val_len = vlen;
            return 1;
        }
        if (!nlen) ++i; // "=x" or a stray ">": step over it
    }
    return 0;
}

int has_class(const char *attrs, size_t attrs_len, const char *cls) {
    const char *v;
    size_t vlen;
    if (!get_attr(attrs, attrs_len, "class", &v, &vlen)) return 0;
    size_t i = 0;
    while (i < vlen) {
        while (i < vlen && is_html_space(static_cast<unsigned char>(v[i]))) ++i;
        const size_t st = i;
        while (i < vlen && !is_html_space(static_cast<unsigned char>(v[i]))) ++i;
        if (i > st && ci_eqn(v + st, i - st, cls)) return 1;
    }
    return 0;
}

namespace {

// Length of a wide space (HTML space, U+00A0, U+202F, U+2009) starting at p,
// or 0.
inline size_t space_at(const unsigned char *p, size_t n) {
    if (is_html_space(p[0])) return 1;
    if (n >= 2 && p[0] == 0xC2 && p[1] == 0xA0) return 2;
    if (n >= 3 && p[0] == 0xE2 && p[1] == 0x80 && (p[2] == 0xAF || p[2] == 0x89)) return 3;
    return 0;
}

// Length of a wide space ending at p + n, or 0.
inline size_t space_before(const unsigned char *p, size_t n) {
    if (is_html_space(p[n - 1])) return 1;
    if (n >= 2 && p[n - 2] == 0xC2 && p[n - 1] == 0xA0) return 2;
    if (n >= 3 && p[n - 3] == 0xE2 && p[n - 2] == 0x80 && (p[n - 1] == 0xAF || p[n - 1] == 0x89)) return 3;
    return 0;
}

} // namespace

void trim(const char **s, size_t *len) {
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

int sb_add(sbuf *b, const char *s, size_t n) {
    if (n > SIZE_MAX - b->len - 1) return -1;
    const size_t need = b->len + n + 1;
    if (need > b->cap) {
        size_t cap;
        if (b->cap == 0) {
            cap = 64;
            if (need > 64) {
                cap = 128;
                while (cap < need) {
                    if (cap > SIZE_MAX / 2) return -1;
                    cap *= 2;
                }
            }
        } else {
            cap = b->cap;
            while (cap < need) {
                if (cap > SIZE_MAX / 2) return -1;
                cap *= 2;
            }
        }
        char *d = static_cast<char *>(realloc(b->data, cap));
        if (!d) return -1;
        b->data = d;
        b->cap = cap;
    }
    if (n) memcpy(b->data + b->len, s, n);
    b->len += n;
    b->data[b->len] = '\0';
    return 0;
}

void sb_free(sbuf *b) {
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
    {"amp", 3, 0x26}, {"lt", 2, 0x3C}, {"gt", 2, 0x3E}, {"quot", 4, 0x22}, {"apos", 4, 0x27}, {"nbsp", 4, 0xA0}, {"#", 1, 0},
};

inline int hexval(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A character reference at p (p[0] == '&', n > 2 bytes remain). Returns its
// length and code point, or 0 when there is none.
size_t one_ref(const char *p, size_t n, int32_t *cp) {
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
        int d = hex ? hexval(static_cast<unsigned char>(p[i])) : (is_digit(static_cast<unsigned char>(p[i])) ? p[i] - '0' : -1);
        if (d < 0) break;
        v = v * (hex ? 16 : 10) + d;
        ++i;
    }
    if (i == first || i >= n || p[i] != ';') return 0;
    *cp = v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
    return i + 1;
}

inline size_t put_utf8(char *o, uint32_t cp) {
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

// Every reference is at least as long as what it decodes to (the shortest
// one that yields three bytes, "&#0;", is four bytes long), so the output
// never outgrows the input and one allocation of len + 1 bytes suffices.
char *kldlp_html_decode(const char *s, size_t len, int *bad) {
    if (bad) *bad = 0;
    if (!s) return nullptr;
    if (len == SIZE_MAX) return nullptr;
    char *out = static_cast<char *>(malloc(len + 1));
    if (!out) return nullptr;
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
    return out;
}

char *pct_decode_n(const char *s, size_t len, size_t *out_len) {
    if (!s || len == SIZE_MAX) return nullptr;
    char *out = static_cast<char *>(malloc(len + 1));
    if (!out) return nullptr;
    size_t o = 0;
    for (size_t i = 0; i < len;) {
        if (s[i] == '%' && len - i >= 3) {
            const int h = hexval(static_cast<unsigned char>(s[i + 1]));
            const int l = hexval(static_cast<unsigned char>(s[i + 2]));
            if (h >= 0 && l >= 0) {
                out[o++] = static_cast<char>(h * 16 + l);
                i += 3;
                continue;
            }
        }
        out[o++] = s[i++];
    }
    out[o] = '\0';
    if (out_len) *out_len = o;
    return out;
}

char *kldlp_pct_decode(const char *s, size_t len) { return pct_decode_n(s, len, nullptr); }
