#include "source/buf.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

// Room for n more bytes and the NUL. Capacities are 128 doubled as often as
// needed, or exactly the need for an empty buffer when exact is set. False
// when memory runs out (the buffer is then unchanged).
bool reserve(klaspnet_buf *b, size_t n, bool exact = false)
{
    if (n > SIZE_MAX - b->len - 1) return false;
    size_t need = b->len + n + 1;
    if (need > b->cap) {
        size_t cap;
        if (b->cap == 0) {
            cap = exact ? need : need <= 128 ? 128 : 256;
        } else {
            cap = b->cap;
        }
        while (cap < need) {
            if (cap > SIZE_MAX / 2) return false;
            cap *= 2;
        }
        char *p;
        if (b->secret || cap >= klaspnet::platform::large_block_min) {
            // A secret is copied rather than moved by realloc, which may leave
            // the old bytes in freed memory. A large block (a listing page,
            // the JSON of a large folder) is copied too: it comes on huge
            // pages, which moving it would split page by page.
            p = static_cast<char *>(klaspnet::platform::alloc_block(cap, &cap));
            if (!p) return false;
            if (b->data) {
                std::memcpy(p, b->data, b->len + 1);
                if (b->secret) klaspnet_wipe(b->data, b->cap);
                std::free(b->data);
            }
        } else {
            p = static_cast<char *>(std::realloc(b->data, cap));
            if (!p) return false;
        }
        b->data = p;
        b->cap = cap;
    }
    return true;
}

} // namespace

int klaspnet_buf_add(klaspnet_buf *b, const void *bytes, size_t n)
{
    if (!reserve(b, n)) return -1;
    if (n) std::memcpy(b->data + b->len, bytes, n);
    b->len += n;
    b->data[b->len] = '\0';
    return 0;
}

int klaspnet_buf_reserve(klaspnet_buf *b, size_t n, bool exact)
{
    if (!reserve(b, n, exact)) return -1;
    b->data[b->len] = '\0';
    return 0;
}

int klaspnet_buf_adds(klaspnet_buf *b, const char *text) { return klaspnet_buf_add(b, text, std::strlen(text)); }

void klaspnet_buf_free(klaspnet_buf *b)
{
    if (b->secret && b->data) klaspnet_wipe(b->data, b->cap);
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

int klaspnet_buf_add_pct(klaspnet_buf *b, const char *s, size_t n, const klaspnet::text::byte_set &keep)
{
    const size_t size = klaspnet::text::pct_encoded_size(s, n, keep);
    if (!reserve(b, size)) return -1;
    b->len = static_cast<size_t>(klaspnet::text::pct_encode_to(b->data + b->len, s, n, keep) - b->data);
    b->data[b->len] = '\0';
    return 0;
}
