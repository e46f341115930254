// SipHash (Aumasson and Bernstein, "SipHash: a fast short-input PRF", 2012):
// a keyed hash of short texts whose outputs an attacker who does not know
// the 128-bit key cannot predict, so names chosen to collide under one key
// spread out under another. The listing parser's name index uses
// SipHash-1-3 (one compression round per word, three finalization rounds),
// the variant hash tables commonly use against flooding.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kldlp::detail {

struct sip_key {
    uint64_t k0, k1;
};

namespace sip {

// The eight bytes at p as a little-endian number, the byte order the
// algorithm is defined in.
inline uint64_t load_le(const char *p, size_t n = 8)
{
    unsigned char b[8] = {};
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(p[i]);
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t w;
        memcpy(&w, b, 8);
        return w;
    } else {
        uint64_t w = 0;
        for (int i = 7; i >= 0; --i) w = w << 8 | b[i];
        return w;
    }
}

struct state {
    uint64_t v0, v1, v2, v3;
    void round()
    {
        v0 += v1;
        v1 = std::rotl(v1, 13);
        v1 ^= v0;
        v0 = std::rotl(v0, 32);
        v2 += v3;
        v3 = std::rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = std::rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = std::rotl(v1, 17);
        v1 ^= v2;
        v2 = std::rotl(v2, 32);
    }
    template <int C> void absorb(uint64_t m)
    {
        v3 ^= m;
        for (int i = 0; i < C; ++i) round();
        v0 ^= m;
    }
};

} // namespace sip

// SipHash-c-d of n bytes under key k: the message as little-endian words,
// the last one carrying the length (mod 256) in its top byte.
template <int C, int D> uint64_t siphash(const sip_key &k, const char *s, size_t n)
{
    sip::state st{k.k0 ^ 0x736f6d6570736575ull, k.k1 ^ 0x646f72616e646f6dull, k.k0 ^ 0x6c7967656e657261ull,
                  k.k1 ^ 0x7465646279746573ull};
    const size_t tail = n & 7;
    const char *const start = s;
    for (const char *end = s + (n - tail); s < end; s += 8) st.absorb<C>(sip::load_le(s));
    // The last 1 to 7 bytes: from the word that ends the text when there is
    // one, else byte by byte.
    uint64_t last = 0;
    if (tail && n >= 8)
        last = sip::load_le(start + n - 8) >> (64 - 8 * tail);
    else if (tail)
        last = sip::load_le(s, tail);
    st.absorb<C>(static_cast<uint64_t>(n) << 56 | last);
    st.v2 ^= 0xff;
    for (int i = 0; i < D; ++i) st.round();
    return st.v0 ^ st.v1 ^ st.v2 ^ st.v3;
}

} // namespace kldlp::detail
