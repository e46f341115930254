// Link resolution (RFC 3986 section 5.2, strict) and the rule that decides
// whether a link on a listing page names a direct child of the listed folder.
#include <cstdlib>
#include <cstring>

#include "listing/internal.h"

namespace kldlp::detail {

namespace {

inline void set(url_part &u, const char *p, size_t len)
{
    u.p = p;
    u.len = len;
    u.present = 1;
}

} // namespace

// RFC 3986 section 3: scheme ":" ["//" authority] path ["?" query] ["#" fragment].
void uparse(const char *ref, url_parts *out)
{
    *out = url_parts{};
    if (!ref) return;
    const char *p = ref;
    if (is_alpha(*p)) {
        const char *q = p + 1;
        while (is_alpha(*q) || is_digit(*q) || *q == '+' || *q == '-' || *q == '.') ++q;
        if (*q == ':') {
            set(out->scheme, p, static_cast<size_t>(q - p));
            p = q + 1;
        }
    }
    if (p[0] == '/' && p[1] == '/') {
        const char *a = p + 2;
        const char *q = a + strcspn(a, "/?#");
        set(out->authority, a, static_cast<size_t>(q - a));
        p = q;
    }
    const char *q = p + strcspn(p, "?#");
    set(out->path, p, static_cast<size_t>(q - p));
    p = q;
    if (*p == '?') {
        const char *a = p + 1;
        q = a + strcspn(a, "#");
        set(out->query, a, static_cast<size_t>(q - a));
        p = q;
    }
    if (*p == '#') {
        const char *a = p + 1;
        set(out->fragment, a, strlen(a));
    }
}

namespace {

// RFC 3986 section 5.2.4, in place over path[0, len). The write position never
// passes the read position, so one buffer serves as input and output; where
// the algorithm turns "/." or "/.." at the end into "/", that "/" is written
// over the last input byte. Returns the new length.
size_t remove_dots(char *path, size_t len)
{
    char *r = path;
    char *end = path + len;
    char *w = path;
    while (r < end) {
        const size_t rem = static_cast<size_t>(end - r);
        // A: "../" or "./" prefix
        if (rem >= 3 && r[0] == '.' && r[1] == '.' && r[2] == '/') {
            r += 3;
        } else if (rem >= 2 && r[0] == '.' && r[1] == '/') {
            r += 2;
        }
        // B: "/./" or a final "/."
        else if (rem >= 3 && r[0] == '/' && r[1] == '.' && r[2] == '/') {
            r += 2;
        } else if (rem == 2 && r[0] == '/' && r[1] == '.') {
            r += 1;
            *r = '/';
        }
        // C: "/../" or a final "/..", dropping the last output segment
        else if ((rem >= 4 && r[0] == '/' && r[1] == '.' && r[2] == '.' && r[3] == '/') ||
                 (rem == 3 && r[0] == '/' && r[1] == '.' && r[2] == '.')) {
            if (rem >= 4) {
                r += 3;
            } else {
                r += 2;
                *r = '/';
            }
            while (w > path && w[-1] != '/') --w;
            if (w > path) --w;
        }
        // D: "." or ".." alone
        else if ((rem == 1 && r[0] == '.') || (rem == 2 && r[0] == '.' && r[1] == '.')) {
            r = end;
        }
        // E: move the first segment (with its leading "/") to the output
        else {
            if (*r == '/') *w++ = *r++;
            while (r < end && *r != '/') *w++ = *r++;
        }
    }
    return static_cast<size_t>(w - path);
}

inline char *put(char *o, const char *s, size_t n)
{
    if (n) memcpy(o, s, n);
    return o + n;
}

} // namespace

} // namespace kldlp::detail

using namespace kldlp::detail;

int kldlp_resolve(const char *base, const char *ref, char *dst, size_t dst_size)
{
    if (!dst || dst_size == 0) return -1;
    dst[0] = '\0';
    if (!base || !ref) return -1;
    url_parts b, r;
    uparse(base, &b);
    uparse(ref, &r);
    if (!b.scheme.present) return -1;

    url_part scheme, auth{}, query{};
    url_part p1{}, p2{}; // target path = p1 followed by p2 before dot removal
    const char *slash = "/";
    if (r.scheme.present) {
        scheme = r.scheme;
        auth = r.authority;
        p2 = r.path;
        query = r.query;
    } else if (r.authority.present) {
        scheme = b.scheme;
        auth = r.authority;
        p2 = r.path;
        query = r.query;
    } else if (r.path.len == 0) {
        scheme = b.scheme;
        auth = b.authority;
        p2 = b.path;
        query = r.query.present ? r.query : b.query;
    } else if (r.path.p[0] == '/') {
        scheme = b.scheme;
        auth = b.authority;
        p2 = r.path;
        query = r.query;
    } else {
        // Merge (section 5.2.3).
        scheme = b.scheme;
        auth = b.authority;
        if (b.authority.present && b.path.len == 0) {
            set(p1, slash, 1);
        } else {
            size_t k = b.path.len;
            while (k > 0 && b.path.p[k - 1] != '/') --k;
            set(p1, b.path.p, k);
        }
        p2 = r.path;
        query = r.query;
    }
    const url_part &frag = r.fragment;

    const size_t pre = scheme.len + 1 + (auth.present ? 2 + auth.len : 0) + p1.len + p2.len +
                       (query.present ? 1 + query.len : 0) + (frag.present ? 1 + frag.len : 0);
    // Build in dst when the text fits before dot removal (always the case for
    // callers that size dst as base + ref + 8); otherwise in a scratch copy,
    // since removing dot segments can still make the result fit.
    char *buf = dst;
    if (pre + 1 > dst_size) {
        buf = static_cast<char *>(malloc(pre + 1));
        if (!buf) return -1;
    }
    char *o = buf;
    o = put(o, scheme.p, scheme.len);
    *o++ = ':';
    if (auth.present) {
        *o++ = '/';
        *o++ = '/';
        o = put(o, auth.p, auth.len);
    }
    char *path = o;
    o = put(o, p1.p, p1.len);
    o = put(o, p2.p, p2.len);
    o = path + remove_dots(path, static_cast<size_t>(o - path));
    if (query.present) {
        *o++ = '?';
        o = put(o, query.p, query.len);
    }
    if (frag.present) {
        *o++ = '#';
        o = put(o, frag.p, frag.len);
    }
    *o = '\0';
    const size_t len = static_cast<size_t>(o - buf);
    if (buf != dst) {
        const bool fits = len + 1 <= dst_size;
        if (fits) memcpy(dst, buf, len + 1);
        free(buf);
        return fits ? 0 : -1;
    }
    return 0;
}

namespace kldlp::detail {

namespace {

// Next byte of a percent-decoded range: "%" with two hex digits inside the
// range is one byte, anything else stands for itself.
inline unsigned char pct_next(const char *s, size_t n, size_t &i)
{
    if (s[i] == '%' && n - i >= 3 && is_hex(s[i + 1]) && is_hex(s[i + 2])) {
        i += 3;
        return static_cast<unsigned char>(hex_value(s[i - 2]) * 16 + hex_value(s[i - 1]));
    }
    return static_cast<unsigned char>(s[i++]);
}

// Equality of two ranges after percent-decoding each, without copying.
bool pct_equal(const char *a, size_t an, const char *b, size_t bn)
{
    size_t i = 0, j = 0;
    while (i < an && j < bn)
        if (pct_next(a, an, i) != pct_next(b, bn, j)) return false;
    return i == an && j == bn;
}

// Two directory paths are the same folder when they have the same number of
// "/"-separated pieces and each pair of pieces is equal once decoded, so
// /a%20b/ and /a b/ name one folder while /a%2Fb/ and /a/b/ do not.
bool same_folder(const char *a, size_t an, const char *b, size_t bn)
{
    if (an == bn && memcmp(a, b, an) == 0) return true;
    size_t i = 0, j = 0;
    for (;;) {
        const char *sa = static_cast<const char *>(memchr(a + i, '/', an - i));
        const char *sb = static_cast<const char *>(memchr(b + j, '/', bn - j));
        const size_t ea = sa ? static_cast<size_t>(sa - a) : an;
        const size_t eb = sb ? static_cast<size_t>(sb - b) : bn;
        if (!pct_equal(a + i, ea - i, b + j, eb - j)) return false;
        if (!sa || !sb) return !sa && !sb;
        i = ea + 1;
        j = eb + 1;
    }
}

bool ci_same_part(const url_part &a, const url_part &b) { return a.len == b.len && ci_equal(a.p, b.p, a.len); }

// The child test, telling memory exhaustion (-4) apart from a link whose last
// segment is no usable name (-1): a page parsed while memory ran short must
// fail, not pass with an entry counted as rejected.
int child_name(const char *page_url, const char *link, char **name, int *folder)
{
    if (name) *name = nullptr;
    if (folder) *folder = 0;
    if (!folder || !page_url || !link || !name) return 0;
    url_parts pg, ln;
    uparse(page_url, &pg);
    uparse(link, &ln);
    if (!pg.scheme.present || !pg.authority.present || !ln.scheme.present || !ln.authority.present) return 0;
    if (ln.query.present || ln.fragment.present) return 0;
    if (!ci_same_part(pg.scheme, ln.scheme) || !ci_same_part(pg.authority, ln.authority)) return 0;

    // The page's folder: its path up to and including the last "/".
    const char *fp = "/";
    size_t fn = 1;
    {
        size_t k = pg.path.len;
        while (k > 0 && pg.path.p[k - 1] != '/') --k;
        if (k) {
            fp = pg.path.p;
            fn = k;
        }
    }

    size_t n = ln.path.len;
    if (n == 0) return 0;
    int is_dir = 0;
    if (ln.path.p[n - 1] == '/') {
        is_dir = 1;
        --n;
    }
    size_t k = n;
    while (k > 0 && ln.path.p[k - 1] != '/') --k;
    if (k == n) return 0; // empty name segment
    if (!same_folder(ln.path.p, k, fp, fn)) return 0;

    size_t dlen = 0;
    char *dec = pct_decode(ln.path.p + k, n - k, &dlen);
    if (!dec) return KLDLP_E_NOMEM;
    if (!name_ok(dec, dlen)) {
        free(dec);
        return -1;
    }
    *name = dec;
    *folder = is_dir;
    return 1;
}

} // namespace

namespace {

// Scratch storage for the rare link that needs the full resolver: heap only
// when it outgrows the stack array.
template <size_t N> struct scratch {
    char local[N];
    char *p = nullptr;
    char *get(size_t n)
    {
        p = n <= N ? local : static_cast<char *>(malloc(n));
        return p;
    }
    ~scratch()
    {
        if (p != local) free(p);
    }
};

// Whether the page's folder survives resolution unchanged: the page URL has
// a scheme and an authority, and no piece of its folder is "." or "..". Then
// a link of one plain segment resolves to that folder followed by the
// segment, which is always a direct child.
bool folder_is_plain(const char *page_url)
{
    url_parts pg;
    uparse(page_url, &pg);
    if (!pg.scheme.present || !pg.authority.present) return false;
    const char *p = pg.path.p;
    size_t n = pg.path.len;
    while (n > 0 && p[n - 1] != '/') --n; // the folder: up to its last "/"
    size_t i = 0;
    while (i < n) {
        const char *slash = static_cast<const char *>(memchr(p + i, '/', n - i));
        const size_t e = slash ? static_cast<size_t>(slash - p) : n;
        const size_t len = e - i;
        if ((len == 1 && p[i] == '.') || (len == 2 && p[i] == '.' && p[i + 1] == '.')) return false;
        i = e + 1;
    }
    return true;
}

// A plain link segment, percent-decoded into out (room for n + 1 bytes,
// never the segment itself), with the kinds of bytes (byte_kinds) that the
// raw segment and its decoded name hold. The same decoding as
// pct_decode_to, fused with the classification of the bytes, for the one
// path every entry of an nginx or Apache listing takes: sixteen bytes a step
// are copied as they are until one of some kind (a "%", a byte of 0x80 or
// above) needs a look of its own.
struct segment {
    size_t len;         // decoded length
    unsigned raw, name; // kinds of the raw segment and of the decoded name
};

// Copies r bytes (fewer than 16) in at most two overlapping moves.
inline void copy_short(char *d, const char *s, size_t r)
{
    if (r >= 8) {
        memcpy(d, s, 8);
        memcpy(d + r - 8, s + r - 8, 8);
    } else if (r >= 4) {
        memcpy(d, s, 4);
        memcpy(d + r - 4, s + r - 4, 4);
    } else {
        for (size_t k = 0; k < r; ++k) d[k] = s[k];
    }
}

segment decode_segment(const char *s, size_t n, char *out)
{
    segment r{0, 0, 0};
    size_t i = 0, o = 0;
    // One byte that has a kind: an escape becomes the byte it spells.
    auto special = [&] {
        const char c = s[i];
        r.raw |= k_byte_kind[c];
        if (c == '%' && n - i >= 3 && is_hex(s[i + 1]) && is_hex(s[i + 2])) {
            const char b = static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
            r.name |= k_byte_kind[b];
            out[o++] = b;
            i += 3;
        } else {
            r.name |= k_byte_kind[c];
            out[o++] = c;
            ++i;
        }
    };
#if KLDLP_SSE2
    // A whole block is stored at once; the output never runs ahead of the
    // input, so the store stays within the n bytes of out.
    while (n - i >= 16) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + o), w);
        const unsigned m = kind_mask16(s + i);
        if (!m) {
            i += 16;
            o += 16;
            continue;
        }
        const unsigned k = static_cast<unsigned>(std::countr_zero(m));
        i += k;
        o += k;
        special();
    }
    // The last bytes: their kinds from the sixteen that end the segment,
    // the runs between the bytes of some kind copied as they are.
    if (i < n && n >= 16) {
        const size_t base = n - 16;
        const unsigned all = kind_mask16(s + base);
        for (;;) {
            const unsigned m = all & (~0u << (i - base));
            const size_t stop = m ? base + static_cast<size_t>(std::countr_zero(m)) : n;
            copy_short(out + o, s + i, stop - i);
            o += stop - i;
            i = stop;
            if (i >= n) break;
            special();
        }
    }
#endif
    while (i < n) {
        if (k_byte_kind[s[i]]) {
            special();
        } else {
            out[o++] = s[i++];
        }
    }
    out[o] = '\0';
    r.len = o;
    return r;
}

// A size text read as the entry's size: -1 when absent or unreadable. A NUL
// byte can never be part of a size, so such a text reads as -1 whatever its
// references; otherwise the decoded text ends at its NUL.
int size_of(kldlp_ctx *c, const char *size, size_t size_len, int64_t *out)
{
    *out = -1;
    if (!size) return 0;
    const unsigned kinds = byte_kinds(size, size_len);
    if (kinds & B_NUL) return 0;
    if (!(kinds & B_AMP)) {
        *out = kldlp_parse_size(size, size_len);
        return 0;
    }
    char *d = sb_room(&c->text, size_len);
    if (!d) return KLDLP_E_NOMEM;
    const size_t n = html_decode_to(size, size_len, d, nullptr);
    *out = kldlp_parse_size(d, n);
    return 0;
}

// Size, date and insertion, once the link has named a child. The name is
// either a view (heap null) or a heap text from kldlp_child_name.
int finish(kldlp_ctx *c, const char *name, size_t name_len, char *heap, int folder, const char *size, size_t size_len,
           const char *date, size_t date_len)
{
    // The name's index slot is fetched while the size and date are read.
    const uint64_t hash = name_hash(c, name, name_len);
    name_prefetch(c, hash);
    int64_t sz = -1;
    if (int rc = size_of(c, size, size_len, &sz); rc != 0) {
        free(heap);
        return rc;
    }
    const char *dt = date;
    size_t dn = date_len;
    if (date && (byte_kinds(date, date_len) & B_AMP)) {
        char *d = sb_room(&c->text, date_len);
        if (!d) {
            free(heap);
            return KLDLP_E_NOMEM;
        }
        dn = html_decode_to(date, date_len, d, nullptr);
        dt = d;
    }
    const int rc = add_name(c, name, name_len, hash, folder, sz, dt, dn);
    free(heap);
    return rc;
}

} // namespace

int add_href(kldlp_ctx *c, const char *href, size_t href_len, const char *size, size_t size_len, const char *date,
             size_t date_len)
{
    kldlp_result *r = c->res;
    if (!href) return KLDLP_E_NOMEM; // as a failed decode: callers always pass a link
    // The usual listing link is one plain segment ("name", "name/"): not
    // empty, not "." or "..", no "/" but for one at its end, and none of
    // ":" (it could be a scheme), "?", "#" or NUL (the resolver reads links
    // as texts). Against a page whose folder resolution leaves as it is,
    // such a link resolves to that folder followed by the segment, a direct
    // child; its name is the segment, percent-decoded.
    if (c->plain_links == 0) c->plain_links = folder_is_plain(c->page_url) ? 1 : 2;
    const char *h = href;
    size_t hn = href_len;
    // Character references first, so that the link is read as the page
    // means it: 1 when the href held some (h, hn now the decoded text), 0
    // when it held none, -1 when one had to be replaced (rejected).
    auto decode_refs = [&]() -> int {
        char *d = sb_room(&c->ref, href_len);
        if (!d) return KLDLP_E_NOMEM;
        int bad = 0;
        hn = html_decode_to(href, href_len, d, &bad);
        h = d;
        if (!bad) return 1;
        r->rejected++;
        return 0;
    };
    if (c->plain_links == 1) {
        for (bool decoded = false;;) {
            const int folder = hn && h[hn - 1] == '/' ? 1 : 0;
            const size_t seg = hn - folder;
            char *out = sb_room(&c->name, seg);
            if (!out) return KLDLP_E_NOMEM;
            const segment sg = decode_segment(h, seg, out);
            if (!decoded && sg.raw & B_AMP) {
                if (const int rc = decode_refs(); rc != 1) return rc;
                decoded = true;
                continue;
            }
            if (seg && !(h[0] == '.' && (seg == 1 || (seg == 2 && h[1] == '.'))) &&
                !(sg.raw & (B_SLASH | B_DELIM | B_NUL))) {
                if (!name_ok_kinds(out, sg.len, sg.name)) {
                    r->rejected++;
                    return 0;
                }
                return finish(c, out, sg.len, nullptr, folder, size, size_len, date, date_len);
            }
            break;
        }
    } else if (byte_kinds(href, href_len) & B_AMP) {
        if (const int rc = decode_refs(); rc != 1) return rc;
    }

    // Everything else goes through the resolver and the child test.
    scratch<2048> ref;
    if (!ref.get(hn + 1)) return KLDLP_E_NOMEM;
    if (hn) memcpy(ref.p, h, hn);
    ref.p[hn] = '\0';
    const size_t abs_size = strlen(c->page_url) + strlen(ref.p) + 8;
    scratch<2048> abs;
    if (!abs.get(abs_size)) return KLDLP_E_NOMEM;
    if (kldlp_resolve(c->page_url, ref.p, abs.p, abs_size) != 0) {
        r->skipped++;
        return 0;
    }
    char *name = nullptr;
    int child_folder = 0;
    const int cn = child_name(c->page_url, abs.p, &name, &child_folder);
    if (cn == KLDLP_E_NOMEM) return KLDLP_E_NOMEM;
    if (cn < 0) {
        r->rejected++;
        return 0;
    }
    if (cn == 0) {
        r->skipped++;
        return 0;
    }
    return finish(c, name, strlen(name), name, child_folder, size, size_len, date, date_len);
}

} // namespace kldlp::detail

int kldlp_child_name(const char *page_url, const char *link, char **name, int *folder)
{
    const int rc = child_name(page_url, link, name, folder);
    return rc < 0 ? -1 : rc;
}
