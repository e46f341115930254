// Listings as the tool reads and prints them: the page facts and items of
// a list or parse result read with the pull reader, a compact store of a
// folder's entries (for sorting, sizes asked later and recursion), the
// choice and order of what is shown, the table and the summary line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cli.h"

namespace klaspnet::tool {

// The page facts of a published list or parse result.
struct listing_facts {
    std::string folder;  // the folder's path below the root URL ("" or "/Music/Rock"); list only
    std::string dialect; // "nginx", "apache", "aspnet", "unknown"
    std::string variant; // "pre", "table", "list", "none"
    std::string date_order;
    bool date_hinted = false;
    std::string final_url;
    int64_t redirects = 0; // -1: not visible (plain road)
    int64_t count = 0;
    int64_t rejected = 0;
    int64_t skipped = 0;
    std::string index_of;
};

// One item while a result is read; the texts are valid during the call.
struct item_view {
    const std::string &name;
    bool folder;
    int64_t size;     // -1: the page gives no exact size
    int64_t mtime_ms; // -1: no usable date
    const std::string &url;
};

struct item_sink {
    virtual ~item_sink() = default;
    // false stops the reading
    virtual bool item(const item_view &it) = 0;
};

// A sink for a reading that wants the facts only.
struct no_items : item_sink {
    bool item(const item_view &) override { return true; }
};

// Reads a list or parse result, or a list answer ({"items":[...]}): the
// facts (when facts is not null) and each item in page order. Where the
// items array stands in the text goes to items_at (when not null). False
// when the text does not have that shape or the sink stopped.
bool read_listing(std::string_view text, listing_facts *facts, item_sink &sink, bool want_urls,
                  std::string_view *items_at = nullptr);

// The message and code of an error result {"error":...,"code":...}.
bool read_error(std::string_view text, std::string &message, int32_t &code);

// ---- a folder's entries, kept ------------------------------------------------------

enum class size_from : uint8_t { page, probe };

struct entry {
    uint32_t name_at, name_len;
    uint32_t url_at, url_len;
    int64_t size;
    int64_t mtime_ms;
    bool folder;
    size_from from;
};

class folder_entries : public item_sink {
public:
    explicit folder_entries(bool keep_urls = false) : keep_urls_(keep_urls) {}
    bool item(const item_view &it) override;
    std::string_view name(const entry &e) const { return {text_.data() + e.name_at, e.name_len}; }
    std::string_view url(const entry &e) const { return {text_.data() + e.url_at, e.url_len}; }
    std::vector<entry> list;
    void release()
    {
        std::vector<entry>().swap(list);
        std::string().swap(text_);
    }

private:
    bool keep_urls_;
    std::string text_; // names and URLs, one after the other
};

// ---- what is shown, in which order ------------------------------------------------------

struct view_rules {
    sort_key sort = sort_key::page;
    bool reverse = false;
    bool dirs_first = false;
    std::vector<const char *> include, exclude;

    explicit view_rules(const options &o)
        : sort(o.sort), reverse(o.reverse), dirs_first(o.dirs_first), include(o.include), exclude(o.exclude)
    {}
    // A name --exclude hides (a hidden folder is not descended into).
    bool hidden(std::string_view name) const;
    // A name that is shown: not hidden and, with --include, matching one.
    bool shows(std::string_view name) const;
    // The positions of the entries in the order they are printed (all of
    // them; the caller asks shows() for each).
    std::vector<uint32_t> order(const folder_entries &f) const;
};

// ---- the table ---------------------------------------------------------------------------

struct table_style {
    bool urls = false;
    bool utc = false;          // the page's times are UTC (ASP.NET Core states its offset)
    bool convert_zone = false; // --server-tz: page times are the server's local time
};

// One line of the table, built into line; path_prefix is the folder's path
// below the one listed ("Music/Rock/"), empty without -R.
void table_header(const table_style &style, std::string &line);
void table_row(const table_style &style, std::string_view path_prefix, std::string_view name, bool folder, int64_t size,
               int64_t mtime_ms, bool asked, std::string_view url, std::string &line);

// "nginx listing (pre)", "Apache listing (table)", "ASP.NET Core listing (table)".
std::string listing_kind(const listing_facts &f);
// The summary of one listing: "nginx listing (pre), 6 entries, 1 link
// skipped", with date order and redirects when they are worth a word.
std::string listing_summary(const listing_facts &f);

} // namespace klaspnet::tool
