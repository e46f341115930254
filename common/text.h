// Text routines shared by the listing parser, the source and the tool:
// percent-encoding and -decoding, UTF-8 checks and repair, and a clamped
// decimal reader. Pure computations; the only allocation is in the
// functions that return a new heap text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/chars.h"

namespace klaspnet::text {

// A set of bytes, for the bytes percent-encoding leaves as they are, kept as
// what the encoder writes for each byte: the byte itself or "%XX", padded to
// four bytes, the fourth holding how many count (1 or 3). The encoder of
// every item URL of a 100000-entry listing then stores one entry a byte,
// without a branch.
struct byte_set {
    char enc[256][4];
    constexpr bool has(unsigned char c) const { return enc[c][3] == 1; }
};

template <class Pred> constexpr byte_set make_set(Pred keep)
{
    byte_set s{};
    for (int c = 0; c < 256; ++c) {
        char *e = s.enc[c];
        if (keep(static_cast<unsigned char>(c))) {
            e[0] = static_cast<char>(c);
            e[3] = 1;
        } else {
            e[0] = '%';
            e[1] = k_hex_upper[c >> 4];
            e[2] = k_hex_upper[c & 15];
            e[3] = 3;
        }
    }
    return s;
}

// RFC 3986 unreserved characters: what a path segment, a name in a URL or
// a userinfo part keeps; every other byte becomes %XX.
inline constexpr byte_set k_keep_unreserved = make_set([](unsigned char c) { return is_unreserved(c); });

// Bytes written by percent-encoding n bytes with the given set kept.
size_t pct_encoded_size(const char *s, size_t n, const byte_set &keep);
// Writes the encoded bytes (no NUL) at out, which has room for
// pct_encoded_size; returns the end of what was written. Escapes use
// upper-case hexadecimal digits.
char *pct_encode_to(char *out, const char *s, size_t n, const byte_set &keep);

// Percent-decoding: "%" with two hexadecimal digits (either case) inside
// the range becomes the byte they spell; every other byte, "+" and a "%"
// without two digits after it included, stays. The output is never longer
// than the input, so out may be s itself; it gets a NUL after the decoded
// bytes. Returns the decoded length, decoded NUL bytes included.
size_t pct_decode_to(const char *s, size_t n, char *out);
// The same into a new heap text (null when memory runs out or s is null);
// *out_len (when not null) receives the decoded length. With wipe_tail, the
// bytes after a decoded NUL, which are no part of the text as C reads it,
// are cleared: they may hold the rest of a password.
char *pct_decode(const char *s, size_t n, size_t *out_len, bool wipe_tail = false);

// Length of the well-formed UTF-8 sequence at p (n bytes available), or 0:
// no overlong forms, no surrogates, nothing above U+10FFFF. A NUL byte is
// a one-byte sequence.
size_t utf8_seq_len(const unsigned char *p, size_t n);
// The n bytes are well-formed UTF-8.
bool utf8_valid(const char *s, size_t n);
// A copy of the text in which every byte that starts no well-formed
// sequence became U+FFFD; null when the text is well-formed already (or
// memory runs out), so that callers copy only when they must.
char *utf8_repaired(const char *s, size_t n);
// Where a text of n bytes may be cut to at most max bytes without splitting
// a UTF-8 sequence: max itself, or less when a sequence straddles it.
size_t utf8_cut(const char *s, size_t n, size_t max);

// The length of s[0, n) without a UTF-8 sequence that a cut left
// incomplete at its end: what a buffer that truncated a text may keep.
size_t utf8_whole_prefix(const char *s, size_t n);

// The decimal number at s as atoi reads it (leading white space, an
// optional sign, digits), clamped to the int range instead of overflowing:
// a port written as 4294967376 must not wrap round to 80.
int read_int_clamped(const char *s);

} // namespace klaspnet::text
