// Entry table of a listing: the name rules, insertion with duplicate detection
// and limits, and the release of a result.
#include <cstdlib>
#include <cstring>

#include "listing/internal.h"

int kldlp_utf8_valid(const char *s, size_t len) {
    if (len == 0) return 1;
    if (!s) return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
    size_t i = 0;
    while (i < len) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t n;
        uint32_t cp, min;
        if ((c & 0xE0) == 0xC0) {
            n = 2;
            cp = c & 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
            cp = c & 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
            cp = c & 0x07;
            min = 0x10000;
        } else {
            return 0; // stray continuation byte or 11111xxx
        }
        if (len - i < n) return 0;
        for (size_t k = 1; k < n; ++k) {
            unsigned char d = p[i + k];
            if ((d & 0xC0) != 0x80) return 0;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
        i += n;
    }
    return 1;
}

int name_ok(const char *s, size_t len) {
    if (!s || len == 0) return 0;
    if (s[0] == '.' && (len == 1 || (len == 2 && s[1] == '.'))) return 0;
    int high = 0;
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F || c == '/') return 0;
        high |= c & 0x80;
    }
    return high ? kldlp_utf8_valid(s, len) : 1;
}

namespace {

uint64_t fnv1a(const char *s) {
    uint64_t h = 14695981039346656037ull;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
        h ^= *p;
        h *= 1099511628211ull;
    }
    return h;
}

int reject(kldlp_ctx *c, char *name, char *date) {
    c->res->rejected++;
    free(name);
    free(date);
    return 0;
}

int give_up(char *name, char *date, int code) {
    free(name);
    free(date);
    return code;
}

// Rebuild the name index with at least 2 * count + 2 slots (256 at first,
// doubling), so that at least half of it stays empty and probes stay short.
bool grow_index(kldlp_ctx *c) {
    const uint64_t count = c->res->count;
    uint64_t slots = c->slots ? c->slots * 2 : 256;
    while (slots < 2 * count + 2) slots *= 2;
    if (slots > SIZE_MAX / sizeof(uint64_t)) return false;
    uint64_t *idx = static_cast<uint64_t *>(calloc(static_cast<size_t>(slots), sizeof(uint64_t)));
    if (!idx) return false;
    const uint64_t mask = slots - 1;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t s = fnv1a(c->res->items[i].name) & mask;
        while (idx[s]) s = (s + 1) & mask;
        idx[s] = i + 1;
    }
    free(c->index);
    c->index = idx;
    c->slots = slots;
    return true;
}

// Grow items and the parallel date-text array together; capacity moves only
// when both succeeded, so a failure leaves a consistent table.
bool grow_items(kldlp_ctx *c) {
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

} // namespace

int add_entry(kldlp_ctx *c, char *name, int folder, int64_t size, char *date) {
    if (!name) return reject(c, name, date);
    const size_t len = strlen(name);
    if (len > c->lim->max_name || !name_ok(name, len)) return reject(c, name, date);

    kldlp_result *r = c->res;
    if (c->slots < 2 * r->count + 2 && !grow_index(c)) return give_up(name, date, KLDLP_E_NOMEM);

    const uint64_t mask = c->slots - 1;
    uint64_t s = fnv1a(name) & mask;
    while (c->index[s]) {
        // First occurrence wins, whatever its folder flag.
        if (strcmp(r->items[c->index[s] - 1].name, name) == 0) return reject(c, name, date);
        s = (s + 1) & mask;
    }

    if (r->count >= c->lim->max_entries) return give_up(name, date, KLDLP_E_TOO_MANY);
    if (r->count == r->capacity && !grow_items(c)) return give_up(name, date, KLDLP_E_NOMEM);

    kldlp_entry &e = r->items[r->count];
    e.name = name;
    e.folder = folder ? 1 : 0;
    e.size = folder ? -1 : size;
    e.mtime_ms = -1;
    c->dates[r->count] = date;
    r->count++;
    c->index[s] = r->count;
    return 0;
}

void ctx_release(kldlp_ctx *c) {
    if (!c) return;
    if (c->dates) {
        const uint64_t n = c->res ? c->res->count : 0;
        for (uint64_t i = 0; i < n; ++i) free(c->dates[i]);
        free(c->dates);
        c->dates = nullptr;
    }
    free(c->index);
    c->index = nullptr;
    c->slots = 0;
}

void kldlp_free(kldlp_result *res) {
    if (!res) return;
    if (res->items) {
        for (uint64_t i = 0; i < res->count; ++i) free(res->items[i].name);
        free(res->items);
    }
    free(res->index_of);
    memset(res, 0, sizeof *res);
}

const char *kldlp_dialect_name(int32_t dialect) {
    switch (dialect) {
    case KLDLP_DIALECT_ASPNET: return "aspnet";
    case KLDLP_DIALECT_NGINX: return "nginx";
    case KLDLP_DIALECT_APACHE: return "apache";
    default: return "unknown";
    }
}

const char *kldlp_variant_name(int32_t variant) {
    switch (variant) {
    case KLDLP_VARIANT_TABLE: return "table";
    case KLDLP_VARIANT_PRE: return "pre";
    case KLDLP_VARIANT_LIST: return "list";
    default: return "none";
    }
}
