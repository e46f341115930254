#include "source/json_writer.h"

#include <bit>
#include <cstring>

#include "common/chars.h"
#include "common/text.h"

namespace klaspnet::detail {

namespace {

// What a byte asks of the escaper: nothing, a backslash escape, or a check
// of the UTF-8 sequence it starts.
enum : uint8_t { b_plain, b_escape, b_lead };

struct escape_table {
    uint8_t kind[256];
    constexpr escape_table() : kind{}
    {
        for (int c = 0; c < 256; ++c)
            kind[c] = c < 0x20 || c == '"' || c == '\\' ? b_escape : c >= 0x80 ? b_lead : b_plain;
    }
};

constexpr escape_table k_escape{};

// "00" to "99", for writing numbers two digits at a time.
struct digit_pairs {
    char text[200];
    constexpr digit_pairs() : text{}
    {
        for (int i = 0; i < 100; ++i) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};

constexpr digit_pairs k_pairs{};

// 10^0 to 10^19, for the digit count of a number.
struct powers_of_ten {
    uint64_t v[20];
    constexpr powers_of_ten() : v{}
    {
        v[0] = 1;
        for (int i = 1; i < 20; ++i) v[i] = v[i - 1] * 10;
    }
};

constexpr powers_of_ten k_pow10{};

constexpr uint64_t k_ones = 0x0101010101010101ull;
constexpr uint64_t k_highs = 0x8080808080808080ull;

// Whether any of eight bytes asks for more than a copy: a byte of 0x80 or
// above, below 0x20, '"' or '\'. Names are mostly plain ASCII, so the
// escaper copies eight bytes at a time until a word holds such a byte.
constexpr bool word_special(uint64_t v)
{
    const uint64_t quote = v ^ (k_ones * '"');
    const uint64_t slash = v ^ (k_ones * '\\');
    return ((v | ((v - k_ones * 0x20) & ~v) | ((quote - k_ones) & ~quote) | ((slash - k_ones) & ~slash)) & k_highs) !=
           0;
}

char *escape_byte(char *out, unsigned char c)
{
    *out++ = '\\';
    switch (c) {
    case '"': *out++ = '"'; break;
    case '\\': *out++ = '\\'; break;
    case '\b': *out++ = 'b'; break;
    case '\t': *out++ = 't'; break;
    case '\n': *out++ = 'n'; break;
    case '\f': *out++ = 'f'; break;
    case '\r': *out++ = 'r'; break;
    default:
        std::memcpy(out, "u00", 3);
        out[3] = text::k_hex_upper[c >> 4];
        out[4] = text::k_hex_upper[c & 15];
        out += 5;
    }
    return out;
}

} // namespace

char *json_put_num(char *out, int64_t v)
{
    // The unsigned magnitude, so that INT64_MIN needs no special case; its
    // digits written from the right, two at a time, straight into place.
    uint64_t u = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    if (v < 0) *out++ = '-';
    // The digit count from the bit length: bits * 1233 / 4096 is log10 of
    // the next power of two below, one short where u reaches the next power
    // of ten.
    const auto t = static_cast<size_t>((64 - std::countl_zero(u | 1)) * 1233) >> 12;
    const size_t len = t + (u >= k_pow10.v[t]) + (u == 0);
    char *const end = out + len;
    char *d = end;
    while (u >= 100) {
        d -= 2;
        std::memcpy(d, k_pairs.text + 2 * (u % 100), 2);
        u /= 100;
    }
    if (u >= 10)
        std::memcpy(d - 2, k_pairs.text + 2 * u, 2);
    else
        d[-1] = static_cast<char>('0' + u);
    return end;
}

char *json_escape_to(char *out, const char *s, size_t n)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    const unsigned char *const end = p + n;
    while (p < end) {
        while (end - p >= 8) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            if (word_special(v)) break;
            std::memcpy(out, p, 8);
            p += 8;
            out += 8;
        }
        if (p == end) break;
        if (end - p < 8 && n >= 8) {
            // The last bytes, read as the word that ends the text: when it
            // holds nothing to do, its bytes before them were copied as they
            // are, so the whole word may be written again over them.
            uint64_t v;
            std::memcpy(&v, end - 8, 8);
            if (!word_special(v)) {
                const size_t k = static_cast<size_t>(end - p);
                std::memcpy(out - (8 - k), end - 8, 8);
                return out + k;
            }
        }
        // Byte by byte through the word that holds something to do (or the
        // last bytes), then back to whole words.
        const unsigned char *const stop = end - p > 8 ? p + 8 : end;
        while (p < stop) {
            const unsigned char c = *p;
            switch (k_escape.kind[c]) {
            case b_plain: *out++ = static_cast<char>(c), ++p; break;
            case b_escape: out = escape_byte(out, c), ++p; break;
            default: {
                const size_t l = text::utf8_seq_len(p, static_cast<size_t>(end - p));
                if (l == 0) {
                    std::memcpy(out, "\xEF\xBF\xBD", 3); // U+FFFD for a byte that starts no sequence
                    out += 3;
                    ++p;
                } else {
                    std::memcpy(out, p, l);
                    out += l;
                    p += l;
                }
            }
            }
        }
    }
    return out;
}

char *json_writer::grow(size_t n)
{
    if (failed_) return nullptr;
    if (klaspnet_buf_reserve(&b_, n) != 0) {
        failed_ = true;
        return nullptr;
    }
    return b_.data + b_.len;
}

void json_writer::open(char c)
{
    char *p = room(2);
    if (!p) return;
    if (comma_) *p++ = ',';
    *p++ = c;
    commit(p);
    comma_ = false;
}

void json_writer::close(char c)
{
    char *p = room(1);
    if (!p) return;
    *p++ = c;
    commit(p);
    comma_ = true;
}

void json_writer::key(const char *k, size_t n)
{
    char *p = room(n + 4);
    if (!p) return;
    if (comma_) *p++ = ',';
    *p++ = '"';
    std::memcpy(p, k, n);
    p += n;
    *p++ = '"';
    *p++ = ':';
    commit(p);
    comma_ = false;
}

json_span json_writer::str(const char *s, size_t n)
{
    str_open();
    const size_t from = b_.len;
    part(s, n);
    const size_t len = b_.len - from;
    str_close();
    return failed_ ? json_span{0, 0} : json_span{from, len};
}

json_span json_writer::str(const char *s) { return str(s, std::strlen(s)); }

void json_writer::num(int64_t v)
{
    char *p = room(json_num_max + 1);
    if (!p) return;
    if (comma_) *p++ = ',';
    commit(json_put_num(p, v));
    comma_ = true;
}

char *json_writer::value_begin(size_t max)
{
    char *p = room(max + 1);
    if (p && comma_) *p++ = ',';
    return p;
}

void json_writer::value_end(char *end)
{
    commit(end);
    comma_ = true;
}

void json_writer::boolean(bool v)
{
    char *p = room(6);
    if (!p) return;
    if (comma_) *p++ = ',';
    const size_t k = v ? 4 : 5;
    std::memcpy(p, v ? "true" : "false", k);
    commit(p + k);
    comma_ = true;
}

void json_writer::str_open()
{
    char *p = room(2);
    if (!p) return;
    if (comma_) *p++ = ',';
    *p++ = '"';
    commit(p);
}

void json_writer::part(const char *s, size_t n)
{
    if (char *p = room(json_escape_max(n))) commit(json_escape_to(p, s, n));
}

void json_writer::part_escaped(const char *s, size_t n)
{
    if (char *p = room(n)) {
        std::memcpy(p, s, n);
        commit(p + n);
    }
}

void json_writer::part_escaped(json_span at)
{
    // Room first: growing the text may move it.
    if (char *p = room(at.len)) {
        std::memcpy(p, b_.data + at.from, at.len);
        commit(p + at.len);
    }
}

void json_writer::part_pct(const char *s, size_t n)
{
    if (char *p = room(3 * n)) commit(text::pct_encode_to(p, s, n, text::k_keep_unreserved));
}

void json_writer::str_close()
{
    char *p = room(1);
    if (!p) return;
    *p++ = '"';
    commit(p);
    comma_ = true;
}

void json_writer::reserve(size_t n)
{
    // Only a hint: when memory for it is lacking, the writes ask again.
    if (!failed_) (void)klaspnet_buf_reserve(&b_, n);
}

char *json_writer::take(size_t *len)
{
    char *text = failed_ ? nullptr : b_.data;
    if (len) *len = text ? b_.len : 0;
    if (!text) klaspnet_buf_free(&b_);
    b_ = klaspnet_buf{};
    failed_ = false;
    comma_ = false;
    return text;
}

} // namespace klaspnet::detail
