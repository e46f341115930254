// A pull reader over one JSON text the library wrote: the caller walks the
// known shape of a result (objects, their keys, arrays, values) and takes
// what it prints, without a tree of the document. Memory stays at one
// decoded string at a time however many items a listing has.
//
// The texts come from the library's JSON writer, so the reader is strict
// where it matters for reading them right (strings, escapes, numbers) and
// lenient elsewhere: separators between members are not checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace klaspnet::tool {

class json_pull {
public:
    explicit json_pull(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    // '{' of an object.
    bool object();
    // The next member's key and its ':'; false at the object's '}' (which it
    // takes) or on malformed text. Keys are compared as written: those of
    // the library's results are plain ASCII.
    bool key(std::string_view &k);
    // '[' of an array.
    bool array();
    // True when another element follows; false at the ']' (which it takes).
    bool element();

    // Values. Each takes the whole value or fails.
    bool string(std::string &out); // decoded; \u escapes become UTF-8
    bool integer(int64_t &v);
    bool boolean(bool &v);
    bool skip(); // any value, nested ones included

    // Where the reader stands in the text (after white space), for slicing
    // a value out as it was written.
    const char *here();
    bool failed() const { return bad_; }

private:
    void ws();
    bool fail();
    bool take(char c);
    bool skip_string();
    bool hex4(uint32_t &v);

    const char *p_;
    const char *end_;
    bool bad_ = false;
};

// Appends s as a JSON string (quotes included), escaped as JSON requires.
void append_json_string(std::string &out, std::string_view s);

} // namespace klaspnet::tool
