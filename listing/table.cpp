// Table listings: ASP.NET Core directory browsing and Apache FancyIndexing
// with HTMLTable.
//
// ASP.NET Core marks every row and cell by class:
//   <tr class="file"><td class="name"><a href="./a.mp3">a.mp3</a></td>
//   <td class="length">1,234</td><td class="modified">6/10/2019 2:09:05 PM &#x2B;00:00</td></tr>
// Its hrefs are only HTML-encoded, never percent-encoded, so the name is the
// link's text.
//
// Apache writes plain rows; its header row names the columns, through sort
// links (?C=N;O=D, ?C=M;O=A, ?C=S;O=A) or, with SuppressColumnSorting, through
// the header texts (Name, Last modified, Size). The name comes from the href.
// lighttpd's mod_dirlisting table has the same shape (header texts Name, Last
// Modified, Size, Type) and goes through the same pass.
#include <cstdlib>
#include <cstring>

#include "listing/collect.h"
#include "listing/internal.h"

namespace kldlp::detail {

namespace {

// No size, date or cell a server writes comes near this; a hostile page
// cannot make one row grow beyond it.
constexpr size_t k_cell_cap = 4096;
constexpr int k_max_cells = 16;

bool row_ends(const html_tok &t)
{
    if (t.kind == TOK_CLOSE) return tag_is(t, "tr") || tag_is(t, "table");
    return t.kind == TOK_OPEN && tag_is(t, "tr");
}

// Page text with its character references decoded: the text itself when it
// holds none, else a decoded copy in the given scratch builder. -4 when
// memory ran out.
int decoded(sbuf *scratch, const char *p, size_t n, const char **out, size_t *out_len, int *bad)
{
    if (bad) *bad = 0;
    if (!memchr(p, '&', n)) {
        *out = p;
        *out_len = n;
        return 0;
    }
    char *d = sb_room(scratch, n);
    if (!d) return KLDLP_E_NOMEM;
    *out_len = html_decode_to(p, n, d, bad);
    *out = d;
    return 0;
}

struct asp_row {
    bool folder;
    int cell; // 0 none, 1 name, 2 length, 3 modified
    bool in_name_link;
    bool truncated; // the name text outgrew its cap
    ctext name, size, date;
};

int asp_finish(kldlp_ctx *c, asp_row *row)
{
    // The name: the link's text, decoded; like every name it ends at a NUL
    // byte. A folder's text ends in "/", which is not part of its name.
    const char *name = nullptr;
    size_t len = 0;
    if (!row->truncated && row->name.n) {
        int bad = 0;
        if (decoded(&c->ref, row->name.p, row->name.n, &name, &len, &bad)) return KLDLP_E_NOMEM;
        if (bad) {
            name = nullptr;
        } else {
            const char *nul = static_cast<const char *>(memchr(name, '\0', len));
            if (nul) len = static_cast<size_t>(nul - name);
            if (row->folder && len && name[len - 1] == '/') --len;
        }
    }
    if (!name || len > c->lim->max_name || !name_ok(name, len)) {
        c->res->rejected++;
        return 0;
    }
    // The name's index slot is fetched while the size and date are read.
    const uint64_t hash = name_hash(c, name, len);
    name_prefetch(c, hash);
    int64_t size = -1;
    if (!row->folder && row->size.n) {
        const char *p;
        size_t n;
        if (decoded(&c->text, row->size.p, row->size.n, &p, &n, nullptr)) return KLDLP_E_NOMEM;
        // A decoded text ends at a NUL byte; a raw NUL makes the text unreadable.
        const char *nul = p != row->size.p ? static_cast<const char *>(memchr(p, '\0', n)) : nullptr;
        if (nul) n = static_cast<size_t>(nul - p);
        size = kldlp_parse_size(p, n);
    }
    const char *date = nullptr;
    size_t date_len = 0;
    if (row->date.n && decoded(&c->text, row->date.p, row->date.n, &date, &date_len, nullptr)) return KLDLP_E_NOMEM;
    return add_name(c, name, len, hash, row->folder, size, date, date_len);
}

// A link of a row: its cell (-1: none) and its href, a view into the page.
struct cell_link {
    int cell;
    const char *href;
    size_t len;
};

struct gen_row {
    ctext cells[k_max_cells];
    int count;   // cells opened, including those beyond the 16th
    int cur;     // cell receiving text, -1 none
    bool header; // a <th> was seen
    // The row's first link, and the first one in a later cell: Apache's
    // IconsAreLinks puts the entry's link on its icon too, in the cell
    // before the name.
    cell_link first, next;
    unsigned images; // bit i: cell i holds an image
};

struct columns {
    int name = -1, date = -1, size = -1;
    bool known = false;
};

void gen_start(gen_row *row)
{
    for (int i = 0; i < k_max_cells && i < row->count; i++) ct_reset(&row->cells[i]);
    row->count = 0;
    row->cur = -1;
    row->header = false;
    row->first.cell = row->next.cell = -1;
    row->images = 0;
}

// A cell that shows an image and no text: Apache's icon column.
bool icon_only(const gen_row *row, int i)
{
    if (!(row->images >> i & 1)) return false;
    const char *p = row->cells[i].p;
    size_t n = row->cells[i].n;
    trim(&p, &n);
    return n == 0;
}

// The link that names the row's entry: the one in the name column when the
// columns are known, else the first one in a cell that shows more than an
// icon; a row with neither keeps its first link.
const cell_link &entry_link(const gen_row *row, const columns &cols)
{
    if (row->next.cell < 0) return row->first;
    if (cols.known) return row->first.cell != cols.name && row->next.cell == cols.name ? row->next : row->first;
    return icon_only(row, row->first.cell) ? row->next : row->first;
}

void header_texts(const gen_row *row, columns *cols)
{
    if (cols->known) return;
    const int n = row->count < k_max_cells ? row->count : k_max_cells;
    for (int i = 0; i < n; i++) {
        const char *p = row->cells[i].p;
        size_t len = row->cells[i].n;
        trim(&p, &len);
        if (ci_eqn(p, len, "Name"))
            cols->name = i;
        else if (ci_eqn(p, len, "Last modified"))
            cols->date = i;
        else if (ci_eqn(p, len, "Size"))
            cols->size = i;
    }
    if (cols->name >= 0) cols->known = true;
}

const ctext *cell_at(const gen_row *row, int i)
{
    if (i < 0 || i >= row->count || i >= k_max_cells) return nullptr;
    return &row->cells[i];
}

int gen_finish(kldlp_ctx *c, const gen_row *row, columns *cols, int *recognised)
{
    if (row->header) {
        header_texts(row, cols);
        if (cols->known) *recognised = 1;
        return 0;
    }
    if (row->first.cell < 0) return 0;
    *recognised = 1;
    const cell_link &link = entry_link(row, *cols);
    const int at = link.cell;
    if (link.len > c->lim->max_href) {
        c->res->rejected++;
        return 0;
    }
    const ctext *date = nullptr, *size = nullptr;
    if (cols->known) {
        if (at == cols->name) {
            date = cell_at(row, cols->date);
            size = cell_at(row, cols->size);
        }
    } else {
        date = cell_at(row, at + 1);
        size = cell_at(row, at + 2);
    }
    // An empty cell still counts as given; it reads as no size or date.
    return add_href(c, link.href, link.len, size ? (size->p ? size->p : "") : nullptr, size ? size->n : 0,
                    date ? (date->p ? date->p : "") : nullptr, date ? date->n : 0);
}

} // namespace

int aspnet_table_pass(kldlp_ctx *c, const char *page, size_t len)
{
    const uint64_t max_name = c->lim->max_name;
    // Ten bytes per name byte covers a name written entirely as numeric
    // references (&#x1F3B5; for one 4-byte character); more cannot decode
    // to an acceptable name.
    const size_t name_cap = max_name > (SIZE_MAX - 16) / 10 ? SIZE_MAX : static_cast<size_t>(max_name * 10 + 16);
    asp_row row{};
    bool in_row = false;
    token_walk w(page, len);
    int rc = 0;
    for (;;) {
        const html_tok &t = w.next();
        if (in_row && (t.kind == TOK_EOF || (t.kind == TOK_OPEN && tag_is(t, "tr")) ||
                       (t.kind == TOK_CLOSE && (tag_is(t, "tr") || tag_is(t, "table") || tag_is(t, "tbody"))))) {
            in_row = false;
            if ((rc = asp_finish(c, &row)) != 0) break;
        }
        if (t.kind == TOK_EOF) break;
        if (!in_row) {
            if (t.kind != TOK_OPEN || !tag_is(t, "tr")) continue;
            const unsigned cls = class_bits(t.attrs, t.attrs_len, {"file", "directory"});
            const bool file = cls & 1, dir = cls & 2;
            if (!file && !dir) continue;
            in_row = true;
            row.folder = dir && !file;
            row.cell = 0;
            row.in_name_link = false;
            row.truncated = false;
            ct_reset(&row.name);
            ct_reset(&row.size);
            ct_reset(&row.date);
            continue;
        }
        if (t.kind == TOK_TEXT) {
            int r = 0;
            if (row.cell == 1) {
                if (row.in_name_link) r = ct_add(&row.name, t.text, t.len, name_cap, &row.truncated);
            } else if (row.cell == 2) {
                r = ct_add(&row.size, t.text, t.len, k_cell_cap, nullptr);
            } else if (row.cell == 3) {
                r = ct_add(&row.date, t.text, t.len, k_cell_cap, nullptr);
            }
            if (r) {
                rc = KLDLP_E_NOMEM;
                break;
            }
        } else if (t.kind == TOK_OPEN) {
            if (tag_is(t, "td")) {
                const unsigned cls = class_bits(t.attrs, t.attrs_len, {"name", "length", "modified"});
                row.cell = (cls & 1) ? 1 : (cls & 2) ? 2 : (cls & 4) ? 3 : 0;
                row.in_name_link = false;
            } else if (tag_is(t, "a")) {
                row.in_name_link = row.cell == 1;
            }
        } else if (tag_is(t, "td")) {
            row.cell = 0;
        } else if (tag_is(t, "a")) {
            row.in_name_link = false;
        }
    }
    ct_free(&row.name);
    ct_free(&row.size);
    ct_free(&row.date);
    return rc;
}

bool aspnet_name_cell(const char *page, size_t len)
{
    bool in_row = false;
    token_walk w(page, len);
    for (;;) {
        const html_tok &t = w.next();
        if (t.kind == TOK_EOF) return false;
        if (t.kind == TOK_CLOSE) {
            if (tag_is(t, "tr") || tag_is(t, "table") || tag_is(t, "tbody")) in_row = false;
        } else if (t.kind == TOK_OPEN) {
            if (tag_is(t, "tr"))
                in_row = class_bits(t.attrs, t.attrs_len, {"file", "directory"}) != 0;
            else if (in_row && tag_is(t, "td") && class_bits(t.attrs, t.attrs_len, {"name"}))
                return true;
        }
    }
}

int generic_table_pass(kldlp_ctx *c, const char *page, size_t len, int *recognised)
{
    *recognised = 0;
    gen_row *row = static_cast<gen_row *>(calloc(1, sizeof(gen_row)));
    if (!row) return KLDLP_E_NOMEM;
    columns cols;
    bool in_row = false;
    token_walk w(page, len);
    int rc = 0;
    std::string_view v;
    for (;;) {
        const html_tok &t = w.next();
        if (in_row && (t.kind == TOK_EOF || row_ends(t))) {
            in_row = false;
            if ((rc = gen_finish(c, row, &cols, recognised)) != 0) break;
        }
        if (t.kind == TOK_EOF) break;
        if (!in_row) {
            if (t.kind == TOK_OPEN && tag_is(t, "tr")) {
                gen_start(row);
                in_row = true;
            }
            continue;
        }
        if (t.kind == TOK_TEXT) {
            if (row->cur >= 0 && ct_add(&row->cells[row->cur], t.text, t.len, k_cell_cap, nullptr)) {
                rc = KLDLP_E_NOMEM;
                break;
            }
        } else if (t.kind == TOK_OPEN) {
            const bool th = tag_is(t, "th");
            if (th || tag_is(t, "td")) {
                row->cur = row->count < k_max_cells ? row->count : -1;
                if (row->count < INT32_MAX) row->count++;
                if (th) row->header = true;
            } else if (row->cur >= 0 && tag_is(t, "a")) {
                if (!attr_of(t, "href", &v)) continue;
                char letter;
                if (row->header) {
                    if (sort_link(v, &letter)) {
                        if (letter == 'N') {
                            cols.name = row->cur;
                            cols.known = true;
                            *recognised = 1;
                        } else if (letter == 'M') {
                            cols.date = row->cur;
                        } else if (letter == 'S') {
                            cols.size = row->cur;
                        }
                    }
                } else if (row->first.cell < 0) {
                    row->first = {row->cur, v.data(), v.size()};
                } else if (row->next.cell < 0 && row->cur != row->first.cell) {
                    row->next = {row->cur, v.data(), v.size()};
                }
            } else if (row->cur >= 0 && tag_is(t, "img")) {
                row->images |= 1u << row->cur;
            }
        } else if (tag_is(t, "td") || tag_is(t, "th")) { // TOK_CLOSE
            row->cur = -1;
        }
    }
    for (ctext &cell : row->cells) ct_free(&cell);
    free(row);
    return rc;
}

} // namespace kldlp::detail
