// Output-buffer convention, error JSON and the published last error / result.
#pragma once

#include <cstdint>

// Copy a whole text with its NUL into (dst, dst_len), never a part of it.
// text null stores "". 0, or -9 (KLASPNET_E_BUFFER) when it does not fit.
int put_out(char *dst, int32_t dst_len, const char *text);
// End an operation with {"error":message,"code":code}: publish, write dst,
// return code unchanged (also when dst is too small).
int fail(char *dst, int32_t dst_len, int code, const char *message);
// End an operation with success: publish publish_json (or out_json when null)
// with an empty last error, then write out_json into dst. 0 or -9.
int done(char *dst, int32_t dst_len, const char *out_json, const char *publish_json);
// Replace the published last error and result ("{}" when result_json is null).
void klaspnet_publish(const char *message, const char *result_json);
