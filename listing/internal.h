// Pieces shared by the listing parser's passes; not used outside listing/.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// SSE2 is part of every x86-64 processor; elsewhere the byte searches below
// take eight bytes a step in plain integer arithmetic.
#if defined(__SSE2__) || defined(_M_X64)
#  include <emmintrin.h>
#  define KLDLP_SSE2 1
#else
#  define KLDLP_SSE2 0
#endif

// For the few steps run once per token or byte of a page, where a call's
// saving and restoring of registers costs as much as the step itself.
#if defined(__GNUC__)
#  define KLDLP_ALWAYS_INLINE [[gnu::always_inline]] inline
#elif defined(_MSC_VER)
#  define KLDLP_ALWAYS_INLINE __forceinline
#else
#  define KLDLP_ALWAYS_INLINE inline
#endif

#include "common/chars.h"
#include "common/text.h"
#include "listing/kldlp.h"
#include "listing/siphash.h"

namespace kldlp::detail {

using namespace klaspnet::text;

// ---- entry table -------------------------------------------------------

// Effective limits of one parse (options merged with defaults).
struct kldlp_limits {
    uint64_t max_page;
    uint64_t max_entries;
    uint64_t max_href;
    uint64_t max_name;
    int32_t date_order; // hint
};

// Scratch text reused from link to link (decoded hrefs, names, sizes and
// dates), so that a link costs no allocation unless it becomes an entry.
struct sbuf {
    char *data;
    size_t len;
    size_t cap;
};

// The date text of an entry until the page's dates are read: a view into
// the page, or a copy kept with the context (a text decoded or pieced
// together). p is null for none.
struct date_text {
    const char *p;
    size_t n;
};

// Parse context: one per kldlp_parse call. A context that is all zero apart
// from lim, page_url and res is ready for use.
struct kldlp_ctx {
    const kldlp_limits *lim;
    const char *page_url;
    kldlp_result *res;
    // The page being parsed (null for a context fed by hand): its length
    // sizes the entry table, and date texts within it are kept as views.
    const char *page;
    size_t page_len;
    date_text *dates;  // date text of entry i; same capacity as items
    kldlp_store texts; // the date texts that are copies
    uint64_t *index;   // name index: 0 empty, else (upper 32 bits of the name's hash) << 32 | (entry index + 1)
    uint64_t slots;    // power of two
    // The name index's hash key, drawn from the platform's secure random
    // source when the first name is hashed (keyed 1 from then on). A test
    // may set both beforehand to fix the key.
    sip_key key;
    int32_t keyed;
    // Occupied slots passed over while names were looked up or the index
    // was rebuilt: the work that colliding names would make quadratic.
    uint64_t probes;
    // Whether a link of one plain segment ("x", "x/") can be taken as a child
    // of the page's folder without resolving it: 0 not yet known, 1 yes, 2 no
    // (the page URL lacks a scheme or authority, or its folder holds "." or
    // ".." segments, which resolution would remove).
    int32_t plain_links;
    sbuf ref;  // decoded href
    sbuf name; // decoded name
    sbuf text; // decoded size or date text
};

// Which kinds of bytes a text holds, as one pass over it tells: the rules
// for names and for links that name a child both follow from these.
enum : uint8_t {
    B_SLASH = 1, // "/"
    B_DELIM = 2, // ":", "?" or "#": a scheme, a query or a fragment in a link
    B_NUL = 4,   // NUL
    B_PCT = 8,   // "%"
    B_AMP = 16,  // "&"
    B_CTRL = 32, // a control byte (below 0x20, NUL included) or DEL
    B_HIGH = 64, // 0x80 or above: UTF-8 to be checked
};
inline constexpr struct byte_kind_table {
    uint8_t k[256];
    constexpr byte_kind_table() : k{}
    {
        for (int c = 0; c < 256; ++c) {
            unsigned v = 0;
            if (c == '/') v |= B_SLASH;
            if (c == ':' || c == '?' || c == '#') v |= B_DELIM;
            if (c == 0) v |= B_NUL;
            if (c == '%') v |= B_PCT;
            if (c == '&') v |= B_AMP;
            if (c < 0x20 || c == 0x7F) v |= B_CTRL;
            if (c >= 0x80) v |= B_HIGH;
            k[c] = static_cast<uint8_t>(v);
        }
    }
    constexpr unsigned operator[](char c) const { return k[static_cast<unsigned char>(c)]; }
} k_byte_kind;

#if KLDLP_SSE2
// Bit i set when byte i of the sixteen at p is of some kind above.
inline unsigned kind_mask16(const char *p)
{
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    auto eq = [w](char c) { return _mm_cmpeq_epi8(w, _mm_set1_epi8(c)); };
    // As signed bytes, 0x80 and above are negative, so "below 0x20" takes
    // them in with the control bytes.
    const __m128i low = _mm_cmplt_epi8(w, _mm_set1_epi8(0x20));
    const __m128i a = _mm_or_si128(_mm_or_si128(eq('/'), eq(':')), _mm_or_si128(eq('?'), eq('#')));
    const __m128i b = _mm_or_si128(_mm_or_si128(eq('%'), eq('&')), _mm_or_si128(eq(0x7F), low));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(a, b)));
}
#endif

// The kinds of the n bytes at s.
unsigned byte_kinds(const char *s, size_t n);

int name_ok(const char *s, size_t len);
// name_ok for a name whose byte_kinds are known.
bool name_ok_kinds(const char *s, size_t len, unsigned kinds);
// Inserts an entry whose name has already passed name_ok (len bytes, no
// NUL among them; hash = name_hash of them) with an optional date text
// (date_len bytes, null for none). A name longer than max_name or already
// in the table counts as rejected. Both texts are copied only when the name
// becomes an entry. 0, -3 or -4.
int add_name(kldlp_ctx *c, const char *name, size_t len, uint64_t hash, int folder, int64_t size, const char *date,
             size_t date_len);
// The name index's hash of a name: SipHash-1-3 under the context's key
// (drawn here on first use).
uint64_t name_hash(kldlp_ctx *c, const char *s, size_t n);
// The slot where a name of that hash starts its probe, in an index of
// `slots` slots: the low bits of the hash's upper half, the half that a
// slot keeps beside its entry number.
inline uint64_t home_slot(uint64_t hash, uint64_t slots) { return (hash >> 32) & (slots - 1); }
// Asks for the index slot where the name of that hash will be looked up, so
// that the memory read overlaps the work done before the insertion.
void name_prefetch(const kldlp_ctx *c, uint64_t hash);
// Release everything the context owns besides the result (dates, index,
// scratch texts).
void ctx_release(kldlp_ctx *c);

// ---- HTML scanning -----------------------------------------------------

enum : int32_t { TOK_EOF = 0, TOK_TEXT = 1, TOK_OPEN = 2, TOK_CLOSE = 3 };

struct html_scan {
    const char *pos;
    const char *end;
};

struct html_tok {
    int32_t kind;
    const char *text;
    size_t len;
    const char *attrs;
    size_t attrs_len;
};

// One step of the tokenizer: every kind of token, comments, declarations
// and the bodies of script and style elements.
void next_tok(html_scan *s, html_tok *t);
// The raw value of the first attribute of that name (want bytes, ASCII
// case folding): 1, or 0 when the tag has none (outputs untouched).
int get_attr_n(const char *attrs, size_t attrs_len, const char *name, size_t want, const char **val, size_t *val_len);
// The same for a NUL-terminated name; the length of a literal name is
// known where this is inlined.
inline int get_attr(const char *attrs, size_t attrs_len, const char *name, const char **val, size_t *val_len)
{
    return get_attr_n(attrs, attrs_len, name, strlen(name), val, val_len);
}
int ci_eqn(const char *s, size_t len, const char *text);
int ci_prefix(const char *s, size_t len, const char *text);
void trim(const char **s, size_t *len);

[[nodiscard]] int sb_add(sbuf *b, const char *s, size_t n);
// Empties the builder and makes room for n bytes and a NUL; the data
// pointer, or null when memory ran out (the builder then keeps its old
// storage, emptied).
char *sb_room(sbuf *b, size_t n);
void sb_free(sbuf *b);

// The character-reference decoder writing into caller storage of at least
// len + 1 bytes (its output is never longer than its input); it returns the
// output length and NUL-terminates it.
size_t html_decode_to(const char *s, size_t len, char *out, int *bad);

// ---- the tokenizer's common steps, inline ------------------------------

// Bytes that continue a tag name: ASCII letters, digits, ":" and "-".
inline constexpr struct tag_name_bytes {
    bool b[256];
    constexpr tag_name_bytes() : b{}
    {
        for (int c = 0; c < 256; ++c)
            b[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ':' || c == '-';
    }
    constexpr bool operator[](unsigned char c) const { return b[c]; }
} k_tag_name_byte;

// Byte searches of the tokenizer. Runs between the bytes it looks for are
// short (a tag name, an attribute value, the spaces between two cells), so
// a call into the C library's memchr costs more than the search itself:
// these are inline and take sixteen bytes a step (eight without SSE2).
// They never read outside [p, end), except that, given a floor (an address
// at or below p from which all bytes up to end may be read), the last bytes
// before end are read as the sixteen that end there; otherwise they go one
// at a time.
#if KLDLP_SSE2
// Bit i set when byte i of the 16 bytes at p equals the byte in every lane of v.
inline unsigned eq_mask(const char *p, __m128i v)
{
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, v)));
}
#else
constexpr uint64_t k_ones8 = 0x0101010101010101ull;
constexpr uint64_t k_highs8 = 0x8080808080808080ull;
// The high bit of each byte of w that is zero; a borrow only ever flags
// bytes above a true zero, so the lowest flag is exact.
inline uint64_t zero_bytes(uint64_t w) { return (w - k_ones8) & ~w & k_highs8; }
#endif

// First byte of [p, end) equal to c, or end.
inline const char *find_byte(const char *p, const char *end, char c, const char *floor = nullptr)
{
#if KLDLP_SSE2
    const __m128i vc = _mm_set1_epi8(c);
    for (; end - p >= 16; p += 16)
        if (const unsigned m = eq_mask(p, vc)) return p + std::countr_zero(m);
    if (p < end && floor && end - floor >= 16) {
        const unsigned m = eq_mask(end - 16, vc) >> (p - (end - 16));
        return m ? p + std::countr_zero(m) : end;
    }
#else
    (void)floor;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t mc = k_ones8 * static_cast<unsigned char>(c);
        for (; end - p >= 8; p += 8) {
            uint64_t w;
            memcpy(&w, p, 8);
            if (const uint64_t hit = zero_bytes(w ^ mc)) return p + (std::countr_zero(hit) >> 3);
        }
    }
#endif
    for (; p < end; ++p)
        if (*p == c) return p;
    return end;
}

// End of a tag's attribute text, which starts at q: the first ">" outside a
// quoted value, or end when there is none (also when a quote never closes).
inline const char *attrs_end(const char *q, const char *end)
{
    // Most tags of a listing have no attributes ("<tr>", "</td>").
    if (q < end && *q == '>') return q;
    const char *p = q;
    char quote = 0; // the quote of the value being read, 0 outside values
#if KLDLP_SSE2
    // Sixteen bytes a step: the ">" and quotes of a block are found at
    // once and walked in order, so a tag such as <td align="right"> takes
    // one step.
    const __m128i vgt = _mm_set1_epi8('>'), vdq = _mm_set1_epi8('"'), vsq = _mm_set1_epi8('\'');
    for (; end - p >= 16; p += 16) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const unsigned gt = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, vgt)));
        const unsigned dq = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, vdq)));
        const unsigned sq = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, vsq)));
        unsigned from = ~0u; // the bytes of the block not yet walked
        for (;;) {
            if (quote) {
                const unsigned close = (quote == '"' ? dq : sq) & from;
                if (!close) break;
                from = ~0u << (std::countr_zero(close) + 1);
                quote = 0;
            } else {
                const unsigned ev = (gt | dq | sq) & from;
                if (!ev) break;
                const int b = std::countr_zero(ev);
                if (gt >> b & 1) return p + b;
                quote = (dq >> b & 1) ? '"' : '\'';
                from = ~0u << (b + 1);
            }
        }
    }
#endif
    for (; p < end; ++p) {
        if (quote) {
            if (*p == quote) quote = 0;
        } else if (*p == '>') {
            return p;
        } else if (*p == '"' || *p == '\'') {
            quote = *p;
        }
    }
    return end;
}

inline void set_tok(html_tok *t, int32_t kind, const char *text, size_t len, const char *attrs, size_t attrs_len)
{
    t->kind = kind;
    t->text = text;
    t->len = len;
    t->attrs = attrs;
    t->attrs_len = attrs_len;
}

// next_tok for the passes: text runs and the tags of a listing are read
// here, in the pass's own loop; the rest (the end of the page, comments,
// declarations, a stray "<", and tags whose name could be script or style)
// by next_tok itself.
KLDLP_ALWAYS_INLINE void scan_tok(html_scan *s, html_tok *t)
{
    const char *p = s->pos;
    const char *const end = s->end;
    if (p < end && *p != '<') {
        const char *lt = find_byte(p, end, '<');
        set_tok(t, TOK_TEXT, p, static_cast<size_t>(lt - p), nullptr, 0);
        s->pos = lt;
        return;
    }
    if (end - p >= 3) {
        const bool closing = p[1] == '/';
        const char *name = p + (closing ? 2 : 1);
        if (is_alpha(static_cast<unsigned char>(*name))) {
            const char *q = name + 1;
            while (q < end && k_tag_name_byte[static_cast<unsigned char>(*q)]) ++q;
            const size_t name_len = static_cast<size_t>(q - name);
            if (closing || !((name_len == 5 || name_len == 6) && (name[0] | 0x20) == 's')) {
                const char *stop = attrs_end(q, end);
                set_tok(t, closing ? TOK_CLOSE : TOK_OPEN, name, name_len, q, static_cast<size_t>(stop - q));
                s->pos = stop < end ? stop + 1 : end;
                return;
            }
        }
    }
    next_tok(s, t);
}

// ---- sizes and dates ---------------------------------------------------

struct date_shape_t {
    int32_t nums[8];
    int32_t ndig[8];
    int32_t n;
    int32_t month;
    int32_t ampm;
    int32_t tz;
    int32_t tz_min;
    int32_t sep;
    int32_t ok;
};

void date_shape(const char *s, size_t len, date_shape_t *out);
int64_t date_from_shape(const date_shape_t *sh, int32_t order);
// Decide the page-wide date order from the entries' date texts (c->dates) and
// the hint; set date_order, date_hinted and every entry's mtime_ms.
void decide_dates(kldlp_ctx *c);

// ---- link resolution ---------------------------------------------------

struct url_part {
    const char *p;
    size_t len;
    int present;
};
struct url_parts {
    url_part scheme, authority, path, query, fragment;
};
void uparse(const char *ref, url_parts *out);

// One raw link with its raw size and date texts (page bytes, references not
// yet decoded; size/date may be null). 0, -3 or -4.
int add_href(kldlp_ctx *c, const char *href, size_t href_len, const char *size, size_t size_len, const char *date,
             size_t date_len);

// ---- passes ------------------------------------------------------------

int parse_pre(kldlp_ctx *c, const char *page, size_t len, int nginx_mode, int *pre_seen);
int aspnet_table_pass(kldlp_ctx *c, const char *page, size_t len);
int generic_table_pass(kldlp_ctx *c, const char *page, size_t len, int *recognised);
int list_pass(kldlp_ctx *c, const char *page, size_t len);

} // namespace kldlp::detail
