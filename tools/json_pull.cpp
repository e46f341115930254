#include "tools/json_pull.h"

#include <cstring>

#include "common/chars.h"

namespace klaspnet::tool {

using klaspnet::text::hex_value;
using klaspnet::text::is_digit;

void json_pull::ws()
{
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) p_++;
}

bool json_pull::fail()
{
    bad_ = true;
    p_ = end_;
    return false;
}

bool json_pull::take(char c)
{
    ws();
    if (p_ < end_ && *p_ == c) {
        p_++;
        return true;
    }
    return false;
}

const char *json_pull::here()
{
    ws();
    return p_;
}

bool json_pull::object() { return take('{') || fail(); }
bool json_pull::array() { return take('[') || fail(); }

bool json_pull::key(std::string_view &k)
{
    if (bad_) return false;
    ws();
    if (p_ < end_ && *p_ == ',') {
        p_++;
        ws();
    }
    if (p_ >= end_) return fail();
    if (*p_ == '}') {
        p_++;
        return false;
    }
    if (*p_ != '"') return fail();
    const char *b = ++p_;
    while (p_ < end_ && *p_ != '"') {
        if (*p_ == '\\') p_++; // an escaped key keeps its escape; no key read here has one
        p_++;
    }
    if (p_ >= end_) return fail();
    k = std::string_view(b, static_cast<size_t>(p_ - b));
    p_++;
    ws();
    if (p_ >= end_ || *p_ != ':') return fail();
    p_++;
    return true;
}

bool json_pull::element()
{
    if (bad_) return false;
    take(',');
    if (take(']')) return false;
    ws();
    return p_ < end_ || fail();
}

bool json_pull::hex4(uint32_t &v)
{
    if (end_ - p_ < 4) return false;
    v = 0;
    for (int i = 0; i < 4; i++) {
        const int h = hex_value(p_[i]);
        if (h < 0) return false;
        v = v * 16 + static_cast<uint32_t>(h);
    }
    p_ += 4;
    return true;
}

namespace {

void append_utf8(std::string &out, uint32_t cp)
{
    char b[4];
    size_t n;
    if (cp < 0x80) {
        b[0] = static_cast<char>(cp);
        n = 1;
    } else if (cp < 0x800) {
        b[0] = static_cast<char>(0xC0 | (cp >> 6));
        b[1] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        b[0] = static_cast<char>(0xE0 | (cp >> 12));
        b[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        b[2] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        b[0] = static_cast<char>(0xF0 | (cp >> 18));
        b[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        b[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        b[3] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 4;
    }
    out.append(b, n);
}

} // namespace

bool json_pull::string(std::string &out)
{
    out.clear();
    if (!take('"')) return fail();
    for (;;) {
        const char *b = p_;
        while (p_ < end_ && *p_ != '"' && *p_ != '\\') p_++;
        out.append(b, static_cast<size_t>(p_ - b));
        if (p_ >= end_) return fail();
        if (*p_++ == '"') return true;
        if (p_ >= end_) return fail();
        const char e = *p_++;
        switch (e) {
        case '"':
        case '\\':
        case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            uint32_t cp;
            if (!hex4(cp)) return fail();
            // A high surrogate takes the low one that must follow; a
            // surrogate on its own stands for no character (U+FFFD).
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                uint32_t lo;
                if (end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u') {
                    const char *keep = p_;
                    p_ += 2;
                    if (hex4(lo) && lo >= 0xDC00 && lo <= 0xDFFF)
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    else {
                        p_ = keep;
                        cp = 0xFFFD;
                    }
                } else {
                    cp = 0xFFFD;
                }
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                cp = 0xFFFD;
            }
            append_utf8(out, cp);
            break;
        }
        default: return fail();
        }
    }
}

bool json_pull::integer(int64_t &v)
{
    ws();
    bool neg = p_ < end_ && *p_ == '-';
    if (neg) p_++;
    if (p_ >= end_ || !is_digit(*p_)) return fail();
    uint64_t u = 0;
    for (; p_ < end_ && is_digit(*p_); p_++) {
        const unsigned d = static_cast<unsigned>(*p_ - '0');
        if (u > (uint64_t{INT64_MAX} + (neg ? 1 : 0) - d) / 10) return fail();
        u = u * 10 + d;
    }
    if (p_ < end_ && (*p_ == '.' || *p_ == 'e' || *p_ == 'E')) return fail();
    v = neg ? static_cast<int64_t>(0 - u) : static_cast<int64_t>(u);
    return true;
}

bool json_pull::boolean(bool &v)
{
    ws();
    const size_t left = static_cast<size_t>(end_ - p_);
    if (left >= 4 && std::memcmp(p_, "true", 4) == 0) {
        p_ += 4;
        v = true;
        return true;
    }
    if (left >= 5 && std::memcmp(p_, "false", 5) == 0) {
        p_ += 5;
        v = false;
        return true;
    }
    return fail();
}

bool json_pull::skip_string()
{
    for (p_++; p_ < end_; p_++) {
        if (*p_ == '\\')
            p_++;
        else if (*p_ == '"') {
            p_++;
            return true;
        }
    }
    return fail();
}

bool json_pull::skip()
{
    ws();
    if (p_ >= end_) return fail();
    if (*p_ == '"') return skip_string();
    if (*p_ != '{' && *p_ != '[') {
        // A number or a literal: everything up to the next separator.
        const char *b = p_;
        while (p_ < end_ && *p_ != ',' && *p_ != '}' && *p_ != ']' && *p_ != ' ' && *p_ != '\n' && *p_ != '\r' &&
               *p_ != '\t')
            p_++;
        return p_ > b || fail();
    }
    size_t depth = 0;
    while (p_ < end_) {
        const char c = *p_;
        if (c == '"') {
            if (!skip_string()) return false;
            continue;
        }
        p_++;
        if (c == '{' || c == '[') depth++;
        if ((c == '}' || c == ']') && --depth == 0) return true;
    }
    return fail();
}

void append_json_string(std::string &out, std::string_view s)
{
    out += '"';
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

} // namespace klaspnet::tool
