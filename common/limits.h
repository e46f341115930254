// The library's limits, in one place. Messages that name a limit are built
// from these constants.
#pragma once

#include <cstddef>
#include <cstdint>

namespace klaspnet::limits {

// The longest root, request, redirect or base URL: servers and proxies
// commonly refuse request lines much beyond 8 KiB.
inline constexpr size_t url_max = 8192;
// The largest listing page read; a page of 100000 entries stays well within it.
inline constexpr uint64_t page_max = 16777216;
inline constexpr const char page_max_text[] = "16 MiB";
// Redirects followed by the library on the velkaron_http road; one more is refused.
inline constexpr int redirects_max = 5;
// A Range probe asks for one byte; of a server that ignores Range and sends
// the whole file, only this much is kept before the transfer is stopped.
inline constexpr uint64_t probe_keep = 64;
// How long the velkaron_http transport may take for one exchange.
inline constexpr uint32_t request_timeout_ms = 120000;

// Parser defaults (a zero in kldlp_opts means these).
inline constexpr uint64_t entries_max = 100000;
inline constexpr uint64_t href_max = 8192;
inline constexpr uint64_t name_max = 1024;

// Message buffers: 256 bytes, 512 where a URL is embedded; the published
// last error keeps 511 bytes.
inline constexpr size_t msg_size = 256;
inline constexpr size_t url_msg_size = 512;
inline constexpr size_t last_error_size = 512;

} // namespace klaspnet::limits
