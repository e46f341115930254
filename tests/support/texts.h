// Texts the suites build to compare with what the library writes: written
// here independently of the library's own helpers, so that a fault in those
// is not repeated in the expectation.
#pragma once

#include <string>
#include <string_view>

namespace ktest {

// Percent-encodes every byte outside RFC 3986's unreserved set
// (ALPHA / DIGIT / "-" / "." / "_" / "~"), with upper-case hex digits.
std::string pct_encode(std::string_view s);

// {"error":message,"code":code}, as an operation writes it on failure; empty
// when the message is not UTF-8.
std::string error_json(std::string_view message, int code);

// Whether the text is one well-formed JSON document.
bool json_ok(std::string_view text);

} // namespace ktest
