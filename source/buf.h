// Growable byte buffer and text copies used outside the listing parser.
#pragma once

#include <cstddef>

#include "common/text.h"
#include "common/wipe.h"

// Always NUL-terminated once data is non-null. An all-zero record is empty.
// Capacity grows 128, 256, 512, ...; a user may set len to 0 to reuse it.
// A buffer marked secret (it holds credentials or texts derived from them)
// never leaves its bytes behind: growing it allocates a new block, copies and
// clears the old one, and releasing it clears it first.
struct klaspnet_buf {
    char *data;
    size_t len;
    size_t cap;
    bool secret = false;
};

// Append n bytes. 0, or -1 when memory runs out (the buffer is then unchanged).
[[nodiscard]] int klaspnet_buf_add(klaspnet_buf *b, const void *bytes, size_t n);
// Room for n more bytes and the NUL, so that appends up to that size need no
// further allocation. With exact, an empty buffer gets exactly that capacity
// (a body whose length the server announced); otherwise capacities grow as
// klaspnet_buf_add grows them. 0, or -1 when memory runs out (unchanged).
[[nodiscard]] int klaspnet_buf_reserve(klaspnet_buf *b, size_t n, bool exact = false);
// Append a NUL-terminated text (not null).
[[nodiscard]] int klaspnet_buf_adds(klaspnet_buf *b, const char *text);
// Free the data (cleared first when the buffer is secret) and zero the record.
void klaspnet_buf_free(klaspnet_buf *b);
// Overwrite the whole allocation with zeros, then free it (for secrets).
void klaspnet_buf_wipe(klaspnet_buf *b);
// An empty buffer marked secret.
inline klaspnet_buf klaspnet_secret_buf() { return klaspnet_buf{nullptr, 0, 0, true}; }

// Append n bytes percent-encoded: the bytes of keep stay, every other one
// becomes %XX. 0, or -1 when memory runs out (the buffer is then unchanged).
[[nodiscard]] int klaspnet_buf_add_pct(klaspnet_buf *b, const char *s, size_t n,
                                       const klaspnet::text::byte_set &keep = klaspnet::text::k_keep_unreserved);

// Heap copy of a text with its NUL; null for null input or out of memory.
char *klaspnet_strdup(const char *s);
