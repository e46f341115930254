// An output buffer for operations that run beside others (the threads of
// -R and --exact) or whose answer holds more than the published result
// (stream-url --curl): the answer is taken from here, never from the
// library's published result, which the most recent operation of any
// thread replaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace klaspnet::tool {

class answer_buffer {
public:
    answer_buffer() = default;
    answer_buffer(const answer_buffer &) = delete;
    answer_buffer &operator=(const answer_buffer &) = delete;
    ~answer_buffer(); // wipes: an answer may hold an Authorization header

    // Runs op(dst, dst_len) until its answer fits: when the library answers
    // -9 the buffer grows (to the size the last error names, which another
    // thread may have replaced in the meantime, so at least to twice its
    // size) and the operation runs again. Returns the operation's status;
    // -9 only when the answer would not fit 2 GiB or memory ran out.
    template <class Op> int32_t run(Op op)
    {
        for (;;) {
            if (!data_ && !grow(0)) return -9;
            const int32_t rc = op(data_, static_cast<int32_t>(cap_));
            if (rc != -9 || !grow(needed())) return rc;
        }
    }
    std::string_view text() const { return data_ ? std::string_view(data_) : std::string_view(); }

private:
    // The size in the last error "output buffer too small: N bytes needed".
    static size_t needed();
    // A larger buffer (a first one for 0); false at the limit or without memory.
    bool grow(size_t need);

    char *data_ = nullptr;
    size_t cap_ = 0;
};

} // namespace klaspnet::tool
