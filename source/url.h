// The validated source root, URL predicates, paths, request URLs, redaction,
// Base64 and random identifiers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "source/buf.h"

// The parsed root: canonical URL (lower-case scheme and host, percent-encoded
// path, trailing "/"), and the percent-decoded credentials or null.
struct klaspnet_root {
    char *url;
    char *user; // null when the URL has no userinfo
    char *pass; // "" when the userinfo has no ":"; null when no userinfo
};

// 0, or -1 with the reason in msg (cut to msg_size - 1 bytes).
int klaspnet_root_parse(const char *url, klaspnet_root *root, char *msg, size_t msg_size);
// The same for a text of len bytes that may hold NUL bytes (a JSON string
// can): a NUL is a control character, not the end of the URL.
int klaspnet_root_parsen(const char *url, size_t len, klaspnet_root *root, char *msg, size_t msg_size);
// Frees the three texts (the password wiped first) and nulls them; null does nothing.
void klaspnet_root_free(klaspnet_root *root);

namespace klaspnet::detail {

// The scheme of a URL by the length of its name: "http://" or "https://"
// (letter case ignored), or none.
enum scheme_len : int { no_scheme = 0, scheme_http = 4, scheme_https = 5 };
scheme_len http_scheme(const char *url);
// Host (pointer into url, brackets kept) and port (default 80/443) of an http(s) URL; returns the port.
int hostport(const char *url, const char **host, size_t *host_len, int *port);

} // namespace klaspnet::detail

int klaspnet_url_is_http(const char *url);
int klaspnet_url_is_https(const char *url);
int klaspnet_same_origin(const char *a, const char *b);
int klaspnet_is_https_upgrade(const char *from, const char *to);

// Normal form of a path below the root ("" or "/seg/seg"); 0 or -1.
int klaspnet_path_norm(const char *path, klaspnet_buf *out);
// Root URL + percent-encoded segments (+ "/" for a folder); 0, or -1 when
// longer than 8192 bytes or out of memory.
int klaspnet_path_url(const char *root_url, const char *path, int folder, klaspnet_buf *out);
// URL without userinfo; query and fragment replaced by "?<redacted>"; at most size - 1 bytes.
void klaspnet_redact(const char *url, char *out, size_t size);
// Standard Base64 (RFC 4648) of a text's bytes; null when out of memory.
char *klaspnet_base64(const char *text);
// A random version-4 UUID text into out[37]; returns 36.
int klaspnet_guid(char *out);
