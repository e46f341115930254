// Generators of hostile listing pages, shared by the unit tests and the
// benchmark: pages built to make a scanner or a table go quadratic, to
// exhaust the entry table, or to carry absurdly long names and links.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace hostile {

constexpr size_t k_mib = 1 << 20;

// An nginx autoindex head: the markers that make the page a listing, so that
// the hostile part runs through the extraction passes.
inline std::string nginx_head()
{
    return "<html>\r\n<head><title>Index of /m/</title></head>\r\n<body>\r\n"
           "<h1>Index of /m/</h1><hr><pre><a href=\"../\">../</a>\r\n";
}

// head, then unit repeated until the page reaches total bytes (the last copy
// cut), then tail when it still fits.
inline std::string fill(std::string head, const std::string &unit, size_t total, const std::string &tail = "")
{
    std::string p = std::move(head);
    p.reserve(total);
    size_t body_end = total > tail.size() ? total - tail.size() : 0;
    while (p.size() + unit.size() <= body_end) p += unit;
    if (p.size() < body_end) p.append(unit, 0, body_end - p.size());
    if (p.size() + tail.size() <= total) p += tail;
    return p;
}

// Nothing but "<": no tag, no marker.
inline std::string lt_only(size_t total) { return std::string(total, '<'); }

// A listing head followed by "<" to the end.
inline std::string lt_listing(size_t total) { return fill(nginx_head(), "<", total); }

// A link whose quotes keep opening inside each other and never all close,
// with more tags inside the quoted runs: one start tag runs to the end.
inline std::string nested_quotes(size_t total)
{
    return fill(nginx_head() + "<a href=\"x", "'<a title=\"<b class='", total);
}

// Comment openers that are never closed, after a listing head.
inline std::string open_comments(size_t total) { return fill(nginx_head(), "<!--<!-- -- >", total); }

// Many closed comments, each hiding a fake entry line.
inline std::string closed_comments(size_t total)
{
    return fill(nginx_head(), "<!-- <a href=\"fake\">fake</a> 01-Jan-2024 00:00 1 -->\r\n", total,
                "</pre><hr></body>\r\n</html>\r\n");
}

inline std::string entry_line(const std::string &name)
{
    return "<a href=\"" + name + "\">" + name + "</a>                 01-Jan-2024 10:00              4096\r\n";
}

// n distinct entries f0000000, f0000001, ...
inline std::string distinct_entries(size_t n)
{
    std::string p = nginx_head();
    p.reserve(n * 90 + 256);
    char name[32];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, "f%07zu", i);
        p += entry_line(name);
    }
    return p + "</pre><hr></body>\r\n</html>\r\n";
}

// The same entry n times.
inline std::string duplicate_entries(size_t n)
{
    std::string p = nginx_head();
    const std::string line = entry_line("same.mp3");
    p.reserve(n * line.size() + 256);
    for (size_t i = 0; i < n; ++i) p += line;
    return p + "</pre><hr></body>\r\n</html>\r\n";
}

// An Apache table (sort-link header) whose rows hold `cells` cells each: the
// name, date and size first, then filler cells. Rows are added until the
// page would pass total bytes.
inline std::string wide_rows(size_t cells, size_t total, size_t *rows_out = nullptr)
{
    std::string p = "<html><head><title>Index of /m/</title></head><body><h1>Index of /m/</h1><table>"
                    "<tr><th><a href=\"?C=N;O=D\">Name</a></th><th><a href=\"?C=M;O=A\">Last modified</a></th>"
                    "<th><a href=\"?C=S;O=A\">Size</a></th></tr>\n";
    std::string filler;
    for (size_t i = 3; i < cells; ++i) filler += "<td>x</td>";
    const std::string tail = "</table><address>Apache/2.4.62 (Debian) Server at h Port 80</address></body></html>\n";
    size_t rows = 0;
    char name[32];
    for (;;) {
        std::snprintf(name, sizeof name, "r%06zu.bin", rows);
        std::string row = std::string("<tr><td><a href=\"") + name + "\">" + name +
                          "</a></td><td>2024-01-01 10:00</td><td>123</td>" + filler + "</tr>\n";
        if (p.size() + row.size() + tail.size() > total) break;
        p += row;
        ++rows;
    }
    if (rows_out) *rows_out = rows;
    return p + tail;
}

// One nginx link whose href (and text) is a name of `len` bytes.
inline std::string long_name_nginx(size_t len)
{
    std::string n(len, 'n');
    return nginx_head() + entry_line(n) + entry_line("short.txt") + "</pre><hr></body>\r\n</html>\r\n";
}

// One ASP.NET row whose name cell holds `len` bytes of link text.
inline std::string long_name_aspnet(size_t len)
{
    std::string n(len, 'n');
    return "<!DOCTYPE html><html><head><title>Index of /m/</title></head><body><section id=\"main\">"
           "<h1>Index of /m/</h1><table id=\"index\"><tbody>"
           "<tr class=\"file\"><td class=\"name\"><a href=\"./" +
           n + "\">" + n +
           "</a></td><td class=\"length\">1</td><td class=\"modified\">1/1/2024 10:00:00 AM +00:00</td></tr>"
           "<tr class=\"file\"><td class=\"name\"><a href=\"./short.txt\">short.txt</a></td>"
           "<td class=\"length\">2</td><td class=\"modified\">1/1/2024 10:00:00 AM +00:00</td></tr>"
           "</tbody></table></section></body></html>";
}

// Links climbing `depth` folders up before naming x; `links` of them.
inline std::string dot_dot_chain(size_t depth, size_t links)
{
    std::string href;
    href.reserve(depth * 3 + 1);
    for (size_t i = 0; i < depth; ++i) href += "../";
    href += "x";
    std::string p = nginx_head();
    for (size_t i = 0; i < links; ++i) p += entry_line(href);
    return p + entry_line("real.txt") + "</pre><hr></body>\r\n</html>\r\n";
}

} // namespace hostile
