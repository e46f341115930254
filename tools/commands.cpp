#include "tools/commands.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/wipe.h"
#include "klaspnet/klaspnet.h"
#include "tools/answer.h"
#include "tools/creds.h"
#include "tools/json_pull.h"
#include "tools/listing.h"
#include "tools/progress.h"
#include "tools/show.h"
#include "tools/walk.h"
#include "transport/curl_transport.h"

namespace klaspnet::tool {

namespace {

// ---- running an operation alone ---------------------------------------------------

// What one operation left: its status and its published result.
struct answer {
    int32_t rc;
    std::string_view text; // valid until the next klaspnet_result_json call
};

// Runs an operation without an output buffer while no other runs: a
// success then answers -9 with its whole result published (list and
// validate publish more than they write into a buffer, and no copy is
// made), a failure keeps its own code.
template <class Op> answer run_alone(Op op)
{
    int32_t rc = op(nullptr, 0);
    if (rc == KLASPNET_E_BUFFER) rc = KLASPNET_OK;
    return {rc, klaspnet_result_json()};
}

void out_line(std::string_view s)
{
    out_text(s);
    out_text("\n");
}

// A failed operation: its error JSON with --json, its message on standard
// error, the exit status of its code.
int failed(const options &o, const answer &a)
{
    if (o.json) out_line(a.text);
    say(o.cmd, plain_message(o, klaspnet_last_error()));
    const int st = out_finish(o.cmd);
    return st ? st : exit_for(a.rc);
}

// The JSON text unchanged, as --json asks.
int print_json(const options &o, std::string_view text)
{
    out_line(text);
    return out_finish(o.cmd);
}

// ---- list and parse -------------------------------------------------------------------

// The table without a store: each item printed as the reader meets it.
class row_printer : public item_sink {
public:
    row_printer(const options &o, const listing_facts &facts, const view_rules &rules)
        : o_(o), facts_(facts), rules_(rules)
    {}
    bool item(const item_view &it) override
    {
        if (!started_) {
            style_ = style_for(o_, facts_);
            started_ = true;
        }
        total_++;
        if (!rules_.shows(it.name)) return true;
        shown_++;
        table_row(style_, "", it.name, it.folder, it.size, it.mtime_ms, false, it.url, line_);
        out_text(line_);
        return out_good();
    }
    static table_style style_for(const options &o, const listing_facts &f)
    {
        table_style s;
        s.urls = o.urls;
        s.utc = f.dialect == "aspnet";
        s.convert_zone = o.server_tz && !s.utc;
        return s;
    }
    int64_t total_ = 0, shown_ = 0;

private:
    const options &o_;
    const listing_facts &facts_;
    const view_rules &rules_;
    table_style style_;
    bool started_ = false;
    std::string line_;
};

void zone_note(const options &o, const listing_facts &f)
{
    if (o.server_tz && f.dialect == "aspnet" && !o.quiet)
        say(o.cmd, "--server-tz changes nothing here: ASP.NET Core pages state their UTC offset");
}

// Prints a list or parse result that succeeded.
int print_listing(const options &o, const char *settings, std::string_view text)
{
    if (o.json && !o.recursive) return print_json(o, text);
    listing_facts facts;
    view_rules rules(o);
    const bool stream = !o.recursive && !o.exact && o.sort == sort_key::page && !o.dirs_first;
    if (!stream) {
        // The facts come first: the walker needs the folder and the dialect.
        no_items skip;
        if (!read_listing(text, &facts, skip, false)) {
            say(o.cmd, "the listing answer could not be read");
            return exit_for(KLASPNET_E_FAILED);
        }
        zone_note(o, facts);
        walk_setup w{o, settings, o.json, row_printer::style_for(o, facts), rules};
        return walk_and_print(w, text, facts);
    }
    std::string head;
    table_header(row_printer::style_for(o, facts), head);
    out_text(head);
    row_printer rows(o, facts, rules);
    const bool ok = read_listing(text, &facts, rows, o.urls);
    if (const int st = out_finish(o.cmd)) return st;
    if (!ok) {
        say(o.cmd, "the listing answer could not be read");
        return exit_for(KLASPNET_E_FAILED);
    }
    zone_note(o, facts);
    if (!o.quiet) {
        std::string s = listing_summary(facts);
        if (rows.shown_ != rows.total_) s += " (" + std::to_string(rows.shown_) + " shown)";
        note(s);
    }
    return 0;
}

int cmd_list(const options &o, const char *settings)
{
    const char *folder = o.pos[1] ? o.pos[1] : "";
    const answer a = run_alone([&](char *d, int32_t n) { return klaspnet_list(settings, folder, d, n); });
    if (a.rc != KLASPNET_OK) return failed(o, a);
    return print_listing(o, settings, a.text);
}

char *read_all(const char *cmd, const char *path)
{
    FILE *f = std::strcmp(path, "-") ? std::fopen(path, "rb") : stdin;
    if (!f) {
        say(cmd, std::string("cannot open ") + path + ": " + std::strerror(errno));
        return nullptr;
    }
    size_t cap = 1 << 16, len = 0;
    char *buf = static_cast<char *>(std::malloc(cap));
    while (buf) {
        len += std::fread(buf + len, 1, cap - len - 1, f);
        if (len + 1 < cap) break;
        char *n = static_cast<char *>(std::realloc(buf, cap * 2));
        if (!n) {
            std::free(buf);
            buf = nullptr;
            break;
        }
        buf = n;
        cap *= 2;
    }
    const bool err = std::ferror(f) != 0;
    if (f != stdin) std::fclose(f);
    if (!buf || err) {
        say(cmd, std::string("cannot read ") + path);
        std::free(buf);
        return nullptr;
    }
    buf[len] = '\0';
    return buf;
}

int cmd_parse(const options &o)
{
    char *html = read_all(o.cmd, o.pos[0]);
    if (!html) return k_exit_local;
    const answer a = run_alone([&](char *d, int32_t n) { return klaspnet_parse(html, o.page_url, d, n); });
    std::free(html);
    if (a.rc != KLASPNET_OK) return failed(o, a);
    return print_listing(o, nullptr, a.text);
}

// ---- validate ------------------------------------------------------------------------

std::string with_size(int64_t size)
{
    if (size < 0) return "";
    return " (" + count_of(size, "byte", "bytes") + ", " + human_size(size) + ")";
}

int cmd_validate(const options &o, const char *settings)
{
    const answer a = run_alone([&](char *d, int32_t n) { return klaspnet_validate(settings, d, n); });
    if (a.rc != KLASPNET_OK) return failed(o, a);
    if (o.json) return print_json(o, a.text);
    listing_facts facts;
    no_items skip;
    read_listing(a.text, &facts, skip, false);
    std::string verdict, file, note_text, suggested;
    int64_t size = -1;
    bool moved = false;
    json_pull r(a.text);
    std::string_view k;
    std::string value;
    if (r.object())
        while (r.key(k)) {
            if (k == "url_rewritten") {
                r.boolean(moved);
            } else if (k == "range" && r.object()) {
                while (r.key(k)) {
                    if (k == "verdict")
                        r.string(verdict);
                    else if (k == "file")
                        r.string(file);
                    else if (k == "note")
                        r.string(note_text);
                    else if (k == "size")
                        r.integer(size);
                    else
                        r.skip();
                }
            } else if (k == "settings" && r.object()) {
                while (r.key(k)) {
                    if (k == "RuntimeType" || !r.string(value)) {
                        r.skip();
                        continue;
                    }
                    if (!suggested.empty()) suggested += ", ";
                    suggested += std::string(k) + " " + value;
                }
            } else {
                r.skip();
            }
        }
    std::string out = listing_summary(facts) + "\n";
    if (!facts.index_of.empty()) out += "index of: " + shown(facts.index_of) + "\n";
    std::string seek;
    if (verdict == "verified")
        seek = "supported (HTTP 206)";
    else if (verdict == "ignored")
        seek = "not supported: the server ignores Range requests (HTTP 200), a player restarts from the beginning";
    else if (verdict == "unverified")
        seek = "not checked (--plain-io sends no Range requests)";
    else if (verdict == "no-file")
        seek = "not checked (the folder lists no file to try)";
    else
        seek = "could not be checked: " + plain_message(o, note_text.c_str());
    out += "seek: " + shown(seek) + "\n";
    if (!file.empty()) {
        out += "tried on: ";
        append_name(out, file);
        out += with_size(size) + "\n";
    }
    out +=
        std::string("moved permanently: ") + (moved ? "yes (the suggested settings carry the new URL)" : "no") + "\n";
    out += "suggested settings: " + shown(suggested.empty() ? "none" : suggested) + "\n";
    out_text(out);
    return out_finish(o.cmd);
}

// ---- stat ------------------------------------------------------------------------------

int cmd_stat(const options &o, const char *settings)
{
    const answer a = run_alone([&](char *d, int32_t n) { return klaspnet_stat(settings, o.pos[1], d, n); });
    if (a.rc != KLASPNET_OK) return failed(o, a);
    std::string path, url;
    int64_t http = 0, size = -1, redirects = 0;
    bool range = false;
    json_pull r(a.text);
    std::string_view k;
    if (r.object())
        while (r.key(k)) {
            if (k == "path")
                r.string(path);
            else if (k == "url")
                r.string(url);
            else if (k == "http")
                r.integer(http);
            else if (k == "range")
                r.boolean(range);
            else if (k == "size")
                r.integer(size);
            else if (k == "redirects")
                r.integer(redirects);
            else
                r.skip();
        }
    if (o.json) out_line(a.text);
    // A folder's address answers with its listing, after a redirect to the
    // address with a trailing slash (nginx, Apache and ASP.NET Core alike).
    if (!url.empty() && url.back() == '/') {
        std::string m;
        append_name(m, path.empty() ? o.pos[1] : path.substr(1));
        say(o.cmd, m + " is a folder");
        const int st = out_finish(o.cmd);
        return st ? st : exit_for(KLASPNET_E_NOT_FOUND);
    }
    if (o.json) return out_finish(o.cmd);
    std::string out = "path: ";
    append_name(out, path);
    out += "\nurl: " + shown(url) + "\n";
    out += "size: " +
           (size >= 0 ? std::to_string(size) + " (" + human_size(size) + ")" : "unknown (not given by the server)");
    out += "\nseek: ";
    if (range)
        out += "supported (HTTP 206)";
    else if (http == 200)
        out += "not supported: the server ignores Range requests (HTTP 200)";
    else
        out += "unknown (HTTP " + std::to_string(http) + ")";
    out += "\n";
    if (redirects > 0) out += "redirects: " + std::to_string(redirects) + "\n";
    out_text(out);
    return out_finish(o.cmd);
}

// ---- stream-url -------------------------------------------------------------------------

// The text in single quotes for a POSIX shell.
void append_shell_word(std::string &out, std::string_view s)
{
    out += '\'';
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
}

int cmd_stream_url(const options &o, const char *settings)
{
    std::string entry = "{\"path\":";
    append_json_string(entry, o.pos[1]);
    entry += ",\"folder\":false}";
    if (!o.curl) {
        const answer a =
            run_alone([&](char *d, int32_t n) { return klaspnet_stream_url(settings, entry.c_str(), d, n); });
        if (a.rc != KLASPNET_OK) return failed(o, a);
        if (o.json) return print_json(o, a.text);
        std::string url;
        bool auth = false;
        json_pull r(a.text);
        std::string_view k;
        if (r.object())
            while (r.key(k)) {
                if (k == "url")
                    r.string(url);
                else if (k == "auth_header")
                    r.boolean(auth);
                else
                    r.skip();
            }
        out_text("url: " + shown(url) +
                 "\nauthorization: " + (auth ? "Basic, needed (the header is shown only with --curl)" : "none") + "\n");
        return out_finish(o.cmd);
    }
    // The answer itself carries the header; it is read from the tool's own
    // buffer and every copy of it is wiped.
    answer_buffer b;
    const int32_t rc = b.run([&](char *d, int32_t n) { return klaspnet_stream_url(settings, entry.c_str(), d, n); });
    if (rc != KLASPNET_OK) {
        say(o.cmd, plain_message(o, klaspnet_last_error()));
        return exit_for(rc);
    }
    std::string url, header, line;
    header.reserve(b.text().size());
    line.reserve(2 * b.text().size() + 256);
    json_pull r(b.text());
    std::string_view k;
    if (r.object())
        while (r.key(k)) {
            if (k == "url") {
                r.string(url);
            } else if (k == "headers" && r.object()) {
                while (r.key(k))
                    if (k != "Authorization" || !r.string(header)) r.skip();
            } else {
                r.skip();
            }
        }
    line = "curl --fail --location";
    if (o.insecure) line += " --insecure";
    if (o.cacert) line += " --cacert ", append_shell_word(line, o.cacert);
    if (o.capath) line += " --capath ", append_shell_word(line, o.capath);
    if (!header.empty()) {
        line += " --header ";
        append_shell_word(line, "Authorization: " + header);
    }
    line += ' ';
    append_shell_word(line, url);
    line += '\n';
    out_text(line);
    klaspnet_wipe(header.data(), header.size());
    klaspnet_wipe(line.data(), line.size());
    return out_finish(o.cmd);
}

// ---- the transport ----------------------------------------------------------------------

// Installs the libcurl transport as a host does: its record through
// klaspnet_set_io, its extension bound through klaspnet_bind_http.
int install_transport(const options &o)
{
    if (o.builtin) {
        const int32_t rc = klaspnet_use_curl();
        if (rc != KLASPNET_OK) say(o.cmd, "this module has no built-in transport");
        return exit_for(rc);
    }
    klaspnet_curl_options t{};
    t.insecure = o.insecure;
    trusted_certificates(o, &t.ca_file, &t.ca_path);
    t.connect_timeout_ms = o.connect_timeout_ms;
    t.max_time_ms = o.max_time_ms;
    t.retries = o.retry;
    progress_start({isatty(STDERR_FILENO) == 1, o.quiet, 1 + o.retry}, t);
    klaspnet_curl_configure(&t);
    const velkaron_io *io = klaspnet_curl_io();
    int32_t rc = klaspnet_set_io(io);
    if (rc == KLASPNET_OK) rc = klaspnet_bind_http(io, o.plain_io ? nullptr : klaspnet_curl_http());
    if (rc != KLASPNET_OK) say(o.cmd, "cannot install the transport (code " + std::to_string(rc) + ")");
    return exit_for(rc);
}

} // namespace

std::string plain_message(const options &o, const char *message)
{
    std::string m = message ? message : "";
    if (m.find("velkaron_http extension") != std::string::npos)
        return "stat needs Range requests, which --plain-io does not send";
    if (m.find("velkaron_io v1") != std::string::npos) return "--plain-io sends no Range requests";
    if (m.find("SSL certificate problem") != std::string::npos ||
        m.find("certificate subject name") != std::string::npos ||
        m.find("no alternative certificate subject name") != std::string::npos)
        m += " (trust the server's certificate with --cacert FILE, or skip the check with -k)";
    else if ((m.find("timed out") != std::string::npos || m.find("Timeout was reached") != std::string::npos) &&
             !o.retry)
        m += " (see --connect-timeout, --max-time and --retry)";
    return m;
}

int run_command(const options &o)
{
    if (!std::strcmp(o.cmd, "parse")) return cmd_parse(o);
    const bool net = std::strcmp(o.cmd, "stream-url") != 0;
    if (net) {
        if (const int st = install_transport(o)) return st;
    }
    char *settings = nullptr;
    int st = build_settings(o, o.pos[0], &settings);
    if (st == 0) {
        if (!std::strcmp(o.cmd, "list"))
            st = cmd_list(o, settings);
        else if (!std::strcmp(o.cmd, "validate"))
            st = cmd_validate(o, settings);
        else if (!std::strcmp(o.cmd, "stat"))
            st = cmd_stat(o, settings);
        else
            st = cmd_stream_url(o, settings);
    }
    klaspnet_free_secret(settings);
    return st;
}

} // namespace klaspnet::tool
