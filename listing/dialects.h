// What the detection walk learns about a page, and the passes of the servers
// recognised after the first three dialects (lighttpd, Caddy, Python
// http.server, IIS): for listing/ alone.
#pragma once

#include <cstddef>

#include "listing/collect.h"
#include "listing/internal.h"

namespace kldlp::detail {

// Marks collected by the detection walk; each is only ever set.
struct markers {
    bool row_class;       // <tr class="file|directory">: ASP.NET Core (and Caddy)
    bool table_index;     // <table id="index">: ASP.NET Core
    bool section_main;    // <section id="main">: ASP.NET Core
    bool sort_link;       // <a href="?C=..."> or <a href="?N=D">: Apache column sorting
    bool icon;            // Apache's icon alt texts
    bool parent_link;     // <li><a> Parent Directory</a>: Apache plain list
    bool server_address;  // <address>Apache/2.4 ...: Apache signature
    bool index_heading;   // <h1>Index of ...
    bool pre;             // any <pre>
    bool link_in_cell;    // a link inside a <td>
    bool link_in_item;    // a link inside an <li>
    bool any_row;         // not a marker: some <tr> exists, so a table pass can find something
    bool caddy_sort;      // <a href="?sort=name&order=asc">: Caddy's browse template
    bool dirlist_heading; // <h1>Directory listing for ...: Python http.server
    bool host_heading;    // <h1>HOST - /path/: IIS directory browsing
    const char *pre_at;   // the page right after the first <pre> tag
};

// The title of IIS directory browsing: "HOST - /path/". The offset of the
// path within the text, or 0 when the text has another form.
size_t host_title_path(const char *s, size_t n);

// For a page that the three original dialects refuse: a walk for the marks of
// the other servers, then the pass of the one recognised. -1 when none is.
int late_dispatch(kldlp_ctx *c, const char *page, size_t len, const markers &m, const ctext &title);

// Apache's pre header line names its columns when it carries no sort links
// ("Name  Last modified  Size  Description"). True when the text at the
// start of the pre (page from pre_at) is such a line.
bool apache_pre_header(const char *pre_at, const char *end);

// Whether some row of class file or directory has a cell of class name, as
// every row of an ASP.NET Core listing has.
bool aspnet_name_cell(const char *page, size_t len);

int caddy_pass(kldlp_ctx *c, const char *page, size_t len);
int iis_pass(kldlp_ctx *c, const char *page, size_t len);

} // namespace kldlp::detail
