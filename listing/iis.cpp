// IIS directory browsing: one <pre> whose lines end in <br>, each line the
// columns first and the link last:
//
//   <pre><A HREF="/site/">[To Parent Directory]</A><br><br> 7/31/2026  4:53 PM        &lt;dir&gt; <A
//   HREF="/site/Music/">Music</A><br> 7/31/2026  4:53 PM         1234 <A HREF="/site/a.mp3">a.mp3</A><br></pre>
//
// The date and time follow the server's regional settings (7/31/2026  4:53 PM,
// or the long form Friday, July 31, 2026  4:53 PM); the size is a plain byte
// count, or &lt;dir&gt; for a folder. Links are absolute paths, so the name
// comes from the href through the usual child test. Which columns appear
// depends on the site's showFlags: the size is the last word of the line when
// it is a number or <dir>, and everything before it is the date.
#include <cstring>

#include "listing/dialects.h"

namespace kldlp::detail {

namespace {

// A line of columns is a few dozen bytes.
constexpr size_t k_line_cap = 4096;

constexpr const char *k_weekdays[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

// The long date form starts with the weekday, which the date reader does not
// take ("Friday, July 31, 2026"): the name and its comma are dropped here, for
// this dialect alone.
void drop_weekday(const char **s, size_t *n)
{
    for (const char *day : k_weekdays) {
        const size_t dn = strlen(day);
        if (*n > dn && ci_prefix(*s, *n, day) && (*s)[dn] == ',') {
            *s += dn + 1;
            *n -= dn + 1;
            trim(s, n);
            return;
        }
    }
}

bool all_digits(const char *s, size_t n)
{
    if (n == 0) return false;
    for (size_t i = 0; i < n; i++)
        if (!is_digit(s[i])) return false;
    return true;
}

// The columns before a link: the date text and the size text (either may be
// empty) cut from the raw line.
void cut_line(const char *s, size_t n, const char **date, size_t *date_len, const char **size, size_t *size_len)
{
    trim(&s, &n);
    size_t last = n;
    while (last > 0 && !is_html_space(s[last - 1])) last--;
    const char *word = s + last;
    const size_t wn = n - last;
    *size = word;
    *size_len = 0;
    if (all_digits(word, wn)) {
        *size_len = wn;
        n = last;
    } else if (ci_eqn(word, wn, "&lt;dir&gt;")) {
        n = last; // a folder: no size
    }
    trim(&s, &n);
    drop_weekday(&s, &n);
    *date = s;
    *date_len = n;
}

} // namespace

int iis_pass(kldlp_ctx *c, const char *page, size_t len)
{
    ctext line{}; // the columns of the current line, before its link
    bool in_pre = false;
    std::string_view v;
    int rc = 0;
    for (token_walk w(page, len); rc == 0 && w.step();) {
        const html_tok &t = w.t;
        if (t.kind == TOK_OPEN && tag_is(t, "pre")) {
            in_pre = true;
            ct_reset(&line);
            continue;
        }
        if (t.kind == TOK_CLOSE && tag_is(t, "pre")) {
            in_pre = false;
            continue;
        }
        if (!in_pre) continue;
        if (t.kind == TOK_TEXT) {
            if (ct_add(&line, t.text, t.len, k_line_cap, nullptr)) rc = KLDLP_E_NOMEM;
        } else if (t.kind == TOK_CLOSE) {
            // The link's text and whatever follows it up to the next line
            // are not columns.
            if (tag_is(t, "a")) ct_reset(&line);
        } else if (tag_is(t, "br")) {
            ct_reset(&line);
        } else if (tag_is(t, "a") && attr_of(t, "href", &v)) {
            if (v.size() > c->lim->max_href) {
                c->res->rejected++;
            } else {
                const char *date, *size;
                size_t date_len, size_len;
                cut_line(line.p ? line.p : "", line.n, &date, &date_len, &size, &size_len);
                rc = add_href(c, v.data(), v.size(), size, size_len, date_len ? date : nullptr, date_len);
            }
            ct_reset(&line);
        }
    }
    ct_free(&line);
    return rc;
}

} // namespace kldlp::detail
