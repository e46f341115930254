// Compact JSON written straight into one growing text, without a document in
// between: the results of the operations are written key by key and item by
// item as they are produced, and the finished text is handed over whole.
//
// Strings are escaped as yyjson 0.10 writes them with no flags, so that every
// result reads byte for byte as it always has: '"' and '\' take a backslash,
// the control bytes \b \t \n \f \r their short escapes and every other byte
// below 0x20 \u00XX (upper-case hexadecimal); "/", DEL and all of Unicode
// (U+2028 and U+2029 included) stand as they are. Where yyjson refuses a text
// that is not UTF-8, the writer repairs it: each byte that starts no
// well-formed sequence becomes U+FFFD, as klaspnet::text::utf8_repaired does,
// so that every published text is UTF-8 whatever a transport, a header or a
// page handed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "source/buf.h"

namespace klaspnet::detail {

// The most bytes json_escape_to writes for n input bytes: a control byte
// becomes six (\u00XX).
constexpr size_t json_escape_max(size_t n) { return 6 * n; }
// Writes the n bytes at s as the inside of a JSON string (no quotes) at out,
// which has room for json_escape_max(n); returns the end of what was written.
char *json_escape_to(char *out, const char *s, size_t n);

// The most bytes json_put_num writes.
constexpr size_t json_num_max = 20;
// Writes v in decimal at out (at most json_num_max bytes); returns the end.
char *json_put_num(char *out, int64_t v);
// Writes a literal (its bytes without the NUL) at out; returns the end.
template <size_t N> char *json_put(char *out, const char (&lit)[N])
{
    std::memcpy(out, lit, N - 1);
    return out + N - 1;
}

// A place in the text: the escaped inside of a string written earlier.
struct json_span {
    size_t from;
    size_t len;
};

// Commas are placed by the writer: after "{" or "[" or a key none, before
// any other key or value one. A write that cannot get memory marks the
// writer failed; later writes do nothing and take() gives null, so that a
// caller checks once, at the end, and never publishes a partial text.
class json_writer {
public:
    json_writer() = default;
    json_writer(const json_writer &) = delete;
    json_writer &operator=(const json_writer &) = delete;
    ~json_writer() { klaspnet_buf_free(&b_); }

    void obj_begin() { open('{'); }
    void obj_end() { close('}'); }
    void arr_begin() { open('['); }
    void arr_end() { close(']'); }

    // A key the library names: ASCII that needs no escape.
    template <size_t N> void key(const char (&k)[N]) { key(k, N - 1); }
    void key(const char *k, size_t n);

    // A string value; returns where its escaped inside stands (len 0 after a
    // failure).
    json_span str(const char *s, size_t n);
    json_span str(const char *s);
    void num(int64_t v);
    void boolean(bool v);

    // A string value written in parts between str_open and str_close.
    void str_open();
    // Bytes escaped as str() escapes them. The parts of one string are each
    // well-formed UTF-8, so that escaping them apart gives what escaping
    // them together would.
    void part(const char *s, size_t n);
    // Bytes escaped already (an earlier part, a span of this text).
    void part_escaped(const char *s, size_t n);
    void part_escaped(json_span at);
    // Bytes percent-encoded: every byte but the RFC 3986 unreserved ones
    // becomes %XX, which needs no JSON escape.
    void part_pct(const char *s, size_t n);
    void str_close();

    // A value written straight at a cursor, for the items of a listing,
    // which are many and all of one shape: value_begin gives room for at
    // most max bytes (the comma before the value placed), or null after a
    // failure; value_end takes the cursor where the value stops. In between,
    // data() and the spans of earlier strings stay where they are.
    char *value_begin(size_t max);
    void value_end(char *end);
    const char *data() const { return b_.data; }

    // Room for n more bytes, so that the text need not grow while they are
    // written (a hint: the writer grows as needed either way).
    void reserve(size_t n);

    size_t size() const { return b_.len; }
    bool failed() const { return failed_; }
    // The finished text (malloc'd, NUL-terminated; the caller frees it) and
    // its length; null when a write failed. The writer is empty afterwards.
    char *take(size_t *len);

private:
    // Where n more bytes (and the NUL) may be written, or null once a write
    // has failed. The text grows only when it must.
    char *room(size_t n) { return !failed_ && b_.cap - b_.len > n ? b_.data + b_.len : grow(n); }
    char *grow(size_t n);
    void commit(char *end)
    {
        b_.len = static_cast<size_t>(end - b_.data);
        b_.data[b_.len] = '\0';
    }
    void open(char c);
    void close(char c);

    klaspnet_buf b_{};
    bool failed_ = false;
    bool comma_ = false;
};

} // namespace klaspnet::detail
