#include "tools/show.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/text.h"
#include "tools/progress.h"

namespace klaspnet::tool {

namespace {

// Code points that reorder or hide the text around them: the Arabic letter
// mark, the left-to-right and right-to-left marks, the embeddings and
// overrides (U+202A-U+202E) and the isolates (U+2066-U+2069). A name with
// U+202E reads backwards from there on ("rtl\u202Egnp.exe" shows as
// "rtlexe.png").
bool is_bidi_format(uint32_t cp)
{
    return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// The code point of a well-formed sequence of len bytes.
uint32_t decode(const unsigned char *p, size_t len)
{
    static constexpr unsigned char lead_mask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t cp = p[0] & lead_mask[len];
    for (size_t i = 1; i < len; i++) cp = (cp << 6) | (p[i] & 0x3F);
    return cp;
}

void append_escape(std::string &out, const char *form, uint32_t v)
{
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, form, static_cast<unsigned>(v));
    out.append(buf, static_cast<size_t>(n));
}

// The byte at p (n bytes left) needs an escape; *len receives the length of
// the character it starts.
bool escaped_at(const unsigned char *p, size_t n, size_t *len)
{
    if (p[0] < 0x80) {
        *len = 1;
        return p[0] < 0x20 || p[0] == 0x7F;
    }
    const size_t l = klaspnet::text::utf8_seq_len(p, n);
    if (l == 0) {
        *len = 1;
        return true;
    }
    *len = l;
    const uint32_t cp = decode(p, l);
    return cp <= 0x9F || is_bidi_format(cp);
}

bool plain_ascii(unsigned char c) { return c >= 0x20 && c < 0x7F; }

// At position i of a text of n bytes, a character of len bytes stands at
// the start or the end of the text or of one of its '/'-separated parts.
bool at_edge(const unsigned char *p, size_t n, size_t i, size_t len)
{
    return i == 0 || i + len == n || p[i - 1] == '/' || p[i + len] == '/';
}

bool needs_quotes(std::string_view s)
{
    if (s.starts_with('"')) return true;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const size_t n = s.size();
    for (size_t i = 0, len; i < n; i += len) {
        if (plain_ascii(p[i])) {
            len = 1;
            if (p[i] == ' ' && at_edge(p, n, i, 1)) return true;
            continue;
        }
        if (escaped_at(p + i, n - i, &len)) return true;
        if (len == 2 && p[i] == 0xC2 && p[i + 1] == 0xA0 && at_edge(p, n, i, 2)) return true; // no-break space
    }
    return false;
}

} // namespace

void append_shown(std::string &out, std::string_view s, bool quoted)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    for (size_t i = 0, len; i < s.size(); i += len) {
        // A run of printable ASCII goes in one piece.
        size_t run = i;
        while (run < s.size() && plain_ascii(p[run]) && !(quoted && (p[run] == '"' || p[run] == '\\'))) run++;
        if (run > i) {
            out.append(s.data() + i, run - i);
            len = run - i;
            continue;
        }
        if (escaped_at(p + i, s.size() - i, &len)) {
            if (len == 1)
                append_escape(out, "\\x%02x", p[i]);
            else
                append_escape(out, "\\u%04x", decode(p + i, len));
        } else {
            if (quoted && (p[i] == '"' || p[i] == '\\')) out += '\\';
            out.append(s.data() + i, len);
        }
    }
}

std::string shown(std::string_view s)
{
    std::string out;
    append_shown(out, s);
    return out;
}

void append_name(std::string &out, std::string_view s)
{
    if (!needs_quotes(s)) {
        out.append(s);
        return;
    }
    out += '"';
    append_shown(out, s, true);
    out += '"';
}

namespace {

// Writes v in decimal; returns the end.
char *put_uint(char *o, uint64_t v)
{
    char tmp[24];
    size_t n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) *o++ = tmp[--n];
    return o;
}

char *put_two(char *o, unsigned v)
{
    *o++ = static_cast<char>('0' + v / 10 % 10);
    *o++ = static_cast<char>('0' + v % 10);
    return o;
}

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's
// algorithm), for any time a listing can carry.
void civil_from_days(int64_t z, int64_t &y, unsigned &m, unsigned &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) y++;
}

} // namespace

size_t put_human_size(char *out, int64_t size)
{
    char *o = out;
    if (size < 0) {
        *o++ = '-';
        return 1;
    }
    if (size < 1024) {
        o = put_uint(o, static_cast<uint64_t>(size));
        std::memcpy(o, " B", 2);
        return static_cast<size_t>(o + 2 - out);
    }
    static const char units[] = "KMGTPE";
    // Tenths of the unit, rounded half up in integers: the unit is chosen
    // after rounding, so 1048575 bytes read 1.0 MiB rather than 1024.0 KiB.
    using wide = unsigned __int128;
    wide scale = 1024;
    uint64_t tenths = 0;
    int u = 0;
    for (;; u++, scale *= 1024) {
        tenths = static_cast<uint64_t>((static_cast<wide>(size) * 10 + scale / 2) / scale);
        if (tenths < 10240 || u == 5) break;
    }
    o = put_uint(o, tenths / 10);
    *o++ = '.';
    *o++ = static_cast<char>('0' + tenths % 10);
    *o++ = ' ';
    *o++ = units[u];
    std::memcpy(o, "iB", 2);
    return static_cast<size_t>(o + 2 - out);
}

size_t put_time(char *out, int64_t ms, bool utc)
{
    if (ms < 0) {
        out[0] = '-';
        return 1;
    }
    const int64_t secs = ms / 1000;
    int64_t y;
    unsigned m, d;
    civil_from_days(secs / 86400, y, m, d);
    const unsigned rem = static_cast<unsigned>(secs % 86400);
    char *o = out;
    if (y < 1000) *o++ = '0'; // the library reads no year below 1970
    o = put_uint(o, static_cast<uint64_t>(y));
    *o++ = '-';
    o = put_two(o, m);
    *o++ = '-';
    o = put_two(o, d);
    *o++ = ' ';
    o = put_two(o, rem / 3600);
    *o++ = ':';
    o = put_two(o, rem / 60 % 60);
    if (utc) {
        std::memcpy(o, " UTC", 4);
        o += 4;
    }
    return static_cast<size_t>(o - out);
}

std::string human_size(int64_t size)
{
    char buf[k_short_text];
    return std::string(buf, put_human_size(buf, size));
}

std::string format_time(int64_t ms, bool utc)
{
    char buf[k_short_text];
    return std::string(buf, put_time(buf, ms, utc));
}

bool set_server_zone(const char *zone, std::string &why)
{
    // The C library reads a zone named by TZ from its database folder
    // (TZDIR, else /usr/share/zoneinfo) and quietly falls back to UTC for a
    // name it cannot find, so the file is looked for here first.
    std::string_view name(zone);
    bool ok = !name.empty() && name.front() != '/' && name.find("..") == std::string_view::npos;
    const char *dir = std::getenv("TZDIR");
    std::string file = std::string(dir && *dir ? dir : "/usr/share/zoneinfo") + "/" + zone;
    char magic[4] = {};
    if (ok) {
        FILE *f = std::fopen(file.c_str(), "rb");
        struct stat st {};
        ok = f && fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && std::fread(magic, 1, 4, f) == 4 &&
             std::memcmp(magic, "TZif", 4) == 0;
        if (f) std::fclose(f);
    }
    if (!ok) {
        why = "unknown time zone '" + shown(name) + "' (an IANA zone name such as Europe/Berlin, from " +
              file.substr(0, file.size() - name.size() - 1) + ")";
        return false;
    }
    std::string tz = ":";
    tz += name;
    setenv("TZ", tz.c_str(), 1);
    tzset();
    return true;
}

int64_t server_time_to_utc(int64_t ms)
{
    if (ms < 0) return ms;
    const time_t t = static_cast<time_t>(ms / 1000);
    tm parts{};
    if (!gmtime_r(&t, &parts)) return ms;
    // The same wall-clock reading in the server's zone. Where a clock change
    // makes it ambiguous or skips it, the C library picks or shifts it.
    parts.tm_isdst = -1;
    const time_t utc = mktime(&parts);
    if (utc == static_cast<time_t>(-1)) return ms;
    return static_cast<int64_t>(utc) * 1000 + ms % 1000;
}

std::string count_of(int64_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

namespace {

int g_out_errno = 0; // the first failed write to standard output
bool g_out_failed = false;

} // namespace

void out_write(const char *p, size_t n)
{
    if (g_out_failed || n == 0) return;
    status_pause pause;
    if (std::fwrite(p, 1, n, stdout) != n) {
        g_out_failed = true;
        g_out_errno = errno;
    }
}

bool out_flush()
{
    if (!g_out_failed && std::fflush(stdout) != 0) {
        g_out_failed = true;
        g_out_errno = errno;
    }
    return !g_out_failed;
}

bool out_good() { return !g_out_failed; }

int out_finish(const char *cmd)
{
    if (out_flush()) return 0;
    say(cmd,
        std::string("cannot write to standard output: ") + (g_out_errno ? std::strerror(g_out_errno) : "write error"));
    return 3;
}

namespace {

void to_stderr(const std::string &line)
{
    status_pause pause;
    out_flush(); // what came before goes first when both reach one terminal
    std::fputs(line.c_str(), stderr);
}

} // namespace

void say(const char *cmd, std::string_view message)
{
    std::string line = "klaspnet";
    if (cmd) {
        line += ' ';
        line += cmd;
    }
    line += ": ";
    append_shown(line, message);
    line += '\n';
    to_stderr(line);
}

void note(std::string_view text)
{
    std::string line;
    append_shown(line, text);
    line += '\n';
    to_stderr(line);
}

} // namespace klaspnet::tool
