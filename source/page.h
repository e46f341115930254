// One folder page fetched and parsed, the HTTP status mapping shared by the
// network operations, the page facts every listing result carries, and the
// steps every operation ends with.
#pragma once

#include <cstdint>

#include "common/limits.h"
#include "listing/kldlp.h"
#include "source/buf.h"
#include "source/fetch.h"
#include "source/json_writer.h"
#include "source/url.h"

struct klaspnet_page {
    klaspnet_resp resp;                           // release with klaspnet_resp_free; no body once parsed
    kldlp_result result;                          // release with kldlp_free
    char base_url[klaspnet::limits::url_max + 1]; // the folder the page really lists, ending in "/"
};

// The text form of a listing's date order: "ymd", "dmy", "mdy", "ambiguous" or "none".
const char *klaspnet_order_text(int32_t order);

// The folder URL a final URL lists: the final URL without query and fragment,
// up to and including the last "/" of its path ("/" appended when the path
// is empty). 0, or -1 when it has no authority or the result exceeds the URL
// limit.
int klaspnet_base_url(const char *final_url, char out[klaspnet::limits::url_max + 1]);

// Bounded printf into a message buffer; a longer message is cut (always NUL-terminated).
[[gnu::format(printf, 3, 4)]] void klaspnet_msgf(char *out, size_t size, const char *fmt, ...);

namespace klaspnet::detail {

// The connection of an operation: the transport, its extension, and the
// root's credentials, both to send and to mask in error texts.
klaspnet_conn conn_of(const velkaron_io *io, const klaspnet_root &root);

// Fetch, status check and parse of one folder page. 0, or a status code with
// a message (at most 511 characters, naming the redacted request URL) in msg.
// The caller releases page->resp and page->result whatever the result.
int get_page(const klaspnet_conn *conn, const char *url, int32_t date_order, klaspnet_page *page,
             char msg[limits::url_msg_size]);

// Why the parser refused a listing: "more than 100000 entries", "page too
// large", "out of memory", or "bad page URL" for any other code. buf holds
// at least 64 bytes.
const char *refusal_reason(int rc, char *buf, size_t size);

// HTTP status -> status code: 2xx 0; 401/403/407 -1; 404/410 -2; 429 -3;
// 408 and >= 500 -4; anything else -5.
int map_status(int status);

// Writes the keys "dialect", "variant" and "date_order" of a listing.
void add_listing_kind(json_writer &w, const kldlp_result &r);
// Writes the keys "count", "rejected" and "skipped" of a listing.
void add_listing_counts(json_writer &w, const kldlp_result &r);

// Writes the keys "dialect", "variant", "date_order", "date_hinted",
// "final_url", "redirects", "transport", "count", "rejected", "skipped" and,
// when the page has an index title, "index_of" into the object being written.
void add_page_meta(json_writer &w, const klaspnet_page *page, int has_http);

// Writes the items array of a list result, one object per entry in page
// order: "name", "path" (the folder path + "/" + name), "folder", "size",
// "mtime_ms", "url" (base URL + encoded name, "/" for a folder). folder is
// where the folder path stands, escaped, in the text already written. The
// entries' names are released as the items are written (only the last one
// stays readable): the page is done with afterwards. False when an entry has
// no name.
bool write_items(json_writer &w, klaspnet_page *page, json_span folder);

// A page record of an operation. It lives on the heap (its base URL alone
// takes 8 KiB of the host's stack otherwise) and is released with its
// response and listing.
struct page_slot {
    klaspnet_page *page = nullptr;
    bool allocate();
    void release();
    ~page_slot() { release(); }
};

} // namespace klaspnet::detail
