// Pieces shared by the listing parser's passes; not used outside listing/.
#pragma once

#include <cstddef>
#include <cstdint>

#include "listing/kldlp.h"

// ---- entry table -------------------------------------------------------

// Effective limits of one parse (options merged with defaults).
struct kldlp_limits {
    uint64_t max_page;
    uint64_t max_entries;
    uint64_t max_href;
    uint64_t max_name;
    int32_t date_order; // hint
};

// Parse context: one per kldlp_parse call.
struct kldlp_ctx {
    const kldlp_limits *lim;
    const char *page_url;
    kldlp_result *res;
    char **dates;      // raw date text of entry i, or null; same capacity as items
    uint64_t *index;   // name index: 0 empty, else entry index + 1
    uint64_t slots;    // power of two
};

int name_ok(const char *s, size_t len);
// Takes ownership of name and date (both heap or null). 0, -3 or -4.
int add_entry(kldlp_ctx *c, char *name, int folder, int64_t size, char *date);
// Release everything the context owns besides the result (dates, index).
void ctx_release(kldlp_ctx *c);

// ---- HTML scanning -----------------------------------------------------

enum : int32_t { TOK_EOF = 0, TOK_TEXT = 1, TOK_OPEN = 2, TOK_CLOSE = 3 };

struct html_scan {
    const char *pos;
    const char *end;
};

struct html_tok {
    int32_t kind;
    const char *text;
    size_t len;
    const char *attrs;
    size_t attrs_len;
};

void next_tok(html_scan *s, html_tok *t);
int get_attr(const char *attrs, size_t attrs_len, const char *name, const char **val, size_t *val_len);
int has_class(const char *attrs, size_t attrs_len, const char *cls);
int ci_eqn(const char *s, size_t len, const char *text);
int ci_prefix(const char *s, size_t len, const char *text);
void trim(const char **s, size_t *len);
inline bool is_html_space(unsigned char c) { return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20; }

struct sbuf {
    char *data;
    size_t len;
    size_t cap;
};
[[nodiscard]] int sb_add(sbuf *b, const char *s, size_t n);
void sb_free(sbuf *b);

char *pct_decode_n(const char *s, size_t len, size_t *out_len);

// ---- sizes and dates ---------------------------------------------------

struct date_shape_t {
    int32_t nums[8];
    int32_t ndig[8];
    int32_t n;
    int32_t month;
    int32_t ampm;
    int32_t tz;
    int32_t tz_min;
    int32_t sep;
    int32_t ok;
};

void date_shape(const char *s, size_t len, date_shape_t *out);
int64_t date_from_shape(const date_shape_t *sh, int32_t order);
// Decide the page-wide date order from the entries' date texts (c->dates) and
// the hint; set date_order, date_hinted and every entry's mtime_ms.
void decide_dates(kldlp_ctx *c);

// ---- link resolution ---------------------------------------------------

struct url_part {
    const char *p;
    size_t len;
    int present;
};
struct url_parts {
    url_part scheme, authority, path, query, fragment;
};
void uparse(const char *ref, url_parts *out);

// One raw link with its raw size and date texts (page bytes, references not
// yet decoded; size/date may be null). 0, -3 or -4.
int add_href(kldlp_ctx *c, const char *href, size_t href_len, const char *size, size_t size_len,
             const char *date, size_t date_len);

// ---- passes ------------------------------------------------------------

int parse_pre(kldlp_ctx *c, const char *page, size_t len, int nginx_mode, int *pre_seen);
int aspnet_table_pass(kldlp_ctx *c, const char *page, size_t len);
int generic_table_pass(kldlp_ctx *c, const char *page, size_t len, int *recognised);
int list_pass(kldlp_ctx *c, const char *page, size_t len);
