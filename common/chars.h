// Byte classes of ASCII, as constant 256-entry tables: every test is one
// load, the same for signed and unsigned char, and none depends on the C
// library's locale. The listing parser and the source share them.
#pragma once

#include <cstdint>

namespace klaspnet::text {

enum : uint8_t {
    c_digit = 1,      // 0-9
    c_alpha = 2,      // A-Z a-z
    c_hex = 4,        // 0-9 A-F a-f
    c_unreserved = 8, // RFC 3986 section 2.3: ALPHA DIGIT "-" "." "_" "~"
    c_html_space = 16 // HTML's white space: TAB LF FF CR SPACE (not VT)
};

struct char_tables {
    uint8_t cls[256];
    unsigned char lower[256];
    int8_t hex[256]; // value of a hexadecimal digit, -1 for any other byte

    constexpr char_tables() : cls{}, lower{}, hex{}
    {
        for (int c = 0; c < 256; ++c) {
            const bool digit = c >= '0' && c <= '9';
            const bool upper = c >= 'A' && c <= 'Z';
            const bool alpha = upper || (c >= 'a' && c <= 'z');
            uint8_t k = 0;
            if (digit) k |= c_digit;
            if (alpha) k |= c_alpha;
            if (digit || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')) k |= c_hex;
            if (digit || alpha || c == '-' || c == '.' || c == '_' || c == '~') k |= c_unreserved;
            if (c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20) k |= c_html_space;
            cls[c] = k;
            lower[c] = static_cast<unsigned char>(upper ? c + 32 : c);
            hex[c] = static_cast<int8_t>(digit                    ? c - '0'
                                         : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                                  : -1);
        }
    }
};

inline constexpr char_tables k_chars{};

constexpr bool is_digit(unsigned char c) { return k_chars.cls[c] & c_digit; }
constexpr bool is_alpha(unsigned char c) { return k_chars.cls[c] & c_alpha; }
constexpr bool is_hex(unsigned char c) { return k_chars.cls[c] & c_hex; }
constexpr bool is_unreserved(unsigned char c) { return k_chars.cls[c] & c_unreserved; }
constexpr bool is_html_space(unsigned char c) { return k_chars.cls[c] & c_html_space; }
// ASCII case folding only: bytes of 0x80 and above stay as they are.
constexpr unsigned char to_lower(unsigned char c) { return k_chars.lower[c]; }
constexpr int hex_value(unsigned char c) { return k_chars.hex[c]; }

// The same tests for the plain char that texts are made of.
constexpr bool is_digit(char c) { return is_digit(static_cast<unsigned char>(c)); }
constexpr bool is_alpha(char c) { return is_alpha(static_cast<unsigned char>(c)); }
constexpr bool is_hex(char c) { return is_hex(static_cast<unsigned char>(c)); }
constexpr bool is_unreserved(char c) { return is_unreserved(static_cast<unsigned char>(c)); }
constexpr bool is_html_space(char c) { return is_html_space(static_cast<unsigned char>(c)); }
constexpr unsigned char to_lower(char c) { return to_lower(static_cast<unsigned char>(c)); }
constexpr int hex_value(char c) { return hex_value(static_cast<unsigned char>(c)); }

// Upper-case hexadecimal digits, as percent-encoding writes them.
inline constexpr char k_hex_upper[] = "0123456789ABCDEF";

// n bytes of a and b equal under ASCII case folding.
constexpr bool ci_equal(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (to_lower(a[i]) != to_lower(b[i])) return false;
    return true;
}

} // namespace klaspnet::text
