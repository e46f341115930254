// Generators of the largest listing page of each dialect under the 16 MiB
// page limit with at most 100000 entries, each page shaped as its server
// writes it. Shared by the parser benchmark, the parse-operation benchmark
// and the page writer that scripts/bench serves through nginx.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <utility>

namespace benchpages {

inline constexpr size_t k_limit = 16777216;
inline constexpr int k_max_entries = 100000;

// The i-th entry name, padded with letters to len bytes; every tenth entry
// is a folder and every name holds a space, so hrefs carry %20.
inline std::string entry_name(int i, size_t len)
{
    char head[32];
    snprintf(head, sizeof head, "Track %06d ", i);
    std::string n = head;
    while (n.size() + 4 < len) n += static_cast<char>('a' + (n.size() * 7 + static_cast<size_t>(i)) % 26);
    n += ".mp3";
    return n;
}

inline std::string href_of(const std::string &name)
{
    std::string h;
    for (char ch : name) {
        if (ch == ' ')
            h += "%20";
        else
            h += ch;
    }
    return h;
}

// The name of entry i, about len bytes long.
using namer = std::string (*)(int i, size_t len);

// A page: head, one row per entry (every tenth a folder, its name ending in
// "/"), tail.
template <class Row>
std::string page_of(std::string head, size_t name_len, int entries, Row row, const char *tail,
                    namer name_of = entry_name)
{
    std::string p = std::move(head);
    p.reserve(k_limit);
    for (int i = 0; i < entries; i++) {
        const bool dir = i % 10 == 0;
        row(p, i, name_of(i, name_len) + (dir ? "/" : ""), dir);
    }
    return p + tail;
}

// An nginx page whose entries are named by name_of.
inline std::string nginx_page_named(size_t name_len, int entries, namer name_of)
{
    auto row = [](std::string &p, int i, const std::string &name, bool dir) {
        std::string text = name.size() > 50 ? name.substr(0, 47) + "..&gt;" : name;
        const size_t shown = name.size() > 50 ? 50 : name.size();
        p += "<a href=\"" + href_of(name) + "\">" + text + "</a>" + std::string(50 - shown + 1, ' ') +
             "01-Jan-2024 12:00 ";
        std::string size = dir ? "-" : std::to_string(1000 + i * 37);
        p += std::string(19 - size.size(), ' ') + size + "\r\n";
    };
    return page_of("<html>\r\n<head><title>Index of /Music/</title></head>\r\n<body>\r\n<h1>Index of /Music/</h1><hr>"
                   "<pre><a href=\"../\">../</a>\r\n",
                   name_len, entries, row, "</pre><hr></body>\r\n</html>\r\n", name_of);
}

inline std::string nginx_page(size_t name_len, int entries) { return nginx_page_named(name_len, entries, entry_name); }

inline const std::string k_apache_head =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\n<html>\n <head>\n  <title>Index of "
    "/Music</title>\n </head>\n <body>\n<h1>Index of /Music</h1>\n";

inline std::string apache_text(const std::string &name)
{
    return name.size() > 23 ? name.substr(0, 20) + "..&gt;" : name;
}

// The icon of an entry and its link, cut and padded to the name column.
inline std::string apache_icon(bool dir)
{
    return std::string("<img src=\"/icons/") + (dir ? "folder.gif\" alt=\"[DIR]\"" : "sound2.gif\" alt=\"[SND]\"") +
           ">";
}

inline std::string apache_link(const std::string &name)
{
    return "<a href=\"" + href_of(name) + "\">" + apache_text(name) + "</a>" +
           std::string(name.size() > 23 ? 1 : 24 - name.size(), ' ');
}

inline std::string apache_size(int i, bool dir)
{
    if (dir) return "  - ";
    static const char *sizes[] = {"972 ", "1.0K", "9.8K", " 10K", "118M", "4.7G"};
    return sizes[i % 6];
}

inline std::string apache_table_page(size_t name_len, int entries)
{
    auto row = [](std::string &p, int i, const std::string &name, bool dir) {
        p += "<tr><td valign=\"top\">" + apache_icon(dir) + "</td><td>" + apache_link(name) +
             "</td><td align=\"right\">2024-01-01 12:00  </td><td align=\"right\">" + apache_size(i, dir) +
             "</td><td>&nbsp;</td></tr>\n";
    };
    return page_of(
        k_apache_head + "  <table>\n   <tr><th valign=\"top\"><img src=\"/icons/blank.gif\" alt=\"[ICO]\"></th><th><a "
                        "href=\"?C=N;O=D\">Name</a></th><th><a href=\"?C=M;O=A\">Last modified</a></th><th><a "
                        "href=\"?C=S;O=A\">Size</a></th><th><a href=\"?C=D;O=A\">Description</a></th></tr>\n   <tr><th "
                        "colspan=\"5\"><hr></th></tr>\n<tr><td valign=\"top\"><img src=\"/icons/back.gif\" "
                        "alt=\"[PARENTDIR]\"></td><td><a href=\"/\">Parent Directory</a></td><td>&nbsp;</td><td "
                        "align=\"right\">  - "
                        "</td><td>&nbsp;</td></tr>\n",
        name_len, entries, row,
        "   <tr><th colspan=\"5\"><hr></th></tr>\n</table>\n<address>Apache/2.4.62 (Debian) Server at 127.0.0.1 Port "
        "80</address>\n</body></html>\n");
}

inline std::string apache_pre_page(size_t name_len, int entries)
{
    auto row = [](std::string &p, int i, const std::string &name, bool dir) {
        p += apache_icon(dir) + " " + apache_link(name) + "2024-01-01 12:00  " + apache_size(i, dir) + "  \n";
    };
    return page_of(
        k_apache_head +
            "<pre><img src=\"/icons/blank.gif\" alt=\"Icon \"> <a href=\"?C=N;O=D\">Name</a>                    "
            "<a href=\"?C=M;O=A\">Last modified</a>      <a href=\"?C=S;O=A\">Size</a>  <a "
            "href=\"?C=D;O=A\">Description</a><hr><img src=\"/icons/back.gif\" alt=\"[PARENTDIR]\"> <a "
            "href=\"/\">Parent Directory</a>                             -   \n",
        name_len, entries, row,
        "<hr></pre>\n<address>Apache/2.4.62 (Debian) Server at 127.0.0.1 Port 80</address>\n</body></html>\n");
}

inline std::string aspnet_page(size_t name_len, int entries)
{
    auto row = [](std::string &p, int i, const std::string &name, bool dir) {
        p += std::string("    <tr class=\"") + (dir ? "directory" : "file") +
             "\">\r\n      <td class=\"name\"><a href=\"./" + name + "\">" + name + "</a></td>\r\n";
        if (dir) {
            p += "      <td></td>\r\n";
        } else {
            char size[32];
            const int v = 1000 + i * 37;
            snprintf(size, sizeof size, "%d,%03d", v / 1000, v % 1000);
            p += std::string("      <td class=\"length\">") + size + "</td>\r\n";
        }
        p += "      <td class=\"modified\">6/13/2019 2:09:05 PM &#x2B;00:00</td>\r\n    </tr>\r\n";
    };
    return page_of(
        "<!DOCTYPE html>\r\n<html lang=\"en-US\" xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n  "
        "<title>Index of /Music/</title>\r\n  <style>\r\n    body { font-size: 14px; }\r\n  </style>\r\n</head>\r\n"
        "<body>\r\n  <section id=\"main\">\r\n    <header><h1>Index of <a href=\"/\">/</a><a href=\"/Music/\">"
        "Music/</a></h1></header>\r\n    <table id=\"index\" summary=\"The list of files in the given directory.  "
        "Column headers are listed in the first row.\">\r\n    <thead>\r\n      <tr><th abbr=\"Name\">Name</th>"
        "<th abbr=\"Size\">Size</th><th abbr=\"Modified\">Last Modified</th></tr>\r\n    </thead>\r\n    <tbody>\r\n",
        name_len, entries, row, "    </tbody>\r\n    </table>\r\n  </section>\r\n</body>\r\n</html>");
}

using maker = std::string (*)(size_t, int);

// The largest n in [lo, hi] for which fits(n) holds (fits(lo) does).
template <class Fits> size_t largest_fitting(size_t lo, size_t hi, Fits fits)
{
    while (lo < hi) {
        const size_t mid = (lo + hi + 1) / 2;
        if (fits(mid))
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

// The largest page under the limit: 100000 entries with names as long as fit,
// or, where even short names make the page too long (table markup costs
// about 200 bytes a row), as many entries with 24-byte names as fit.
inline std::string largest(maker make, int *entries)
{
    constexpr size_t k_short = 24;
    if (make(k_short, k_max_entries).size() <= k_limit) {
        const size_t len =
            largest_fitting(k_short, 400, [&](size_t n) { return make(n, k_max_entries).size() <= k_limit; });
        *entries = k_max_entries;
        return make(len, k_max_entries);
    }
    *entries = static_cast<int>(largest_fitting(
        1, k_max_entries, [&](size_t n) { return make(k_short, static_cast<int>(n)).size() <= k_limit; }));
    return make(k_short, *entries);
}

// The same, made once per generator and kept: a benchmark that runs again
// (repetitions) does not search for the size again.
inline const std::string &largest_cached(maker make, int *entries)
{
    static std::map<maker, std::pair<std::string, int>> made;
    auto it = made.find(make);
    if (it == made.end()) {
        int n = 0;
        std::string page = largest(make, &n);
        it = made.emplace(make, std::make_pair(std::move(page), n)).first;
    }
    *entries = it->second.second;
    return it->second.first;
}

// The page URL every page is parsed against.
inline constexpr char k_url[] = "http://127.0.0.1/Music/";

// The four pages, under the names scripts/bench serves them by.
struct dialect {
    const char *name;
    maker make;
};

inline constexpr dialect k_dialects[] = {
    {"nginx_pre", nginx_page},
    {"apache_table", apache_table_page},
    {"apache_pre", apache_pre_page},
    {"aspnet_table", aspnet_page},
};

} // namespace benchpages
