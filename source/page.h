// One folder page fetched and parsed, the HTTP status mapping shared by the
// network operations, and the page facts every listing result carries.
#pragma once

#include <cstdint>

#include <yyjson.h>

#include "listing/kldlp.h"
#include "source/buf.h"
#include "source/fetch.h"

// Listing pages larger than this are refused: the parser's own page limit.
constexpr uint64_t k_page_limit = 16777216;

// The longest base URL (and request URL) the library handles.
constexpr size_t k_url_max = 8192;

struct klaspnet_page {
    klaspnet_resp resp;  // release with klaspnet_resp_free
    kldlp_result result; // release with kldlp_free
    char base_url[8193]; // the folder the page really lists, ending in "/"
};

// Fetch, status check and parse of one folder page. 0, or a status code with
// a message (at most 511 characters, naming the redacted request URL) in msg.
// The caller releases page->resp and page->result whatever the result.
int get_page(const klaspnet_conn *conn, const char *url, int32_t date_order, klaspnet_page *page, char msg[512]);

// HTTP status -> status code: 2xx 0; 401/403/407 -1; 404/410 -2; 429 -3;
// 408 and >= 500 -4; anything else -5.
int map_status(int status);
// The text form of a listing's date order: "ymd", "dmy", "mdy", "ambiguous" or "none".
const char *klaspnet_order_text(int32_t order);

// Adds "dialect", "variant", "date_order", "date_hinted", "final_url",
// "redirects", "transport", "count", "rejected", "skipped" and, when the page
// has an index title, "index_of" to obj (when it is an object).
void add_page_meta(yyjson_mut_doc *doc, yyjson_mut_val *obj, const klaspnet_page *page, int has_http);

// The folder URL a final URL lists: the final URL without query and fragment,
// up to and including the last "/" of its path ("/" appended when the path
// is empty). 0, or -1 when it has no authority or the result exceeds 8192 bytes.
int klaspnet_base_url(const char *final_url, char out[8193]);

// Bounded printf into a message buffer; a longer message is cut (always NUL-terminated).
[[gnu::format(printf, 3, 4)]] void klaspnet_msgf(char *out, size_t size, const char *fmt, ...);

// Appends a name with every byte except A-Z, a-z, 0-9, "-", ".", "_" and "~"
// written as %XX (upper-case hex). 0, or -1 when memory runs out.
[[nodiscard]] int klaspnet_buf_add_pct(klaspnet_buf *b, const char *name);

// The items array of a list result, one object per entry in page order:
// "name", "path" (folder_path + "/" + name), "folder", "size", "mtime_ms",
// "url" (base URL + encoded name, "/" for a folder). Null on any failure.
yyjson_mut_val *items_json(yyjson_mut_doc *doc, const klaspnet_page *page, const char *folder_path);
