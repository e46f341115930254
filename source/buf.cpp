#include "source/buf.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

int klaspnet_buf_add(klaspnet_buf *b, const void *bytes, size_t n)
{
    if (n > SIZE_MAX - b->len - 1) return -1;
    size_t need = b->len + n + 1;
    if (need > b->cap) {
        size_t cap;
        if (b->cap == 0) {
            cap = need <= 128 ? 128 : 256;
        } else {
            cap = b->cap;
        }
        while (cap < need) {
            if (cap > SIZE_MAX / 2) return -1;
            cap *= 2;
        }
        char *p = static_cast<char *>(std::realloc(b->data, cap));
        if (!p) return -1;
        b->data = p;
        b->cap = cap;
    }
    if (n) std::memcpy(b->data + b->len, bytes, n);
    b->len += n;
    b->data[b->len] = '\0';
    return 0;
}

int klaspnet_buf_adds(klaspnet_buf *b, const char *text) { return klaspnet_buf_add(b, text, std::strlen(text)); }

void klaspnet_buf_free(klaspnet_buf *b)
{
    std::free(b->data);
    b->data = nullptr;
    b->len = 0;
    b->cap = 0;
}

void klaspnet_buf_wipe(klaspnet_buf *b)
{
    if (b->data) klaspnet_wipe(b->data, b->cap);
    klaspnet_buf_free(b);
}

char *klaspnet_strdup(const char *s)
{
    if (!s) return nullptr;
    size_t n = std::strlen(s) + 1;
    char *p = static_cast<char *>(std::malloc(n));
    if (p) std::memcpy(p, s, n);
    return p;
}

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
