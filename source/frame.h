// Output-buffer convention, error JSON and the published last error / result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "klaspnet/klaspnet.h"
#include "source/json_writer.h"

namespace klaspnet::detail {

// Copy a whole text with its NUL into (dst, dst_len), never a part of it.
// text null stores "". 0, or -9 (KLASPNET_E_BUFFER) when it does not fit.
int put_out(char *dst, int32_t dst_len, const char *text);
// End an operation with {"error":message,"code":code}: publish, write dst,
// return code unchanged (also when dst is too small).
int fail(char *dst, int32_t dst_len, int code, const char *message);
// End an operation with -8 "<what> URL longer than 8192 bytes": a folder or
// file URL beyond the library's URL limit.
int fail_url_too_long(char *dst, int32_t dst_len, const char *what);
// End an operation with success: publish publish_json (or out_json when null)
// with an empty last error, then write out_json into dst. 0 or -9.
int done(char *dst, int32_t dst_len, const char *out_json, const char *publish_json);

// The caller's answer as a part of the published text: the bytes [from,
// from + len) of that text between head and tail. An operation writes one
// text and hands the caller the piece it asked for (the items of a listing,
// the proposed settings of a report), so the answer is never built twice.
struct answer_part {
    size_t from;
    size_t len;
    const char *head = "";
    const char *tail = "";
};

// End an operation with success from its written result: the text is
// published as it stands (taken over, not copied) and the answer part goes
// into dst, whole with its NUL or not at all. 0 or -9. When a write ran out
// of memory, the operation fails instead with -5 and oom_message. A part
// with len SIZE_MAX stands for the whole text.
int done_json(char *dst, int32_t dst_len, json_writer &w, const char *oom_message, answer_part part = {0, SIZE_MAX});

// Runs an operation so that nothing it throws reaches the host: a stray
// exception (memory exhausted inside a C++ container) ends the operation as
// an out-of-memory failure instead of terminating the host process. The
// exports and the handler table's entries both go through it.
template <class F> int32_t op_guard(char *dst, int32_t dst_len, F &&f) noexcept
{
    try {
        return f();
    } catch (...) {
        try {
            return fail(dst, dst_len, KLASPNET_E_FAILED, "out of memory");
        } catch (...) {
            return KLASPNET_E_FAILED;
        }
    }
}

} // namespace klaspnet::detail

// Replace the published last error and result ("{}" when result_json is null).
void klaspnet_publish(const char *message, const char *result_json);
// The same with a result the caller hands over: a malloc'd text that the
// library frees once neither the published slot nor the copy handed out by
// klaspnet_result_json refers to it (null publishes "{}").
void klaspnet_publish_owned(const char *message, char *result_json);
