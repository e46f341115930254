// The fetch, and the operations above it, driven by a host transport whose
// every answer comes from the fuzz input: statuses, header lines, Locations,
// bodies in pieces, failures. Properties:
//  - the fetch's result is 0, -1 or -2; a success carries a body within the
//    limit and a final http(s) URL without user information; a failure
//    carries neither, and an error text;
//  - at most 6 requests, never from https down to http, never a URL with
//    user information, credentials only to the origin (or its https form);
//  - the password never appears in an error text, a result or a message;
//  - the operations return documented statuses, with the buffer holding
//    either valid JSON or the error JSON of that status.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <yyjson.h>

#include "klaspnet/klaspnet.h"
#include "props.h"
#include "source/fetch.h"
#include "source/ops.h"
#include "support/host.h"

using namespace klaspnet::detail;

namespace {

constexpr char k_user[] = "user1";
constexpr char k_pass[] = "Secr3tPw";

// ---- the scripted answers ---------------------------------------------------

const int k_statuses[] = {200, 206, 301, 302, 303, 307, 308, 300, 304, 404, 401, 429, 500, 204};
const char *const k_names[] = {"Location",      "location", "Content-Range", "Content-Length",
                               "Accept-Ranges", ":status",  "X-Other",       "LOCATION"};
const char *const k_values[] = {
    "http://h/m/",
    "https://h/m/",
    "/m/Sub/",
    "../",
    "//other.example/x/",
    "http://user@h/m/",
    "ftp://h/x",
    "bytes 0-0/1234",
    "bytes */99",
    "https://h:8443/m/",
    "http://H:80/m/a",
    "#frag",
    "http://other.example/m/",
    "",
    "?q=1",
    "https://other.example/m/",
};

std::vector<ktest::answer> read_script(bytes_in &in)
{
    std::vector<ktest::answer> s;
    int n = 1 + in.byte() % 8;
    for (int i = 0; i < n && !in.empty(); ++i) {
        ktest::answer a;
        uint8_t f = in.byte();
        const bool fail = (f & 7) == 7;
        if (fail && (f & 8)) {
            std::string error = in.text(40);
            if (!error.empty()) a.error = error;
        }
        uint8_t st = in.byte();
        a.status =
            st < 0xF0 ? k_statuses[st % (sizeof k_statuses / sizeof k_statuses[0])] : static_cast<int>(in.u16()) - 1000;
        int hn = in.byte() % 5;
        for (int h = 0; h < hn; ++h) {
            uint8_t k = in.byte();
            std::string name = k_names[k % (sizeof k_names / sizeof k_names[0])];
            uint8_t v = in.byte();
            std::string value = v < 0xC0 ? k_values[v % (sizeof k_values / sizeof k_values[0])] : in.text(64);
            a.headers.emplace_back(name, value);
        }
        a.piece = 1 + in.byte() * 37;
        a.body = in.text(i + 1 == n ? 1 << 16 : 512);
        if (fail) {
            // A failed exchange hands over nothing but its error text.
            a.rc = -1;
            a.status = 0;
            a.body.reset();
        }
        s.push_back(a);
    }
    return s;
}

// ---- the host transport --------------------------------------------------

// Answers from the script in turn; with no script every call fails.
struct fuzz_host : ktest::recording_host {
    fuzz_host() { unknown = ktest::failure(-1); }
} g_host;
const velkaron_io k_io = g_host.io(true);
const velkaron_http k_http = g_host.http(true);
bool g_script_spells_pass;

void start(const std::vector<ktest::answer> &script)
{
    g_host.script = script;
    g_host.clear();
    g_script_spells_pass = false;
    for (const ktest::answer &a : script) {
        bool in_headers = false;
        for (const auto &h : a.headers) in_headers |= h.second.find(k_pass) != std::string::npos;
        g_script_spells_pass |= in_headers || (a.body && a.body->find(k_pass) != std::string::npos) ||
                                (a.error && a.error->find(k_pass) != std::string::npos);
    }
}

size_t calls() { return g_host.gets.size() + g_host.requests.size(); }

// Every request record the library handed over: the fixed record, never user
// information in the URL, credentials only to the origin (http://h:80) or
// its https form.
void check_request_records()
{
    for (const ktest::request &q : g_host.requests) {
        PROP(q.size == 104 && q.method == "GET", "request record");
        url_view u = split_url(q.url);
        PROP(u.ok && (u.scheme == "http" || u.scheme == "https"), "request to " + q.url);
        PROP(u.authority.find('@') == std::string::npos, "user information in the request URL " + q.url);
        PROP(q.headers.size() >= 2 && q.headers.size() <= 3, "header count");
        PROP(q.headers[0] == "Accept: text/html,application/xhtml+xml,*/*;q=0.8" &&
                 q.headers[1] == "User-Agent: velkaron-aspnet/1.0.0",
             "request headers");
        if (q.headers.size() == 3) PROP(q.headers[2] == "Range: bytes=0-0", "range header");
        if (q.has_user) {
            PROP(host_of(u.authority) == "h" && (u.scheme == "https" || port_of(u) == 80),
                 "credentials sent to " + q.url);
            PROP(q.has_password, "user without password");
        }
    }
}

// The redirect chain the fetch walked must keep to the rules.
void check_requests(bool plain)
{
    PROP(calls() <= 6, std::to_string(calls()) + " requests");
    check_request_records();
    if (plain) return;
    const std::vector<ktest::request> &q = g_host.requests;
    for (size_t i = 1; i < q.size(); ++i) {
        url_view prev = split_url(q[i - 1].url);
        url_view cur = split_url(q[i].url);
        PROP(!(prev.scheme == "https" && cur.scheme == "http"), q[i - 1].url + " -> " + q[i].url);
        if (q[i].has_user) PROP(q[i - 1].has_user, "credentials sent again after they were dropped");
    }
}

void check_fetch(int rc, const klaspnet_resp &r, bool plain, int range, uint64_t limit, bool user)
{
    PROP(rc == 0 || rc == -1 || rc == -2, "fetch result " + std::to_string(rc));
    std::string error = r.error;
    if (user) PROP(error.find(k_pass) == std::string::npos, "password in " + error);
    if (rc != 0) {
        PROP(r.body == nullptr && r.final_url == nullptr, "a failed fetch kept a body or URL");
        PROP(!error.empty(), "failure without text");
        return;
    }
    PROP(r.body != nullptr && r.final_url != nullptr, "success without body or final URL");
    PROP(r.body[r.body_len] == '\0', "body not terminated");
    uint64_t keep = range ? 64 : limit;
    PROP(r.body_len <= keep, "body of " + std::to_string(r.body_len) + " bytes over " + std::to_string(keep));
    PROP(!r.too_large || r.body_len == 0, "too large but a body kept");
    url_view u = split_url(r.final_url);
    PROP(u.ok && (u.scheme == "http" || u.scheme == "https"), std::string("final URL ") + r.final_url);
    PROP(u.authority.find('@') == std::string::npos, std::string("final URL ") + r.final_url);
    PROP(std::strchr(r.final_url, '#') == nullptr || plain, std::string("fragment kept: ") + r.final_url);
    if (plain) {
        PROP(r.redirects == -1, "redirects on the plain road");
    } else {
        PROP(r.redirects >= 0 && r.redirects <= 5, "redirects " + std::to_string(r.redirects));
        PROP(static_cast<size_t>(r.redirects) + 1 == g_host.requests.size(), "redirect count differs from hops");
        PROP(!r.permanent || r.redirects > 0, "permanent without redirect");
        PROP(g_host.requests.back().url == r.final_url, "final URL is not the last request");
    }
}

// An operation's answer: a documented status and a consistent buffer.
void check_op(const char *what, int rc, const std::string &out, std::initializer_list<int> codes, bool user)
{
    std::string err = klaspnet_last_error();
    std::string res = klaspnet_result_json();
    bool known = rc == 0;
    for (int c : codes) known |= c == rc;
    PROP(known, std::string(what) + " status " + std::to_string(rc) + " " + err);
    // Server data (entry names, titles quoted in messages) may spell
    // anything; only a script that never spells the password holds the
    // library to never showing it.
    PROP(!user || g_script_spells_pass ||
             (err.find(k_pass) == std::string::npos &&
              (rc == 0 || (res.find(k_pass) == std::string::npos && out.find(k_pass) == std::string::npos))),
         std::string(what) + " shows the password: [" + err + "] [" + res + "] [" + out + "]");
    if (rc == 0) {
        PROP(err.empty(), err);
        PROP(json_ok(out), std::string(what) + " output " + out);
        PROP(json_ok(res), std::string(what) + " result " + res);
    } else {
        // The last error keeps at most 511 bytes of the message; the error
        // JSON holds all of it.
        std::string message = err;
        if (err.size() == 511) {
            yyjson_doc *d = yyjson_read(out.data(), out.size(), 0);
            const char *m = yyjson_get_str(yyjson_obj_get(yyjson_doc_get_root(d), "error"));
            if (m && std::strncmp(m, err.data(), err.size()) == 0) message = m;
            yyjson_doc_free(d);
        }
        PROP(out == error_json(message, rc), std::string(what) + " buffer [" + out + "] for [" + err + "]");
        PROP(res == out, std::string(what) + " published [" + res + "] for [" + err + "] buffer [" + out + "]");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bytes_in in{data, size};
    uint8_t mode = in.byte();
    bool plain = mode & 1;
    int range = (mode & 2) ? 1 : 0;
    bool user = mode & 4;
    uint64_t limit = (mode & 8) ? 16777216 : 1 + (mode >> 4) * 64;
    std::vector<ktest::answer> script = read_script(in);

    klaspnet_conn c{&k_io, plain ? nullptr : &k_http, user ? k_user : nullptr, user ? k_pass : nullptr};
    klaspnet_resp r;
    start(script);
    int rc = klaspnet_fetch(&c, "http://h/m/", range, limit, &r);
    check_requests(plain);
    check_fetch(rc, r, plain, range, limit, user);
    klaspnet_resp_free(&r);
    PROP(r.body == nullptr && r.final_url == nullptr, "resp_free");

    // The operations over the same answers, through the exported functions.
    static bool installed = false;
    if (!installed) {
        klaspnet_bind_http(&k_io, &k_http);
        installed = true;
    }
    if (plain)
        klaspnet_bind_http(&k_io, nullptr);
    else
        klaspnet_bind_http(&k_io, &k_http);
    klaspnet_set_io(&k_io);
    const char *settings = user ? "{\"URL\":\"http://user1:Secr3tPw@h/m\",\"ID\":\"x\"}" : "{\"URL\":\"http://h/m\"}";
    static char dst[1 << 18];
    const std::initializer_list<int> fetching = {KLASPNET_E_ACCESS, KLASPNET_E_NOT_FOUND, KLASPNET_E_RATE_LIMITED,
                                                 KLASPNET_E_UNAVAILABLE, KLASPNET_E_FAILED};

    start(script);
    int lr = klaspnet_list(settings, (mode & 0x10) ? "Sub" : "", dst, sizeof dst);
    check_requests(plain);
    check_op("list", lr, dst, fetching, user);

    start(script);
    int vr = klaspnet_validate(settings, dst, sizeof dst);
    PROP(calls() <= 12, "validate made " + std::to_string(calls()) + " requests");
    check_request_records();
    check_op("validate", vr, dst, fetching, user);

    start(script);
    int sr = klaspnet_stat(settings, "/a b.mkv", dst, sizeof dst);
    check_requests(plain);
    if (plain)
        PROP(sr == KLASPNET_E_UNSUPPORTED, "stat without extension: " + std::to_string(sr));
    else
        check_op("stat", sr, dst, fetching, user);
    return 0;
}
