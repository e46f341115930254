#include "common/wipe.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

void klaspnet_wipe(void *p, size_t n)
{
    // A volatile pointer keeps each store: the compiler may not prove the
    // bytes dead before free() and drop the loop.
    volatile unsigned char *v = static_cast<volatile unsigned char *>(p);
    while (n--) *v++ = 0;
}

void klaspnet_free_secret(char *s)
{
    if (!s) return;
    klaspnet_wipe(s, std::strlen(s));
    std::free(s);
}

namespace {

// Every block carries its size in a 16-byte head (keeping malloc's
// alignment), so that free can clear the whole block.
constexpr size_t k_head = 16;

void *w_malloc(void *, size_t size)
{
    if (size > SIZE_MAX - k_head) return nullptr;
    auto *p = static_cast<unsigned char *>(std::malloc(size + k_head));
    if (!p) return nullptr;
    std::memcpy(p, &size, sizeof size);
    return p + k_head;
}

void w_free(void *, void *ptr)
{
    if (!ptr) return;
    unsigned char *p = static_cast<unsigned char *>(ptr) - k_head;
    size_t size;
    std::memcpy(&size, p, sizeof size);
    klaspnet_wipe(p, size + k_head);
    std::free(p);
}

// Never a plain realloc: a block that moves would leave its old bytes behind.
void *w_realloc(void *ctx, void *ptr, size_t, size_t size)
{
    void *q = w_malloc(ctx, size);
    if (!q || !ptr) return q;
    size_t old;
    std::memcpy(&old, static_cast<unsigned char *>(ptr) - k_head, sizeof old);
    std::memcpy(q, ptr, old < size ? old : size);
    w_free(ctx, ptr);
    return q;
}

constexpr yyjson_alc k_wipe_alc = {w_malloc, w_realloc, w_free, nullptr};

} // namespace

const yyjson_alc *klaspnet_wipe_alc() { return &k_wipe_alc; }
