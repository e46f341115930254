// Inputs copied into heap blocks of exactly their size, so that a read one
// byte past the end is reported by AddressSanitizer instead of landing in the
// spare capacity of a std::string.
#pragma once

#include <cstddef>
#include <string_view>

namespace ktest {

// The bytes alone, no NUL after them (an empty input still gets a block of
// one byte, so that data() is never null).
class exact_bytes {
public:
    explicit exact_bytes(std::string_view s);
    ~exact_bytes();
    exact_bytes(const exact_bytes &) = delete;
    exact_bytes &operator=(const exact_bytes &) = delete;
    const char *data() const { return p_; }
    size_t size() const { return n_; }
    const char *end() const { return p_ + n_; }

private:
    char *p_;
    size_t n_;
};

// The text and its NUL in a block of size + 1 bytes; a null pointer stays null.
class exact_cstr {
public:
    explicit exact_cstr(std::string_view s);
    explicit exact_cstr(const char *s);
    ~exact_cstr();
    exact_cstr(const exact_cstr &) = delete;
    exact_cstr &operator=(const exact_cstr &) = delete;
    const char *c_str() const { return p_; }

private:
    char *p_;
};

// A NUL-terminated copy from malloc for code that takes the block over and
// releases it with free(); null only when malloc fails.
char *heap_cstr(std::string_view s);

} // namespace ktest
