// Sizes and dates as listing pages print them for people: exact byte counts
// with one consistent thousands separator, and a small set of date shapes.
// Anything else reads as -1 rather than as an estimate.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "listing/internal.h"

namespace kldlp::detail {

namespace {

// Length of a thousands separator at p (n bytes left), or 0: space,
// apostrophe, comma, full stop, U+00A0, U+066C, U+2009, U+2019, U+202F.
inline size_t size_sep(const unsigned char *p, size_t n)
{
    const unsigned char c = p[0];
    if (c == ' ' || c == '\'' || c == ',' || c == '.') return 1;
    if (n >= 2 && ((c == 0xC2 && p[1] == 0xA0) || (c == 0xD9 && p[1] == 0xAC))) return 2;
    if (n >= 3 && c == 0xE2 && p[1] == 0x80 && (p[2] == 0x89 || p[2] == 0x99 || p[2] == 0xAF)) return 3;
    return 0;
}

} // namespace

namespace {

struct month_name {
    char text[10];
    size_t len;
};
constexpr month_name k_mon[12] = {{"jan", 3}, {"feb", 3}, {"mar", 3}, {"apr", 3}, {"may", 3}, {"jun", 3},
                                  {"jul", 3}, {"aug", 3}, {"sep", 3}, {"oct", 3}, {"nov", 3}, {"dec", 3}};
constexpr month_name k_mon_full[12] = {{"january", 7},   {"february", 8}, {"march", 5},    {"april", 5},
                                       {"may", 3},       {"june", 4},     {"july", 4},     {"august", 6},
                                       {"september", 9}, {"october", 7},  {"november", 8}, {"december", 8}};

// Morning/afternoon markers of Japanese, Chinese and Korean locales.
struct marker {
    unsigned char b[6];
    int32_t ampm;
};
constexpr marker k_marker[] = {
    {{0xE5, 0x8D, 0x88, 0xE5, 0x89, 0x8D}, 1}, // 午前
    {{0xE5, 0x8D, 0x88, 0xE5, 0xBE, 0x8C}, 2}, // 午後
    {{0xE4, 0xB8, 0x8A, 0xE5, 0x8D, 0x88}, 1}, // 上午
    {{0xE4, 0xB8, 0x8B, 0xE5, 0x8D, 0x88}, 2}, // 下午
    {{0xEC, 0x98, 0xA4, 0xEC, 0xA0, 0x84}, 1}, // 오전
    {{0xEC, 0x98, 0xA4, 0xED, 0x9B, 0x84}, 2}, // 오후
};

constexpr int k_mdays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr size_t k_longest_word = 9; // "september"

inline bool leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// A numeric day/month date (dd?mm?yyyy or mm?dd?yyyy) that only the page-wide
// order can read.
inline bool day_month_shape(const date_shape_t &sh)
{
    return sh.ok && sh.month == 0 && sh.n >= 3 && sh.ndig[0] <= 2 && sh.ndig[1] <= 2 && sh.ndig[2] == 4;
}

// What a byte starts in a date text.
enum : uint8_t { d_other, d_digit, d_sign, d_space, d_punct, d_alpha, d_wide, d_marker };
constexpr struct date_byte_table {
    uint8_t k[256];
    constexpr date_byte_table() : k{}
    {
        for (int c = 0; c < 256; ++c) {
            uint8_t v = d_other;
            if (c >= '0' && c <= '9') v = d_digit;
            if (c == '+' || c == '-') v = d_sign;
            if (c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20) v = d_space;
            if (c == ',' || c == '.' || c == '/' || c == ':') v = d_punct;
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) v = d_alpha;
            if (c == 0xC2 || c == 0xE2) v = d_wide; // U+00A0, U+202F, U+2009
            for (const auto &mk : k_marker)
                if (c == mk.b[0]) v = d_marker;
            k[c] = v;
        }
    }
} k_date_byte;

// A word of up to eight letters, lower-cased, as one number (first letter
// in the low byte), so that it is compared with a known word at once.
constexpr uint64_t pack(const char *w, size_t n)
{
    uint64_t v = 0;
    for (size_t i = 0; i < n && i < 8; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(w[i])) << (8 * i);
    return v;
}

struct packed_month {
    uint64_t abbr, full;
    size_t full_len;
};
constexpr struct month_words {
    packed_month m[12];
    constexpr month_words() : m{}
    {
        for (int i = 0; i < 12; ++i)
            m[i] = {pack(k_mon[i].text, k_mon[i].len), pack(k_mon_full[i].text, k_mon_full[i].len), k_mon_full[i].len};
    }
} k_month_words;

// Month 1 to 12 of a word of n letters whose first eight, lower-cased, are
// packed in w, or 0. Only "september" has more than eight letters.
int32_t month_of(uint64_t w, size_t n, const unsigned char *word)
{
    for (int k = 0; k < 12; ++k) {
        const packed_month &m = k_month_words.m[k];
        if ((n == 3 && w == m.abbr) || (n == m.full_len && w == m.full && (n <= 8 || to_lower(word[8]) == 'r')))
            return k + 1;
    }
    return 0;
}

// The layouts nginx ("01-Jan-2024 12:00") and Apache ("2024-01-01 12:00")
// write for every entry, recognised at once: false when the text has
// neither, else the shape that the walk below gives it. Spaces around the
// text (a table cell's padding) change nothing in a shape.
bool quick_shape(const unsigned char *p, size_t len, date_shape_t *sh)
{
    while (len && is_html_space(p[len - 1])) --len;
    while (len && is_html_space(p[0])) ++p, --len;
    auto digits = [p](size_t at, size_t n) {
        for (size_t k = 0; k < n; ++k)
            if (!is_digit(p[at + k])) return false;
        return true;
    };
    auto num = [p](size_t at, size_t n) {
        int32_t v = 0;
        for (size_t k = 0; k < n; ++k) v = v * 10 + (p[at + k] - '0');
        return v;
    };
    if (len == 17 && p[2] == '-' && p[6] == '-' && p[11] == ' ' && p[14] == ':' && digits(0, 2) && digits(7, 4) &&
        digits(12, 2) && digits(15, 2)) {
        if (!is_alpha(p[3]) || !is_alpha(p[4]) || !is_alpha(p[5])) return false;
        const uint64_t w = to_lower(p[3]) | to_lower(p[4]) << 8 | to_lower(p[5]) << 16;
        const int32_t m = month_of(w, 3, p + 3);
        if (!m) return false;
        *sh = date_shape_t{{num(0, 2), num(7, 4), num(12, 2), num(15, 2)}, {2, 4, 2, 2}, 4, m, 0, 0, 0, '-', 1};
        return true;
    }
    if (len == 16 && p[4] == '-' && p[7] == '-' && p[10] == ' ' && p[13] == ':' && digits(0, 4) && digits(5, 2) &&
        digits(8, 2) && digits(11, 2) && digits(14, 2)) {
        *sh = date_shape_t{
            {num(0, 4), num(5, 2), num(8, 2), num(11, 2), num(14, 2)}, {4, 2, 2, 2, 2}, 5, 0, 0, 0, 0, '-', 1};
        return true;
    }
    return false;
}

} // namespace

// One walk over the text, each byte dispatched by what it can start: a
// number, a zone offset or punctuation, a space, a word, a wide space or a
// morning/afternoon marker. Any other byte fails the text, and a failed
// text leaves a shape that is all zero.
void date_shape(const char *s, size_t len, date_shape_t *out)
{
    date_shape_t sh{};
    *out = sh;
    if (!s) return;
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    if (quick_shape(p, len, out)) return;
    size_t i = 0;
    bool after_space = true;
    while (i < len) {
        const unsigned char c = p[i];
        switch (k_date_byte.k[c]) {
        case d_digit: {
            // A run of digits: the first 9 form the value; more fail, as
            // does a ninth number.
            if (sh.n == 8) return;
            const size_t st = i;
            int32_t v = 0;
            do {
                if (i - st == 9) return;
                v = v * 10 + (p[i] - '0');
                ++i;
            } while (i < len && is_digit(p[i]));
            sh.nums[sh.n] = v;
            sh.ndig[sh.n] = static_cast<int32_t>(i - st);
            sh.n++;
            after_space = false;
            continue;
        }
        case d_sign:
            // A numeric zone offset ("+0100", "-05:00") stands apart after
            // the time. A "+" anywhere else fails the text; a "-" elsewhere
            // is punctuation.
            if (after_space && sh.n > 4 && len - i >= 3 && is_digit(p[i + 1]) && is_digit(p[i + 2])) {
                const int hh = (p[i + 1] - '0') * 10 + (p[i + 2] - '0');
                int mm = 0;
                i += 3;
                if (i < len && p[i] == ':') ++i;
                if (len - i >= 2 && is_digit(p[i]) && is_digit(p[i + 1])) {
                    mm = (p[i] - '0') * 10 + (p[i + 1] - '0');
                    i += 2;
                }
                if (hh > 14 || mm > 59 || sh.tz) return;
                sh.tz = 1;
                sh.tz_min = (c == '-' ? -1 : 1) * (hh * 60 + mm);
                after_space = true;
                continue;
            }
            if (c == '+') return;
            [[fallthrough]];
        case d_punct:
            // The first punctuation after the first number is the separator
            // that tells day-first locales ("-" and ".") apart.
            if (sh.n == 1 && sh.sep == 0 && c != ':' && c != ',') sh.sep = c;
            ++i;
            after_space = false;
            continue;
        case d_space:
            ++i;
            after_space = true;
            continue;
        case d_wide:
            // U+00A0, U+202F and U+2009.
            if (c == 0xC2 && len - i >= 2 && p[i + 1] == 0xA0) {
                i += 2;
            } else if (c == 0xE2 && len - i >= 3 && p[i + 1] == 0x80 && (p[i + 2] == 0xAF || p[i + 2] == 0x89)) {
                i += 3;
            } else {
                return;
            }
            after_space = true;
            continue;
        case d_alpha: {
            // A word of letters and dots: am/pm, a zone name, ISO's "T", or
            // a month. Trailing dots are not part of it ("a.m." and "Jan."
            // match as "a.m" and "jan").
            const size_t st = i;
            while (i < len && (is_alpha(p[i]) || p[i] == '.')) ++i;
            size_t wn = i - st;
            while (wn && p[st + wn - 1] == '.') --wn;
            // No known word is longer than "september"; a longer one fails.
            if (wn > k_longest_word) return;
            uint64_t w = 0;
            for (size_t k = 0; k < wn && k < 8; ++k) w |= static_cast<uint64_t>(to_lower(p[st + k])) << (8 * k);
            after_space = false;
            if (w == pack("am", 2) || w == pack("a.m", 3) || w == pack("pm", 2) || w == pack("p.m", 3)) {
                if (sh.ampm) return;
                sh.ampm = (w & 0xFF) == 'a' ? 1 : 2;
                continue;
            }
            if (w == pack("utc", 3) || w == pack("gmt", 3) || w == pack("z", 1)) {
                if (sh.tz) return;
                sh.tz = 1;
                sh.tz_min = 0;
                continue;
            }
            if (sh.n == 3 && w == pack("t", 1)) continue; // ISO 8601 date-time separator
            const int32_t m = month_of(w, wn, p + st);
            if (!m || sh.month) return; // weekday names and other words are not read
            sh.month = m;
            if (sh.n == 1 && sh.sep == 0 && st > 0 && (p[st - 1] == '-' || p[st - 1] == '/' || p[st - 1] == ' '))
                sh.sep = p[st - 1];
            continue;
        }
        case d_marker: {
            // The morning/afternoon markers of Japanese, Chinese and Korean
            // locales.
            if (len - i < 6) return;
            const marker *mk = nullptr;
            for (const auto &m : k_marker)
                if (memcmp(p + i, m.b, 6) == 0) mk = &m;
            if (!mk || sh.ampm) return;
            sh.ampm = mk->ampm;
            i += 6;
            after_space = true;
            continue;
        }
        default: return;
        }
    }
    sh.ok = 1;
    *out = sh;
}

int64_t date_from_shape(const date_shape_t *sh, int32_t order)
{
    if (!sh || !sh->ok) return -1;
    int64_t y, m, d;
    int32_t used;
    if (sh->month) {
        if (sh->n < 2) return -1;
        if (sh->ndig[0] == 4 && sh->ndig[1] <= 2) {
            y = sh->nums[0];
            d = sh->nums[1];
        } else if (sh->ndig[0] <= 2 && sh->ndig[1] == 4) {
            d = sh->nums[0];
            y = sh->nums[1];
        } else {
            return -1;
        }
        m = sh->month;
        used = 2;
    } else {
        if (sh->n < 3) return -1;
        if (sh->ndig[0] == 4 && sh->ndig[1] <= 2 && sh->ndig[2] <= 2) {
            y = sh->nums[0];
            m = sh->nums[1];
            d = sh->nums[2];
        } else if (sh->ndig[0] <= 2 && sh->ndig[1] <= 2 && sh->ndig[2] == 4) {
            y = sh->nums[2];
            if (order == KLDLP_ORDER_DMY) {
                d = sh->nums[0];
                m = sh->nums[1];
            } else if (order == KLDLP_ORDER_MDY) {
                m = sh->nums[0];
                d = sh->nums[1];
            } else {
                return -1;
            }
        } else {
            return -1;
        }
        used = 3;
    }
    const int32_t rest = sh->n - used;
    int64_t hh = 0, mi = 0, ss = 0;
    if (rest == 0) {
        if (sh->ampm) return -1; // "PM" with no time
    } else if (rest == 2 || rest == 3) {
        if (sh->ndig[used] > 2 || sh->ndig[used + 1] != 2) return -1;
        hh = sh->nums[used];
        mi = sh->nums[used + 1];
        if (rest == 3) {
            if (sh->ndig[used + 2] != 2) return -1;
            ss = sh->nums[used + 2];
        }
        if (sh->ampm) {
            if (hh < 1 || hh > 12) return -1;
            if (hh == 12 && sh->ampm == 1)
                hh = 0;
            else if (hh != 12 && sh->ampm == 2)
                hh += 12;
        }
    } else {
        return -1;
    }
    if (y < 1970 || y > 9999 || m < 1 || m > 12) return -1;
    const int mlen = k_mdays[m - 1] + (m == 2 && leap(y) ? 1 : 0);
    if (d < 1 || d > mlen || hh > 23 || mi > 59 || ss > 59) return -1;
    int64_t secs = days_from_civil(y, m, d) * 86400 + hh * 3600 + mi * 60 + ss;
    if (sh->tz) secs -= static_cast<int64_t>(sh->tz_min) * 60;
    if (secs < 0) return -1;
    return secs * 1000;
}

// One listing never mixes day-first and month-first readings: the numeric
// dates of the whole page are read in the order that its unambiguous ones
// (a day above 12, or the "-" and "." separators of day-first locales) support.
// A text counts as a date that was read only when it is well formed and holds
// a number: a blank date column, an empty cell or a lone "-" says nothing
// about the page's dates, and a page of only those has no date order.
//
// Each text is shaped once. Its reading goes into mtime_ms at once; a
// day/month date is read both ways (day first into mtime_ms, month first
// aside) until the order is known. The name index is of no further use once
// every entry is in, and it holds at least count slots, so it keeps the
// month-first readings; it is released here, and an entry added later would
// build a new one.
void decide_dates(kldlp_ctx *c)
{
    kldlp_result *r = c->res;
    r->date_order = KLDLP_ORDER_NONE;
    r->date_hinted = 0;
    if (r->count == 0 || !c->dates) return;
    constexpr int64_t k_plain = INT64_MIN; // no day/month date: mtime_ms holds the reading
    int64_t *month_first_ms = nullptr;
    if (c->index && c->slots >= r->count) {
        month_first_ms = reinterpret_cast<int64_t *>(c->index);
        c->slots = 0; // the index is gone from here on
    }
    bool read = false, ambiguous = false, day_first = false, month_first = false;
    for (uint64_t i = 0; i < r->count; ++i) {
        const date_text &t = c->dates[i];
        int64_t aside = k_plain;
        if (t.p) {
            date_shape_t sh;
            date_shape(t.p, t.n, &sh);
            if (sh.ok && sh.n > 0) read = true;
            if (day_month_shape(sh)) {
                ambiguous = true;
                if (sh.nums[0] >= 13 || sh.sep == '-' || sh.sep == '.') day_first = true;
                if (sh.nums[1] >= 13) month_first = true;
                r->items[i].mtime_ms = date_from_shape(&sh, KLDLP_ORDER_DMY);
                aside = date_from_shape(&sh, KLDLP_ORDER_MDY);
            } else {
                r->items[i].mtime_ms = date_from_shape(&sh, KLDLP_ORDER_NONE);
            }
        }
        if (month_first_ms) month_first_ms[i] = aside;
    }
    int32_t order;
    if (!ambiguous)
        order = read ? KLDLP_ORDER_YMD : KLDLP_ORDER_NONE;
    else if (day_first && !month_first)
        order = KLDLP_ORDER_DMY;
    else if (month_first && !day_first)
        order = KLDLP_ORDER_MDY;
    else if (day_first && month_first)
        order = KLDLP_ORDER_AMBIGUOUS;
    else if (c->lim && (c->lim->date_order == KLDLP_ORDER_DMY || c->lim->date_order == KLDLP_ORDER_MDY)) {
        order = c->lim->date_order;
        r->date_hinted = 1;
    } else {
        order = KLDLP_ORDER_AMBIGUOUS;
    }
    r->date_order = order;
    // Day/month dates under any order but day first: month first, or -1.
    if (ambiguous && order != KLDLP_ORDER_DMY) {
        for (uint64_t i = 0; i < r->count; ++i) {
            const date_text &t = c->dates[i];
            if (!t.p) continue;
            if (month_first_ms) {
                if (month_first_ms[i] != k_plain)
                    r->items[i].mtime_ms = order == KLDLP_ORDER_MDY ? month_first_ms[i] : -1;
                continue;
            }
            date_shape_t sh;
            date_shape(t.p, t.n, &sh);
            if (day_month_shape(sh)) r->items[i].mtime_ms = date_from_shape(&sh, order);
        }
    }
    if (month_first_ms) {
        free(c->index);
        c->index = nullptr;
    }
}

} // namespace kldlp::detail

using namespace kldlp::detail;

int64_t kldlp_parse_size(const char *s, size_t len)
{
    if (!s) return -1;
    trim(&s, &len);
    if (len == 0) return -1;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
    const unsigned char *sep = nullptr; // the first separator; all others must match it
    size_t seplen = 0;
    size_t groups = 0;
    uint64_t v = 0;
    size_t i = 0;
    for (;;) {
        const size_t st = i;
        while (i < len && is_digit(p[i])) {
            if (v > (static_cast<uint64_t>(INT64_MAX) - (p[i] - '0')) / 10) return -1;
            v = v * 10 + (p[i] - '0');
            ++i;
        }
        const size_t nd = i - st;
        if (nd == 0) return -1; // text starting with a separator, or a separator not followed by a digit
        ++groups;
        const bool last = i == len;
        if (groups == 1) {
            if (nd > (last ? 19u : 3u)) return -1;
        } else if (last) {
            if (nd != 3) return -1;
        } else if (nd != 2 && nd != 3) {
            return -1;
        }
        if (last) return static_cast<int64_t>(v);
        const size_t k = size_sep(p + i, len - i);
        if (!k) return -1;
        if (!sep) {
            sep = p + i;
            seplen = k;
        } else if (k != seplen || memcmp(sep, p + i, k) != 0) {
            return -1;
        }
        i += k;
    }
}

int64_t kldlp_parse_date(const char *s, size_t len, int32_t order)
{
    if (!s) return -1;
    date_shape_t sh;
    date_shape(s, len, &sh);
    return date_from_shape(&sh, order);
}
