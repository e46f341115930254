// Caddy's file_server browse page (the v2 template). Every entry row, file or
// folder, has the class "file"; the size and the time are given exactly in
// attributes, for people in the text beside them:
//
//   <tr class="file"><td></td>
//    <td><a href="./So%20What.mp3"><svg>...</svg><span class="name">So What.mp3</span></a></td>
//    <td data-order="5000">4.9 KiB</td>
//    <td class="hideable"><time datetime=" 2023-03-04T12:34:56Z">03/04/2023 12:34:56 PM +00:00</time></td>
//    <td class="hideable"></td></tr>
//
// A folder's href ends in "/" and its data-order is -1; the "Go up" row links
// "..". The header row's cells are <th> with sort links. The entry comes from
// the row's first link, its exact size from data-order (data-size in the
// grid layout of later templates), its time from the datetime attribute.
#include "listing/dialects.h"

namespace kldlp::detail {

namespace {

struct caddy_row {
    std::string_view href, size, date;
    bool link, sized, dated, header;
};

int caddy_finish(kldlp_ctx *c, const caddy_row &row)
{
    if (row.header || !row.link) return 0;
    if (row.href.size() > c->lim->max_href) {
        c->res->rejected++;
        return 0;
    }
    return add_href(c, row.href.data(), row.href.size(), row.sized ? row.size.data() : nullptr, row.size.size(),
                    row.dated ? row.date.data() : nullptr, row.date.size());
}

} // namespace

int caddy_pass(kldlp_ctx *c, const char *page, size_t len)
{
    caddy_row row{};
    bool in_row = false;
    token_walk w(page, len);
    std::string_view v;
    for (;;) {
        const html_tok &t = w.next();
        const bool ends = t.kind == TOK_EOF || (t.kind == TOK_OPEN && tag_is(t, "tr")) ||
                          (t.kind == TOK_CLOSE && (tag_is(t, "tr") || tag_is(t, "table")));
        if (in_row && ends) {
            in_row = false;
            if (int rc = caddy_finish(c, row); rc != 0) return rc;
        }
        if (t.kind == TOK_EOF) return 0;
        if (t.kind != TOK_OPEN) continue;
        if (tag_is(t, "tr")) {
            row = caddy_row{};
            in_row = true;
        } else if (!in_row) {
            continue;
        } else if (tag_is(t, "th")) {
            row.header = true;
        } else if (tag_is(t, "td")) {
            if (!row.sized && (attr_of(t, "data-size", &v) || attr_of(t, "data-order", &v))) {
                row.size = v;
                row.sized = true;
            }
        } else if (tag_is(t, "a")) {
            if (!row.link && attr_of(t, "href", &v)) {
                row.href = v;
                row.link = true;
            }
        } else if (tag_is(t, "time")) {
            if (!row.dated && attr_of(t, "datetime", &v)) {
                row.date = v;
                row.dated = true;
            }
        }
    }
}

} // namespace kldlp::detail
