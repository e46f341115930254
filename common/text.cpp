#include "common/text.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/wipe.h"

namespace klaspnet::text {

size_t pct_encoded_size(const char *s, size_t n, const byte_set &keep)
{
    size_t out = 0;
    for (size_t i = 0; i < n; ++i) out += static_cast<size_t>(keep.enc[static_cast<unsigned char>(s[i])][3]);
    return out;
}

char *pct_encode_to(char *out, const char *s, size_t n, const byte_set &keep)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    const unsigned char *const end = p + n;
    // Each byte's whole entry is stored and the cursor moves by its length.
    // Every byte writes at least one, so while four input bytes remain the
    // four stored bytes stay inside the room pct_encoded_size counts.
    if (n >= 4) {
        for (const unsigned char *const stop = end - 3; p < stop; ++p) {
            const char *e = keep.enc[*p];
            std::memcpy(out, e, 4);
            out += e[3];
        }
    }
    for (; p < end; ++p) {
        const char *e = keep.enc[*p];
        std::memcpy(out, e, static_cast<size_t>(e[3]));
        out += e[3];
    }
    return out;
}

size_t pct_decode_to(const char *s, size_t n, char *out)
{
    size_t o = 0, i = 0;
    while (i < n) {
        const char *pc = static_cast<const char *>(std::memchr(s + i, '%', n - i));
        const size_t run = (pc ? static_cast<size_t>(pc - s) : n) - i;
        if (run && out + o != s + i) std::memmove(out + o, s + i, run); // out may be s itself
        o += run;
        i += run;
        if (i >= n) break;
        if (n - i >= 3 && is_hex(s[i + 1]) && is_hex(s[i + 2])) {
            out[o++] = static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
            i += 3;
            continue;
        }
        out[o++] = s[i++];
    }
    out[o] = '\0';
    return o;
}

char *pct_decode(const char *s, size_t n, size_t *out_len, bool wipe_tail)
{
    if (!s || n == SIZE_MAX) return nullptr;
    char *out = static_cast<char *>(std::malloc(n + 1));
    if (!out) return nullptr;
    const size_t o = pct_decode_to(s, n, out);
    if (wipe_tail) {
        const size_t k = std::strlen(out);
        if (k < o) klaspnet_wipe(out + k, o - k);
    }
    if (out_len) *out_len = o;
    return out;
}

size_t utf8_seq_len(const unsigned char *p, size_t n)
{
    if (n == 0) return 0;
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    size_t len;
    uint32_t cp, min;
    if ((c & 0xE0) == 0xC0) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0; // a continuation byte or 11111xxx
    }
    if (len > n) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

bool utf8_valid(const char *s, size_t n)
{
    if (n == 0) return true;
    if (!s) return false;
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const size_t l = utf8_seq_len(p + i, n - i);
        if (l == 0) return false;
        i += l;
    }
    return true;
}

char *utf8_repaired(const char *s, size_t n)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    size_t bad = 0;
    for (size_t i = 0; i < n;) {
        const size_t l = utf8_seq_len(p + i, n - i);
        bad += l == 0;
        i += l ? l : 1;
    }
    if (bad == 0) return nullptr;
    auto *out = static_cast<char *>(std::malloc(n + 2 * bad + 1));
    if (!out) return nullptr;
    char *o = out;
    for (size_t i = 0; i < n;) {
        const size_t l = utf8_seq_len(p + i, n - i);
        if (l == 0) {
            std::memcpy(o, "\xEF\xBF\xBD", 3);
            o += 3;
            ++i;
        } else {
            std::memcpy(o, p + i, l);
            o += l;
            i += l;
        }
    }
    *o = '\0';
    return out;
}

size_t utf8_cut(const char *s, size_t n, size_t max)
{
    if (n <= max) return n;
    // Byte max is the first one left out; when it continues a well-formed
    // sequence that began before it, the cut moves back to that sequence's
    // start. Bytes that are no UTF-8 at all are cut where they stand.
    size_t k = max;
    while (k > 0 && max - k < 3 && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80) --k;
    if (k == max) return max;
    const size_t l = utf8_seq_len(reinterpret_cast<const unsigned char *>(s) + k, n - k);
    return (l && k + l > max) ? k : max;
}

size_t utf8_whole_prefix(const char *s, size_t n)
{
    size_t k = n;
    while (k > 0 && n - k < 3 && (static_cast<unsigned char>(s[k - 1]) & 0xC0) == 0x80) --k;
    if (k == 0) return n;
    const auto lead = static_cast<unsigned char>(s[k - 1]);
    const size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return (lead >= 0xC0 && want > n - (k - 1)) ? k - 1 : n;
}

int read_int_clamped(const char *s)
{
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
    bool neg = false;
    if (*s == '+' || *s == '-') neg = *s++ == '-';
    long long v = 0;
    for (; is_digit(*s); ++s)
        if (v <= INT_MAX) v = v * 10 + (*s - '0');
    if (v > INT_MAX) v = INT_MAX;
    return static_cast<int>(neg ? -v : v);
}

} // namespace klaspnet::text
