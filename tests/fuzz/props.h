// Properties shared by the fuzz targets, written independently of the
// library's own helpers so that a fault in those is not repeated here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/texts.h"

// Report a broken property and stop: libFuzzer keeps the input.
[[noreturn]] void prop_fail(const char *what, const std::string &detail);
#define PROP(cond, detail)                                                                                             \
  do {                                                                                                                 \
    if (!(cond)) prop_fail(#cond, (detail));                                                                           \
  } while (0)

// An entry name: not empty, not "." or "..", no byte below 0x20, no DEL, no
// "/", well-formed UTF-8 (shortest form, no surrogates, at most U+10FFFF).
bool name_rules(const char *s, size_t n);
bool utf8_ok(const char *s, size_t n);

// Parts of an absolute URL text: lower-cased scheme, the authority, and
// whether the authority holds user information.
struct url_view {
    std::string scheme;
    std::string authority;
    std::string rest; // path, query and fragment
    bool ok = false;
};
url_view split_url(const std::string &url);
// Host of an authority without user information and port, lower-cased.
std::string host_of(const std::string &authority);
// Port of an authority, or the default of the scheme.
int port_of(const url_view &u);

// Well-formed JSON; {"error":message,"code":code} as the library writes it.
using ktest::error_json;
using ktest::json_ok;

// A consumer of fuzz bytes that never fails: past the end it yields zeros.
struct bytes_in {
    const uint8_t *p;
    size_t n;
    uint8_t byte();
    uint32_t u16();
    // A text of at most max bytes, ended early by a 0xFF byte.
    std::string text(size_t max);
    bool empty() const { return n == 0; }
};
