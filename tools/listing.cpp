#include "tools/listing.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstdio>

#include "tools/json_pull.h"
#include "tools/show.h"

namespace klaspnet::tool {

namespace {

// Reads one item object; false on malformed text.
bool read_item(json_pull &r, std::string &name, std::string &url, bool want_url, bool &folder, int64_t &size,
               int64_t &mtime)
{
    name.clear();
    url.clear();
    folder = false;
    size = mtime = -1;
    if (!r.object()) return false;
    std::string_view k;
    while (r.key(k)) {
        bool ok;
        if (k == "name")
            ok = r.string(name);
        else if (k == "folder")
            ok = r.boolean(folder);
        else if (k == "size")
            ok = r.integer(size);
        else if (k == "mtime_ms")
            ok = r.integer(mtime);
        else if (k == "url" && want_url)
            ok = r.string(url);
        else
            ok = r.skip();
        if (!ok) return false;
    }
    return !r.failed();
}

bool read_text(json_pull &r, std::string *out)
{
    std::string scratch;
    return r.string(out ? *out : scratch);
}

} // namespace

bool read_listing(std::string_view text, listing_facts *facts, item_sink &sink, bool want_urls,
                  std::string_view *items_at)
{
    json_pull r(text);
    if (!r.object()) return false;
    listing_facts scratch;
    listing_facts &f = facts ? *facts : scratch;
    std::string name, url;
    std::string_view k;
    while (r.key(k)) {
        bool ok = true;
        if (k == "items") {
            const char *begin = r.here();
            if (!r.array()) return false;
            while (ok && r.element()) {
                bool folder;
                int64_t size, mtime;
                ok = read_item(r, name, url, want_urls, folder, size, mtime) &&
                     sink.item(item_view{name, folder, size, mtime, url});
            }
            if (items_at) *items_at = std::string_view(begin, static_cast<size_t>(r.here() - begin));
        } else if (k == "folder") {
            ok = read_text(r, &f.folder);
        } else if (k == "dialect") {
            ok = read_text(r, &f.dialect);
        } else if (k == "variant") {
            ok = read_text(r, &f.variant);
        } else if (k == "date_order") {
            ok = read_text(r, &f.date_order);
        } else if (k == "date_hinted") {
            ok = r.boolean(f.date_hinted);
        } else if (k == "final_url") {
            ok = read_text(r, &f.final_url);
        } else if (k == "index_of") {
            ok = read_text(r, &f.index_of);
        } else if (k == "redirects") {
            ok = r.integer(f.redirects);
        } else if (k == "count") {
            ok = r.integer(f.count);
        } else if (k == "rejected") {
            ok = r.integer(f.rejected);
        } else if (k == "skipped") {
            ok = r.integer(f.skipped);
        } else {
            ok = r.skip();
        }
        if (!ok) return false;
    }
    return !r.failed();
}

bool read_error(std::string_view text, std::string &message, int32_t &code)
{
    json_pull r(text);
    if (!r.object()) return false;
    std::string_view k;
    int64_t c = 0;
    bool got = false;
    while (r.key(k)) {
        if (k == "error")
            got = r.string(message);
        else if (k == "code")
            r.integer(c);
        else
            r.skip();
    }
    code = static_cast<int32_t>(c);
    return got && !r.failed();
}

bool folder_entries::item(const item_view &it)
{
    entry e{};
    e.name_at = static_cast<uint32_t>(text_.size());
    e.name_len = static_cast<uint32_t>(it.name.size());
    text_ += it.name;
    if (keep_urls_) {
        e.url_at = static_cast<uint32_t>(text_.size());
        e.url_len = static_cast<uint32_t>(it.url.size());
        text_ += it.url;
    }
    e.size = it.size;
    e.mtime_ms = it.mtime_ms;
    e.folder = it.folder;
    e.from = size_from::page;
    list.push_back(e);
    return true;
}

namespace {

bool matches_any(const std::vector<const char *> &globs, std::string_view name)
{
    if (globs.empty()) return false;
    const std::string n(name);
    for (const char *g : globs)
        if (fnmatch(g, n.c_str(), 0) == 0) return true;
    return false;
}

} // namespace

bool view_rules::hidden(std::string_view name) const { return matches_any(exclude, name); }

bool view_rules::shows(std::string_view name) const
{
    return !hidden(name) && (include.empty() || matches_any(include, name));
}

std::vector<uint32_t> view_rules::order(const folder_entries &f) const
{
    std::vector<uint32_t> idx(f.list.size());
    for (uint32_t i = 0; i < idx.size(); i++) idx[i] = i;
    if (sort == sort_key::page && !dirs_first) return idx;
    // Byte order of the UTF-8 names is the order of their code points.
    auto by_key = [&](uint32_t a, uint32_t b) {
        const entry &x = f.list[a], &y = f.list[b];
        switch (sort) {
        case sort_key::size:
            if (x.size != y.size) return x.size < y.size;
            break;
        case sort_key::time:
            if (x.mtime_ms != y.mtime_ms) return x.mtime_ms < y.mtime_ms;
            break;
        case sort_key::page: return a < b;
        case sort_key::name: break;
        }
        const int c = f.name(x).compare(f.name(y));
        return c != 0 ? c < 0 : a < b;
    };
    std::stable_sort(idx.begin(), idx.end(), [&](uint32_t a, uint32_t b) {
        const entry &x = f.list[a], &y = f.list[b];
        if (dirs_first && x.folder != y.folder) return x.folder;
        return reverse ? by_key(b, a) : by_key(a, b);
    });
    return idx;
}

namespace {

// The column formats: TYPE left in 4, SIZE right in 15 and its mark,
// HUMAN right in 10, MODIFIED left in 20, then the name.
constexpr size_t k_size_width = 15, k_human_width = 10, k_time_width = 20;

void pad_left(std::string &line, size_t width, const char *s, size_t n)
{
    if (n < width) line.append(width - n, ' ');
    line.append(s, n);
}

void pad_right(std::string &line, size_t width, const char *s, size_t n)
{
    line.append(s, n);
    if (n < width) line.append(width - n, ' ');
}

} // namespace

void table_header(const table_style &style, std::string &line)
{
    line = "TYPE ";
    pad_left(line, k_size_width, "SIZE", 4);
    line += "  ";
    pad_left(line, k_human_width, "HUMAN", 5);
    line += "  ";
    pad_right(line, k_time_width, "MODIFIED", 8);
    line += "  NAME";
    if (style.urls) line += "  URL";
    line += '\n';
}

void table_row(const table_style &style, std::string_view path_prefix, std::string_view name, bool folder, int64_t size,
               int64_t mtime_ms, bool asked, std::string_view url, std::string &line)
{
    char buf[k_short_text];
    line.assign(folder ? "dir  " : "file ");
    size_t n;
    if (size >= 0) {
        char *o = buf + sizeof buf;
        uint64_t v = static_cast<uint64_t>(size);
        do *--o = static_cast<char>('0' + v % 10);
        while (v /= 10);
        n = static_cast<size_t>(buf + sizeof buf - o);
        pad_left(line, k_size_width, o, n);
    } else {
        pad_left(line, k_size_width, "-", 1);
    }
    line += asked ? '*' : ' ';
    line += ' ';
    n = put_human_size(buf, size);
    pad_left(line, k_human_width, buf, n);
    line += "  ";
    if (style.convert_zone) mtime_ms = server_time_to_utc(mtime_ms);
    n = put_time(buf, mtime_ms, style.utc || style.convert_zone);
    pad_right(line, k_time_width, buf, n);
    line += "  ";
    if (path_prefix.empty() && !folder) {
        append_name(line, name);
    } else {
        std::string path;
        path.reserve(path_prefix.size() + name.size() + 1);
        path.append(path_prefix).append(name);
        if (folder) path += '/';
        append_name(line, path);
    }
    if (style.urls) {
        line += "  ";
        append_shown(line, url);
    }
    line += '\n';
}

std::string listing_kind(const listing_facts &f)
{
    const std::string &d = f.dialect;
    std::string kind = d == "aspnet" ? "ASP.NET Core" : d == "apache" ? "Apache" : d == "nginx" ? "nginx" : "";
    if (kind.empty()) return "listing";
    kind += " listing";
    if (!f.variant.empty() && f.variant != "none") kind += " (" + f.variant + ")";
    return kind;
}

std::string listing_summary(const listing_facts &f)
{
    std::string s = listing_kind(f) + ", " + count_of(f.count, "entry", "entries");
    if (f.rejected > 0) s += ", " + count_of(f.rejected, "entry", "entries") + " refused (bad or repeated names)";
    if (f.skipped > 0) s += ", " + count_of(f.skipped, "link", "links") + " skipped";
    const char *how = f.date_order == "dmy" ? "day/month/year" : f.date_order == "mdy" ? "month/day/year" : nullptr;
    if (how) s += std::string(", dates read as ") + how + (f.date_hinted ? " (--date-order)" : "");
    if (f.date_order == "ambiguous") s += ", dates ambiguous (use --date-order dmy or mdy)";
    if (f.redirects > 0)
        s += ", redirected to " + shown(f.final_url) + " (" + count_of(f.redirects, "redirect", "redirects") + ")";
    return s;
}

} // namespace klaspnet::tool
