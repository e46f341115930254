#include "props.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void prop_fail(const char *what, const std::string &detail)
{
    std::fprintf(stderr, "\nPROPERTY BROKEN: %s\n  %s\n", what, detail.c_str());
    std::abort();
}

bool utf8_ok(const char *s, size_t n)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    size_t i = 0;
    while (i < n) {
        unsigned c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t v;
        uint32_t min;
        if (c >= 0xC0 && c < 0xE0) {
            len = 2, v = c & 0x1F, min = 0x80;
        } else if (c >= 0xE0 && c < 0xF0) {
            len = 3, v = c & 0x0F, min = 0x800;
        } else if (c >= 0xF0 && c < 0xF8) {
            len = 4, v = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (n - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            v = (v << 6) | (p[i + k] & 0x3F);
        }
        if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

bool name_rules(const char *s, size_t n)
{
    if (n == 0 || (n == 1 && s[0] == '.') || (n == 2 && s[0] == '.' && s[1] == '.')) return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F || c == '/') return false;
    }
    return utf8_ok(s, n);
}

url_view split_url(const std::string &url)
{
    url_view u;
    size_t colon = url.find("://");
    if (colon == std::string::npos || colon == 0) return u;
    for (size_t i = 0; i < colon; ++i) u.scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(url[i])));
    size_t a = colon + 3;
    size_t e = url.find_first_of("/?#", a);
    if (e == std::string::npos) e = url.size();
    u.authority = url.substr(a, e - a);
    u.rest = url.substr(e);
    u.ok = true;
    return u;
}

std::string host_of(const std::string &authority)
{
    std::string h = authority;
    size_t at = h.rfind('@');
    if (at != std::string::npos) h = h.substr(at + 1);
    if (!h.empty() && h[0] == '[') {
        size_t close = h.find(']');
        h = h.substr(0, close == std::string::npos ? h.size() : close + 1);
    } else {
        size_t colon = h.find(':');
        if (colon != std::string::npos) h = h.substr(0, colon);
    }
    for (char &c : h) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return h;
}

int port_of(const url_view &u)
{
    std::string h = u.authority;
    size_t at = h.rfind('@');
    if (at != std::string::npos) h = h.substr(at + 1);
    size_t from = 0;
    if (!h.empty() && h[0] == '[') from = h.find(']');
    size_t colon = from == std::string::npos ? std::string::npos : h.find(':', from);
    if (colon == std::string::npos || colon + 1 == h.size()) return u.scheme == "https" ? 443 : 80;
    return std::atoi(h.c_str() + colon + 1);
}

uint8_t bytes_in::byte()
{
    if (!n) return 0;
    --n;
    return *p++;
}

uint32_t bytes_in::u16()
{
    uint32_t hi = byte();
    return hi << 8 | byte();
}

std::string bytes_in::text(size_t max)
{
    std::string s;
    while (n && s.size() < max) {
        uint8_t c = byte();
        if (c == 0xFF) break;
        s += static_cast<char>(c);
    }
    return s;
}
