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
// A store's blocks double from its first capacity up to 2 MiB; the names of
// a large page start there at once (a quarter of the page), so that they
// lie on a few huge pages rather than on many small ones. Texts go into the
// blocks in the order they come, a text that does not fit into the last
// block opening the next one, so that a reader going through the entries in
// order can release the blocks behind it.
struct text_block {
    text_block *next; // the next newer block
    size_t used;
    size_t cap;
    char *data() { return reinterpret_cast<char *>(this + 1); }
};
constexpr size_t k_block_first = 1024 - sizeof(text_block);
constexpr size_t k_block_max = (size_t{2} << 20) - sizeof(text_block);

// The first capacity of a store of texts taken from a page of len bytes:
// names are never longer than the links and texts they come from.
size_t first_block_for(size_t len)
{
    const size_t quarter = len / 4;
    return quarter < k_block_first ? k_block_first : quarter > k_block_max ? k_block_max : quarter;
}

// A NUL-terminated copy of n bytes in the store; null when memory ran out
// (the store is then unchanged).
char *keep_text(kldlp_store *st, const char *s, size_t n)
{
    auto *b = static_cast<text_block *>(st->last);
    if (!b || b->cap - b->used < n + 1) {
        if (n > SIZE_MAX - sizeof(text_block) - 1) return nullptr;
        const size_t next = !b                          ? (st->first_cap ? st->first_cap : k_block_first)
                            : b->cap >= k_block_max / 2 ? k_block_max
                                                        : 2 * b->cap + sizeof(text_block);
        const size_t want = n + 1 > next ? n + 1 : next;
        size_t got = 0;
        auto *fresh = static_cast<text_block *>(klaspnet::platform::alloc_block(sizeof(text_block) + want, &got));
        if (!fresh) return nullptr;
        fresh->next = nullptr;
        fresh->used = 0;
        fresh->cap = got - sizeof(text_block);
        if (b)
            b->next = fresh;
        else
            st->first = fresh;
        st->last = fresh;
        b = fresh;
    }
    char *d = b->data() + b->used;
    if (n) memcpy(d, s, n);
    d[n] = '\0';
    b->used += n + 1;
    return d;
}

void free_texts(kldlp_store *st)
{
    auto *b = static_cast<text_block *>(st->first);
    while (b) {
        text_block *next = b->next;
        free(b);
        b = next;
    }
    st->first = st->last = nullptr;
}

// A block for the entry table or the name index: grown arrays move into a
// fresh block (whole huge pages when large) and keep their first `used`
// bytes; *cap receives the new block's size. Null when memory ran out (the
// old block is then kept).
void *move_to_block(void *old, size_t used, size_t n, size_t *cap)
{
    void *p = klaspnet::platform::alloc_block(n, cap);
    if (!p) return nullptr;
    if (used) memcpy(p, old, used);
    free(old);
    return p;
}

// The entries the table first makes room for: a line of a listing takes
// some 64 bytes at least, so a page's length bounds its entries, and a large
// page gets its table (and the index below) in one step, without the
// copies and rebuilds of growing there.
uint64_t first_capacity(const kldlp_ctx *c)
{
    const uint64_t guess = c->page_len / 64;
    const uint64_t most = c->lim->max_entries;
    return guess < 32 ? 32 : guess > most ? (most < 32 ? 32 : most) : guess;
}

// Rebuild the name index with at least 2 * count + 2 slots (256 at first,
// or enough for the table's first capacity; doubling), so that at least
// half of it stays empty and probes stay short. Every slot carries what
// placing it needs; names are read only when there is no index to move
// from.
bool grow_index(kldlp_ctx *c)
{
    const uint64_t count = c->res->count;
    uint64_t slots = c->slots ? c->slots * 2 : 256;
    const uint64_t first = first_capacity(c);
    const uint64_t want = 2 * (count > first ? count : first) + 2;
    while (slots < want) slots *= 2;
    if (slots > SIZE_MAX / sizeof(uint64_t)) return false;
    size_t got = 0;
    auto *idx =
        static_cast<uint64_t *>(klaspnet::platform::alloc_block(static_cast<size_t>(slots) * sizeof(uint64_t), &got));
    if (!idx) return false;
    memset(idx, 0, static_cast<size_t>(slots) * sizeof(uint64_t));
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
    const uint64_t cap = r->capacity ? 2 * r->capacity : first_capacity(c);
    if (cap > SIZE_MAX / sizeof(kldlp_entry)) return false;
    const size_t used = static_cast<size_t>(r->count);
    size_t items_cap = 0, dates_cap = 0;
    void *items =
        move_to_block(r->items, used * sizeof(kldlp_entry), static_cast<size_t>(cap) * sizeof(kldlp_entry), &items_cap);
    if (!items) return false;
    r->items = static_cast<kldlp_entry *>(items);
    void *dates =
        move_to_block(c->dates, used * sizeof(date_text), static_cast<size_t>(cap) * sizeof(date_text), &dates_cap);
    if (!dates) return false;
    c->dates = static_cast<date_text *>(dates);
    // Blocks rounded up to whole huge pages hold more than was asked.
    const uint64_t a = items_cap / sizeof(kldlp_entry), b = dates_cap / sizeof(date_text);
    r->capacity = a < b ? a : b;
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

void store(kldlp_ctx *c, uint64_t pos, uint64_t value, char *name, int folder, int64_t size, date_text date)
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
    // The date text is read once the whole page is: a text of the page is
    // kept as a view into it, another one (decoded, pieced together from
    // parts) as a copy with the context. It ends at its first NUL.
    date_text d{};
    if (date) {
        d = {date, strnlen(date, date_len)};
        const auto at = reinterpret_cast<uintptr_t>(date), from = reinterpret_cast<uintptr_t>(c->page);
        if (!c->page || at < from || at - from > c->page_len || d.n > c->page_len - (at - from)) {
            d.p = keep_text(&c->texts, date, d.n);
            if (!d.p) return KLDLP_E_NOMEM;
        }
    }
    if (!c->res->names.first) c->res->names.first_cap = first_block_for(c->page_len);
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

void kldlp_release_before(kldlp_result *res, uint64_t i)
{
    using kldlp::detail::text_block;
    if (!res || i >= res->count) return;
    // Names lie in the blocks in entry order: every block before the one
    // that holds entry i's name holds only names of earlier entries.
    const auto at = reinterpret_cast<uintptr_t>(res->items[i].name);
    for (auto *b = static_cast<text_block *>(res->names.first); b && b != res->names.last;) {
        const auto from = reinterpret_cast<uintptr_t>(b->data());
        if (at >= from && at - from < b->used) break;
        text_block *next = b->next;
        free(b);
        b = next;
        res->names.first = b;
    }
    // The records, a huge page at a time: a large table starts on one.
    constexpr uint64_t step = (uint64_t{2} << 20) / sizeof(kldlp_entry);
    if (i >= step && i % step == 0)
        klaspnet::platform::release_pages(res->items + (i - step), step * sizeof(kldlp_entry));
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
