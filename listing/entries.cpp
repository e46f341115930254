// Entry table of a listing: the name rules, insertion with duplicate detection
// and limits, and the release of a result.
#include <cstdlib>
#include <cstring>

#include "listing/internal.h"
#include "platform/platform.h"

namespace kldlp::detail {

// Sixteen bytes a step with SSE2: most bytes of a name or a link are of no
// kind, and only the few that are get looked up. The last step overlaps the
// one before rather than reading past the text; shorter texts go a byte at
// a time.
unsigned byte_kinds(const char *s, size_t n)
{
    unsigned kinds = 0;
    size_t i = 0;
#if KLDLP_SSE2
    if (n >= 16) {
        for (;;) {
            const size_t at = n - i >= 16 ? i : n - 16;
            for (unsigned m = kind_mask16(s + at); m; m &= m - 1) kinds |= k_byte_kind[s[at + std::countr_zero(m)]];
            i += 16;
            if (i >= n) return kinds;
        }
    }
#endif
    for (; i < n; ++i) kinds |= k_byte_kind[s[i]];
    return kinds;
}

bool name_ok_kinds(const char *s, size_t len, unsigned kinds)
{
    if (len == 0) return false;
    if (s[0] == '.' && (len == 1 || (len == 2 && s[1] == '.'))) return false;
    if (kinds & (B_CTRL | B_SLASH)) return false;
    return !(kinds & B_HIGH) || utf8_valid(s, len);
}

int name_ok(const char *s, size_t len)
{
    if (!s) return 0;
    return name_ok_kinds(s, len, byte_kinds(s, len)) ? 1 : 0;
}

uint64_t name_hash(kldlp_ctx *c, const char *s, size_t n)
{
    if (!c->keyed) {
        using klaspnet::platform::rand32;
        c->key.k0 = static_cast<uint64_t>(rand32()) << 32 | rand32();
        c->key.k1 = static_cast<uint64_t>(rand32()) << 32 | rand32();
        c->keyed = 1;
    }
    return siphash<1, 3>(c->key, s, n);
}

namespace {

// A slot keeps the upper half of its name's hash beside the entry number, so
// a probe compares names only when those 32 bits agree, and a larger index
// is rebuilt from the slots alone.
//
// The index probes linearly, which is quick only while the names' home
// slots are spread out. Under a fixed hash, a server could list names chosen
// offline to share home slots and make every insertion walk one long run of
// occupied slots: quadratic work for one page. Under a key drawn for each
// parse, where a name lands cannot be known in advance.
constexpr uint64_t k_tag = 0xFFFFFFFF00000000ull;
constexpr uint64_t k_max_slot_entries = 0xFFFFFFFEull; // entry numbers + 1 fit in 32 bits

// Texts that live as long as their owner (entry names until kldlp_free,
// date texts until the dates are read) are kept in blocks rather than in
// one heap allocation each: they are short, many, and released together.
// Blocks start small, so that a short listing stays small, and double up
// to 64 KiB.
struct text_block {
    text_block *prev;
    size_t used;
    size_t cap;
    char *data() { return reinterpret_cast<char *>(this + 1); }
};
constexpr size_t k_block_first = 1024 - sizeof(text_block);
constexpr size_t k_block_max = 65536 - sizeof(text_block);

// A NUL-terminated copy of n bytes in the block list at *list; null when
// memory ran out (the list is then unchanged).
char *keep_text(void **list, const char *s, size_t n)
{
    auto *b = static_cast<text_block *>(*list);
    if (!b || b->cap - b->used < n + 1) {
        if (n > SIZE_MAX - sizeof(text_block) - 1) return nullptr;
        const size_t next = !b                          ? k_block_first
                            : b->cap >= k_block_max / 2 ? k_block_max
                                                        : 2 * b->cap + sizeof(text_block);
        const size_t cap = n + 1 > next ? n + 1 : next;
        auto *fresh = static_cast<text_block *>(malloc(sizeof(text_block) + cap));
        if (!fresh) return nullptr;
        fresh->used = 0;
        fresh->cap = cap;
        // A block for one long text goes behind the current one, which keeps
        // taking the short texts that follow.
        if (b && cap > next) {
            fresh->prev = b->prev;
            b->prev = fresh;
        } else {
            fresh->prev = b;
            *list = fresh;
        }
        b = fresh;
    }
    char *d = b->data() + b->used;
    if (n) memcpy(d, s, n);
    d[n] = '\0';
    b->used += n + 1;
    return d;
}

void free_texts(void **list)
{
    auto *b = static_cast<text_block *>(*list);
    while (b) {
        text_block *prev = b->prev;
        free(b);
        b = prev;
    }
    *list = nullptr;
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
            for (; idx[s]; s = (s + 1) & mask) c->probes++;
            idx[s] = v;
        }
    } else {
        for (uint64_t i = 0; i < count; ++i) {
            const char *nm = c->res->items[i].name;
            const uint64_t v = (name_hash(c, nm, strlen(nm)) & k_tag) | (i + 1);
            uint64_t s = home_slot(v, slots);
            for (; idx[s]; s = (s + 1) & mask) c->probes++;
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
        c->probes++;
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
    // The date text lives with the context, the name with the result.
    char *d = nullptr;
    if (date && !(d = keep_text(&c->texts, date, date_len))) return KLDLP_E_NOMEM;
    char *n = keep_text(&c->res->names, name, len);
    if (!n) return KLDLP_E_NOMEM;
    store(c, pos, value, n, folder, size, d);
    return 0;
}

void ctx_release(kldlp_ctx *c)
{
    if (!c) return;
    free(c->dates);
    c->dates = nullptr;
    free_texts(&c->texts);
    free(c->index);
    c->index = nullptr;
    c->slots = 0;
    sb_free(&c->ref);
    sb_free(&c->name);
    sb_free(&c->text);
    c->plain_links = 0;
}

} // namespace kldlp::detail

int kldlp_utf8_valid(const char *s, size_t len) { return klaspnet::text::utf8_valid(s, len) ? 1 : 0; }

void kldlp_free(kldlp_result *res)
{
    if (!res) return;
    free(res->items);
    kldlp::detail::free_texts(&res->names);
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
