// Listing parser: turns one HTML directory-listing page (ASP.NET Core directory
// browsing, nginx autoindex, Apache mod_autoindex, lighttpd mod_dirlisting,
// Caddy file_server browse, Python http.server, IIS directory browsing) and the
// URL it came from into a table of entries. No global state: reentrant, several threads may parse
// different pages at once.
#pragma once

#include <cstddef>
#include <cstdint>

// Dialects
constexpr int32_t KLDLP_DIALECT_UNKNOWN = 0;
constexpr int32_t KLDLP_DIALECT_ASPNET = 1;
constexpr int32_t KLDLP_DIALECT_NGINX = 2;
constexpr int32_t KLDLP_DIALECT_APACHE = 3;
constexpr int32_t KLDLP_DIALECT_LIGHTTPD = 4;
constexpr int32_t KLDLP_DIALECT_CADDY = 5;
constexpr int32_t KLDLP_DIALECT_PYTHON = 6;
constexpr int32_t KLDLP_DIALECT_IIS = 7;

// Layout variants
constexpr int32_t KLDLP_VARIANT_NONE = 0;
constexpr int32_t KLDLP_VARIANT_TABLE = 1;
constexpr int32_t KLDLP_VARIANT_PRE = 2;
constexpr int32_t KLDLP_VARIANT_LIST = 3;

// Date orders (how day/month numeric dates were read)
constexpr int32_t KLDLP_ORDER_NONE = 0;
constexpr int32_t KLDLP_ORDER_YMD = 1;
constexpr int32_t KLDLP_ORDER_DMY = 2;
constexpr int32_t KLDLP_ORDER_MDY = 3;
constexpr int32_t KLDLP_ORDER_AMBIGUOUS = 4;

// Status codes of kldlp_parse
constexpr int KLDLP_OK = 0;
constexpr int KLDLP_E_NOT_LISTING = -1;
constexpr int KLDLP_E_TOO_LARGE = -2;
constexpr int KLDLP_E_TOO_MANY = -3;
constexpr int KLDLP_E_NOMEM = -4;
constexpr int KLDLP_E_ARG = -5;

struct kldlp_entry {
    char *name;       // NUL-terminated, valid UTF-8, never empty/"."/".."; no control byte, DEL or "/";
                      // owned by the result (its name storage) and valid until kldlp_free
    int32_t folder;   // 1 folder, 0 file
    int64_t size;     // bytes; -1 unknown, always -1 for a folder
    int64_t mtime_ms; // ms since 1970-01-01 UTC; -1 unknown
};

// Texts kept in blocks that are released together (internal to the
// parser): the first block is the oldest, texts are added to the last.
struct kldlp_store {
    void *first;
    void *last;
    size_t first_cap; // capacity of the first block; 0: 1 KiB
};

struct kldlp_result {
    int32_t dialect;
    int32_t variant;
    kldlp_entry *items;
    uint64_t count;
    uint64_t rejected;
    uint64_t skipped;
    int32_t date_order;
    int32_t date_hinted;
    char *index_of; // heap: the folder path the page title names ("Index of /x/"), or null
    uint64_t capacity;
    kldlp_store names; // internal: the blocks that hold the entries' names, in entry order
};

struct kldlp_opts {
    uint64_t max_page;    // 0: 16 MiB
    uint64_t max_entries; // 0: 100000
    uint64_t max_href;    // 0: 8192
    uint64_t max_name;    // 0: 1024
    int32_t date_order;   // hint: only KLDLP_ORDER_DMY / KLDLP_ORDER_MDY have an effect
};

// Parse a page (need not be NUL-terminated) fetched from page_url (absolute
// http(s) URL). opts may be null. The result must be released with kldlp_free
// in every case.
int kldlp_parse(const char *page, size_t len, const char *page_url, const kldlp_opts *opts, kldlp_result *res);
void kldlp_free(kldlp_result *res);
// Releases what the entries before entry i hold, for a reader that has done
// with them (the writer of a large listing, which goes through the entries
// in order): the blocks that hold only their names are freed, and the whole
// pages of 2 MiB that their records fill go back to the system. Neither may
// be read again; entry i and those after it stay as they are.
void kldlp_release_before(kldlp_result *res, uint64_t i);
const char *kldlp_dialect_name(int32_t dialect);
const char *kldlp_variant_name(int32_t variant);

// 1 when the len bytes are well-formed UTF-8 (NUL bytes allowed), else 0.
int kldlp_utf8_valid(const char *s, size_t len);

// Character references decoded into a new heap text; *bad (when not null) is
// set to 1 when a reference had to be replaced by U+FFFD. Null on null input
// or out of memory.
char *kldlp_html_decode(const char *s, size_t len, int *bad);
// Percent escapes decoded into a new heap text; null on null input or out of memory.
char *kldlp_pct_decode(const char *s, size_t len);

// Exact byte count (one consistent thousands separator), or -1.
int64_t kldlp_parse_size(const char *s, size_t len);
// Milliseconds since the epoch, or -1; order decides day/month numeric dates.
int64_t kldlp_parse_date(const char *s, size_t len, int32_t order);

// RFC 3986 section 5.2 reference resolution (strict). 0 with the absolute URL
// in dst, or -1 with dst holding "" (when it has room).
int kldlp_resolve(const char *base, const char *ref, char *dst, size_t dst_size);
// 1 with a heap name and the folder flag when link (absolute) names a direct
// child of page_url's folder; 0 when not; -1 when it does but its last segment
// is not a usable name.
int kldlp_child_name(const char *page_url, const char *link, char **name, int *folder);
