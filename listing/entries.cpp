// Entry table of a listing: the name rules, insertion with duplicate detection
// and limits, and the release of a result.
#include <cstdlib>
#include <cstring>

#include "listing/internal.h"

namespace kldlp::detail {

namespace {

constexpr uint64_t k_ones = 0x0101010101010101ull;
constexpr uint64_t k_highs = 0x8080808080808080ull;

inline uint64_t load8(const char *p)
{
    uint64_t w;
    memcpy(&w, p, 8);
    return w;
}

// Up to 7 bytes as the low bytes of a word, the rest zero.
inline uint64_t load_tail(const char *p, size_t n)
{
    uint64_t w = 0;
    memcpy(&w, p, n);
    return w;
}

// A word whose bytes are all printable ASCII other than "/" and DEL: none
// below 0x20, none equal to 0x2F or 0x7F, none of 0x80 or above.
inline bool plain_word(uint64_t w)
{
    const uint64_t below = (w - k_ones * 0x20) & ~w;
    const uint64_t x = w ^ (k_ones * 0x2F);
    const uint64_t y = w ^ (k_ones * 0x7F);
    const uint64_t slash = (x - k_ones) & ~x;
    const uint64_t del = (y - k_ones) & ~y;
    return ((below | slash | del | w) & k_highs) == 0;
}

} // namespace

int name_ok(const char *s, size_t len)
{
    if (!s || len == 0) return 0;
    if (s[0] == '.' && (len == 1 || (len == 2 && s[1] == '.'))) return 0;
    // Most names are plain ASCII: eight bytes at a time, then the byte rule
    // (and the UTF-8 check) only where a word holds something else.
    size_t i = 0;
    while (i + 8 <= len && plain_word(load8(s + i))) i += 8;
    int high = 0;
    for (; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F || c == '/') return 0;
        high |= c & 0x80;
    }
    return high ? utf8_valid(s, len) : 1;
}

// 64-bit hash of a name, eight bytes at a time with a final avalanche, so
// that both the slot (low bits of the upper half) and the 32-bit tag kept in
// the slot depend on every byte.
uint64_t name_hash(const char *s, size_t n)
{
    uint64_t h = 0x9E3779B97F4A7C15ull ^ (n * 0xFF51AFD7ED558CCDull);
    while (n >= 8) {
        h = (h ^ load8(s)) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
        s += 8;
        n -= 8;
    }
    if (n) {
        h = (h ^ load_tail(s, n)) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
    }
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

namespace {

// A slot keeps the upper half of its name's hash beside the entry number, so
// a probe compares names only when those 32 bits agree, and a larger index
// is rebuilt from the slots alone. The slot of a name is its tag modulo the
// slot count.
constexpr uint64_t k_tag = 0xFFFFFFFF00000000ull;
constexpr uint64_t k_max_slot_entries = 0xFFFFFFFEull; // entry numbers + 1 fit in 32 bits

inline uint64_t home_slot(uint64_t hash, uint64_t slots) { return (hash >> 32) & (slots - 1); }

// Date texts live in chunks owned by the context rather than in one heap
// block each: they are short, many, and all released together.
struct text_chunk {
    text_chunk *prev;
    size_t used;
    size_t cap;
    char *data() { return reinterpret_cast<char *>(this + 1); }
};
constexpr size_t k_chunk = 65536 - sizeof(text_chunk);

// A NUL-terminated copy of n bytes in the context's date-text chunks; null
// when memory ran out.
char *keep_text(kldlp_ctx *c, const char *s, size_t n)
{
    text_chunk *ch = static_cast<text_chunk *>(c->texts);
    if (!ch || ch->cap - ch->used < n + 1) {
        if (n > SIZE_MAX - sizeof(text_chunk) - 1) return nullptr;
        const size_t cap = n + 1 > k_chunk ? n + 1 : k_chunk;
        auto *fresh = static_cast<text_chunk *>(malloc(sizeof(text_chunk) + cap));
        if (!fresh) return nullptr;
        fresh->used = 0;
        fresh->cap = cap;
        // A chunk for one long text goes behind the current one, which keeps
        // taking the short texts that follow.
        if (ch && cap > k_chunk) {
            fresh->prev = ch->prev;
            ch->prev = fresh;
        } else {
            fresh->prev = ch;
            c->texts = fresh;
        }
        ch = fresh;
    }
    char *d = ch->data() + ch->used;
    if (n) memcpy(d, s, n);
    d[n] = '\0';
    ch->used += n + 1;
    return d;
}

void free_texts(kldlp_ctx *c)
{
    auto *ch = static_cast<text_chunk *>(c->texts);
    while (ch) {
        text_chunk *prev = ch->prev;
        free(ch);
        ch = prev;
    }
    c->texts = nullptr;
}

// Rebuild the name index with at least 2 * count + 2 slots (256 at first,
// doubling), so that at least half of it stays empty and probes stay short.
// Every slot carries what placing it needs; names are read only when there
// is no index to move from.
bool grow_index(kldlp_ctx *c)
{
    const uint64_t count = c->res->count;
    uint64_t slots = c->slots ? c->slots * 2 : 256;
    while (slots < 2 * count + 2) slots *= 2;
    if (slots > SIZE_MAX / sizeof(uint64_t)) return false;
    uint64_t *idx = static_cast<uint64_t *>(calloc(static_cast<size_t>(slots), sizeof(uint64_t)));
    if (!idx) return false;
    const uint64_t mask = slots - 1;
    if (c->index) {
        for (uint64_t k = 0; k < c->slots; ++k) {
            const uint64_t v = c->index[k];
            if (!v) continue;
            uint64_t s = home_slot(v, slots);
            while (idx[s]) s = (s + 1) & mask;
            idx[s] = v;
        }
    } else {
        for (uint64_t i = 0; i < count; ++i) {
            const char *nm = c->res->items[i].name;
            const uint64_t v = (name_hash(nm, strlen(nm)) & k_tag) | (i + 1);
            uint64_t s = home_slot(v, slots);
            while (idx[s]) s = (s + 1) & mask;
            idx[s] = v;
        }
    }
    free(c->index);
    c->index = idx;
    c->slots = slots;
    return true;
}

// Grow items and the parallel date-text array together; capacity moves only
// when both succeeded, so a failure leaves a consistent table.
bool grow_items(kldlp_ctx *c)
{
    kldlp_result *r = c->res;
    uint64_t cap = r->count ? 2 * r->count : 32;
    if (cap > SIZE_MAX / sizeof(kldlp_entry)) return false;
    void *items = realloc(r->items, static_cast<size_t>(cap) * sizeof(kldlp_entry));
    if (!items) return false;
    r->items = static_cast<kldlp_entry *>(items);
    void *dates = realloc(c->dates, static_cast<size_t>(cap) * sizeof(char *));
    if (!dates) return false;
    c->dates = static_cast<char **>(dates);
    r->capacity = cap;
    return true;
}

// Looks the name up and makes room for it. 0 with the slot value to store
// (*pos receives the slot's position) when the name is new; 1 when an
// entry of that name exists (counted as rejected); -3 or -4.
int find_slot(kldlp_ctx *c, const char *name, size_t len, uint64_t hash, uint64_t *pos, uint64_t *value)
{
    kldlp_result *r = c->res;
    if ((c->slots < 2 * r->count + 2 || !c->index) && !grow_index(c)) return KLDLP_E_NOMEM;

    const uint64_t tag = hash & k_tag;
    const uint64_t mask = c->slots - 1;
    uint64_t s = home_slot(hash, c->slots);
    for (uint64_t v; (v = c->index[s]) != 0; s = (s + 1) & mask) {
        if ((v & k_tag) != tag) continue;
        // First occurrence wins, whatever its folder flag.
        const char *other = r->items[(v & ~k_tag) - 1].name;
        if (strncmp(other, name, len) == 0 && other[len] == '\0') {
            r->rejected++;
            return 1;
        }
    }

    if (r->count >= c->lim->max_entries) return KLDLP_E_TOO_MANY;
    // Entry numbers live in 32 bits of a slot; a table that large would need
    // more than 128 GiB for its items alone.
    if (r->count >= k_max_slot_entries) return KLDLP_E_NOMEM;
    if (r->count == r->capacity && !grow_items(c)) return KLDLP_E_NOMEM;
    *pos = s;
    *value = tag | (r->count + 1);
    return 0;
}

void store(kldlp_ctx *c, uint64_t pos, uint64_t value, char *name, int folder, int64_t size, char *date)
{
    kldlp_result *r = c->res;
    kldlp_entry &e = r->items[r->count];
    e.name = name;
    e.folder = folder ? 1 : 0;
    e.size = folder ? -1 : size;
    e.mtime_ms = -1;
    c->dates[r->count] = date;
    r->count++;
    c->index[pos] = value;
}

} // namespace

void name_prefetch(const kldlp_ctx *c, uint64_t hash)
{
#if defined(__GNUC__) || defined(__clang__)
    if (c->index && c->slots >= 2 * c->res->count + 2) __builtin_prefetch(c->index + home_slot(hash, c->slots));
#else
    (void)c;
    (void)hash;
#endif
}

int add_name(kldlp_ctx *c, const char *name, size_t len, uint64_t hash, int folder, int64_t size, const char *date,
             size_t date_len)
{
    if (len > c->lim->max_name) {
        c->res->rejected++;
        return 0;
    }
    uint64_t pos = 0, value = 0;
    const int rc = find_slot(c, name, len, hash, &pos, &value);
    if (rc == 1) return 0;
    if (rc) return rc;
    char *n = static_cast<char *>(malloc(len + 1));
    if (!n) return KLDLP_E_NOMEM;
    memcpy(n, name, len);
    n[len] = '\0';
    char *d = nullptr;
    if (date && !(d = keep_text(c, date, date_len))) {
        free(n);
        return KLDLP_E_NOMEM;
    }
    store(c, pos, value, n, folder, size, d);
    return 0;
}

void ctx_release(kldlp_ctx *c)
{
    if (!c) return;
    free(c->dates);
    c->dates = nullptr;
    free_texts(c);
    free(c->index);
    c->index = nullptr;
    c->slots = 0;
    sb_free(&c->ref);
    sb_free(&c->text);
    c->plain_links = 0;
}

} // namespace kldlp::detail

int kldlp_utf8_valid(const char *s, size_t len) { return klaspnet::text::utf8_valid(s, len) ? 1 : 0; }

void kldlp_free(kldlp_result *res)
{
    if (!res) return;
    if (res->items) {
        for (uint64_t i = 0; i < res->count; ++i) free(res->items[i].name);
        free(res->items);
    }
    free(res->index_of);
    memset(res, 0, sizeof *res);
}

const char *kldlp_dialect_name(int32_t dialect)
{
    switch (dialect) {
    case KLDLP_DIALECT_ASPNET: return "aspnet";
    case KLDLP_DIALECT_NGINX: return "nginx";
    case KLDLP_DIALECT_APACHE: return "apache";
    case KLDLP_DIALECT_LIGHTTPD: return "lighttpd";
    case KLDLP_DIALECT_CADDY: return "caddy";
    case KLDLP_DIALECT_PYTHON: return "python";
    case KLDLP_DIALECT_IIS: return "iis";
    default: return "unknown";
    }
}

const char *kldlp_variant_name(int32_t variant)
{
    switch (variant) {
    case KLDLP_VARIANT_TABLE: return "table";
    case KLDLP_VARIANT_PRE: return "pre";
    case KLDLP_VARIANT_LIST: return "list";
    default: return "none";
    }
}
