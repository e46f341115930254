#include "support/exact.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace ktest {

namespace {

char *block(size_t n)
{
    char *p = static_cast<char *>(std::malloc(n));
    if (!p) throw std::bad_alloc();
    return p;
}

} // namespace

exact_bytes::exact_bytes(std::string_view s) : p_(block(s.empty() ? 1 : s.size())), n_(s.size())
{
    if (!s.empty()) std::memcpy(p_, s.data(), s.size());
}

exact_bytes::~exact_bytes() { std::free(p_); }

exact_cstr::exact_cstr(std::string_view s) : p_(block(s.size() + 1))
{
    if (!s.empty()) std::memcpy(p_, s.data(), s.size());
    p_[s.size()] = '\0';
}

exact_cstr::exact_cstr(const char *s) : p_(nullptr)
{
    if (s) {
        const size_t n = std::strlen(s) + 1;
        p_ = block(n);
        std::memcpy(p_, s, n);
    }
}

exact_cstr::~exact_cstr() { std::free(p_); }

char *heap_cstr(std::string_view s)
{
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (!p) return nullptr;
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

} // namespace ktest
