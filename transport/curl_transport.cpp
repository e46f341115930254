// libcurl host transport. Every request uses its own easy handle, so the
// records may serve any number of threads at once; libcurl's global
// initialisation is done once, lazily, behind a once flag (a plug-in must not
// run code at load, and curl_global_init is not thread-safe by itself).
#include "transport/curl_transport.h"

#include <curl/curl.h>

#include "common/chars.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

namespace {

constexpr long k_max_redirects = 5;           // what get follows by itself
constexpr long k_default_timeout_ms = 120000; // get has no timeout of its own
constexpr long k_connect_timeout_ms = 30000;
// get hands the whole body back in one piece; a body beyond this is refused
// rather than held (the library itself reads listing pages of up to 16 MiB).
constexpr size_t k_get_max_body = size_t{64} << 20;
constexpr const char *k_user_agent = "klaspnet-curl/1.0.0";

// Retry waits: doubling from 1 s up to this, and no Retry-After beyond the cap.
constexpr double k_backoff_max_s = 60;
constexpr double k_retry_after_max_s = 600;

std::once_flag g_init_once;
bool g_init_ok = false;
klaspnet_curl_options g_opts{};
std::atomic<uint64_t> g_requests{0};

bool global_init() noexcept
{
    std::call_once(g_init_once, [] { g_init_ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return g_init_ok;
}

char *dup_text(const char *s) noexcept
{
    size_t n = std::strlen(s);
    auto *p = static_cast<char *>(std::malloc(n + 1));
    if (p) std::memcpy(p, s, n + 1);
    return p;
}

void set_error(char **error, const char *text) noexcept
{
    if (error && !*error) *error = dup_text(text);
}

// The error text of a failed transfer: libcurl's detailed message when it
// wrote one, else the generic text of the code.
void set_curl_error(char **error, CURLcode rc, const char *errbuf) noexcept
{
    set_error(error, errbuf[0] ? errbuf : curl_easy_strerror(rc));
}

void release(void *, void *p) noexcept { std::free(p); }

// Options shared by both roads. Only http and https are spoken, also after a
// redirect; signals are off so that timeouts work on any thread.
bool common_setup(CURL *h, const char *url, long timeout_ms, char *errbuf) noexcept
{
    const long connect_ms = g_opts.connect_timeout_ms > 0 ? g_opts.connect_timeout_ms : k_connect_timeout_ms;
    if (g_opts.max_time_ms > 0) timeout_ms = g_opts.max_time_ms;
    bool ok = curl_easy_setopt(h, CURLOPT_URL, url) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connect_ms) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeout_ms) == CURLE_OK;
    if (ok && g_opts.insecure)
        ok = curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L) == CURLE_OK &&
             curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L) == CURLE_OK;
    if (ok && g_opts.ca_file) ok = curl_easy_setopt(h, CURLOPT_CAINFO, g_opts.ca_file) == CURLE_OK;
    if (ok && g_opts.ca_path) ok = curl_easy_setopt(h, CURLOPT_CAPATH, g_opts.ca_path) == CURLE_OK;
    return ok;
}

// ---- attempts, retries and the observer -------------------------------------

// One attempt of one request, as the observer sees it.
struct attempt_info {
    uint64_t request;
    const char *url;
    int attempt;
    std::chrono::steady_clock::time_point start;
    char errbuf[CURL_ERROR_SIZE]; // libcurl's detailed message of this attempt
};

klaspnet_curl_event event_of(const attempt_info &a, klaspnet_curl_event::kind_t kind) noexcept
{
    klaspnet_curl_event ev{};
    ev.kind = kind;
    ev.request = a.request;
    ev.url = a.url;
    ev.attempt = a.attempt;
    ev.elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - a.start).count();
    return ev;
}

int on_progress(void *ud, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) noexcept
{
    const auto *a = static_cast<const attempt_info *>(ud);
    klaspnet_curl_event ev = event_of(*a, klaspnet_curl_event::progress);
    ev.received = dlnow > 0 ? static_cast<uint64_t>(dlnow) : 0;
    ev.expected = dltotal > 0 ? static_cast<uint64_t>(dltotal) : 0;
    g_opts.observer(g_opts.observer_ctx, &ev);
    return 0;
}

// Progress reports go to the observer, when there is one.
bool watch_setup(CURL *h, attempt_info *a) noexcept
{
    if (!g_opts.observer) return true;
    return curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, on_progress) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_XFERINFODATA, a) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
}

void notify_end(const attempt_info &a) noexcept
{
    if (!g_opts.observer) return;
    klaspnet_curl_event ev = event_of(a, klaspnet_curl_event::end);
    g_opts.observer(g_opts.observer_ctx, &ev);
}

// Failures that a later attempt may not meet: the server could not be
// reached, or went silent, or dropped the connection.
bool transient(CURLcode rc) noexcept
{
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return true;
    default: return false;
    }
}

// Answers that say "not now" (RFC 9110: 408 Request Timeout, 5xx) or "slow
// down" (RFC 6585: 429 Too Many Requests).
bool retryable_status(long status) noexcept
{
    return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

// Retry-After (RFC 9110 section 10.2.3): delay-seconds or an HTTP date; -1
// when it reads as neither.
double retry_after_seconds(const char *value) noexcept
{
    if (!value || !*value) return -1;
    const bool digits =
        std::all_of(value, value + std::strlen(value), [](char c) { return klaspnet::text::is_digit(c); });
    double s;
    if (digits) {
        s = std::strtod(value, nullptr);
    } else {
        const time_t when = curl_getdate(value, nullptr);
        if (when == static_cast<time_t>(-1)) return -1;
        s = std::difftime(when, std::time(nullptr));
        if (s < 0) s = 0;
    }
    return s < k_retry_after_max_s ? s : k_retry_after_max_s;
}

// Tells the observer and waits before attempt a.attempt + 1.
void wait_retry(const attempt_info &a, int http, const char *reason, double retry_after) noexcept
{
    double delay = 1;
    for (int i = 1; i < a.attempt && delay < k_backoff_max_s; i++) delay *= 2;
    if (delay > k_backoff_max_s) delay = k_backoff_max_s;
    if (retry_after >= 0) delay = retry_after;
    if (g_opts.observer) {
        klaspnet_curl_event ev = event_of(a, klaspnet_curl_event::retry);
        ev.http = http;
        ev.delay = delay;
        ev.reason = reason;
        g_opts.observer(g_opts.observer_ctx, &ev);
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
}

int attempts_allowed() noexcept { return g_opts.retries > 0 ? 1 + g_opts.retries : 1; }

// A fresh easy handle after libcurl's one-time initialisation; null with the
// reason in *error when either fails.
CURL *open_handle(char **error) noexcept
{
    if (!global_init()) {
        set_error(error, "libcurl initialisation failed");
        return nullptr;
    }
    CURL *h = curl_easy_init();
    if (!h) set_error(error, "out of memory");
    return h;
}

// What an attempt's outcome asks for: nothing more, or another attempt
// after the wait that the answer or the failure calls for.
struct verdict {
    bool again;
    int http;           // the status that asked for it; 0 for a failed connection
    const char *reason; // libcurl's text for a failed connection
    double retry_after; // seconds the answer asked to wait; -1 when it did not
};

constexpr verdict k_done = {false, 0, nullptr, -1};

verdict connection_retry(CURLcode rc, const attempt_info &a) noexcept
{
    return {true, 0, a.errbuf[0] ? a.errbuf : curl_easy_strerror(rc), -1};
}

// The attempts of one request: setup(h, a, may_retry) readies a fresh
// handle (false: libcurl refused an option), decide(rc, status, a,
// may_retry) judges the transfer once the handle is gone. The observer
// hears of every retry and of the end.
template <class Setup, class Decide>
void run_attempts(const char *url, char **error, Setup setup, Decide decide) noexcept
{
    attempt_info a{++g_requests, url, 0, {}, {}};
    for (const int allowed = attempts_allowed();;) {
        a.attempt++;
        a.start = std::chrono::steady_clock::now();
        a.errbuf[0] = '\0';
        const bool may_retry = a.attempt < allowed;
        CURL *h = open_handle(error);
        if (!h) break;
        if (!setup(h, a, may_retry)) {
            curl_easy_cleanup(h);
            set_error(error, "libcurl refused an option");
            break;
        }
        const CURLcode rc = curl_easy_perform(h);
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(h);
        const verdict v = decide(rc, status, a, may_retry);
        if (!v.again) break;
        wait_retry(a, v.http, v.reason, v.retry_after);
    }
    notify_end(a);
}

// ---- velkaron_io: get -------------------------------------------------------

struct body_buf {
    char *data;
    size_t len;
    size_t cap;
    bool too_big;
    bool oom;
    char retry_after[64]; // the Retry-After of the latest response, cut
};

size_t get_write(char *ptr, size_t size, size_t nmemb, void *ud) noexcept
{
    auto *b = static_cast<body_buf *>(ud);
    size_t n = size * nmemb;
    if (n > k_get_max_body - b->len) {
        b->too_big = true;
        return 0;
    }
    if (b->len + n + 1 > b->cap) {
        size_t cap = b->cap ? b->cap : 4096;
        while (cap < b->len + n + 1) cap *= 2;
        auto *p = static_cast<char *>(std::realloc(b->data, cap));
        if (!p) {
            b->oom = true;
            return 0;
        }
        b->data = p;
        b->cap = cap;
    }
    std::memcpy(b->data + b->len, ptr, n);
    b->len += n;
    b->data[b->len] = '\0';
    return n;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The header line "Name: value" (trimmed, without its line end) split at its
// colon; false for a status line, a continuation line or a line without one.
bool split_header(const char *buf, size_t len, size_t &name_end, size_t &vb, size_t &ve) noexcept
{
    if (len == 0 || buf[0] == ' ' || buf[0] == '\t') return false;
    const char *colon = static_cast<const char *>(std::memchr(buf, ':', len));
    if (!colon) return false;
    name_end = static_cast<size_t>(colon - buf);
    while (name_end > 0 && is_space(buf[name_end - 1])) name_end--;
    vb = static_cast<size_t>(colon - buf) + 1;
    ve = len;
    while (vb < ve && is_space(buf[vb])) vb++;
    while (ve > vb && is_space(buf[ve - 1])) ve--;
    return name_end > 0;
}

size_t line_length(const char *buf, size_t n) noexcept
{
    while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n')) n--;
    return n;
}

// Copies the value of a Retry-After header line into keep (cut to fit).
void keep_retry_after(const char *buf, size_t len, char (&keep)[64]) noexcept
{
    size_t name_end, vb, ve;
    if (!split_header(buf, len, name_end, vb, ve) || name_end != 11 || !curl_strnequal(buf, "Retry-After", 11)) return;
    const size_t k = ve - vb < sizeof keep - 1 ? ve - vb : sizeof keep - 1;
    std::memcpy(keep, buf + vb, k);
    keep[k] = '\0';
}

// Keeps the Retry-After of each response get sees (redirects included), so
// that a retried answer is waited for as it asked.
size_t get_header(char *buf, size_t size, size_t nmemb, void *ud) noexcept
{
    auto *b = static_cast<body_buf *>(ud);
    const size_t n = size * nmemb, len = line_length(buf, n);
    if (len >= 5 && std::memcmp(buf, "HTTP/", 5) == 0)
        b->retry_after[0] = '\0';
    else
        keep_retry_after(buf, len, b->retry_after);
    return n;
}

// Follows up to 5 redirects itself (http and https only). Credentials written
// into the URL's userinfo are sent as Basic authorization, and libcurl keeps
// them from any host other than the first one.
int32_t io_get(void *, const char *url, char **body, int32_t *status, char **error) noexcept
{
    if (body) *body = nullptr;
    if (status) *status = 0;
    if (!url || !body || !status) {
        set_error(error, "invalid arguments");
        return -1;
    }
    body_buf b{};
    int32_t result = -1;
    auto setup = [&](CURL *h, attempt_info &a, bool) noexcept {
        b = body_buf{};
        return common_setup(h, url, k_default_timeout_ms, a.errbuf) &&
               curl_easy_setopt(h, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_MAXREDIRS, k_max_redirects) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_USERAGENT, k_user_agent) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, get_write) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_WRITEDATA, &b) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, get_header) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_HEADERDATA, &b) == CURLE_OK && watch_setup(h, &a);
    };
    auto decide = [&](CURLcode rc, long code, const attempt_info &a, bool may_retry) noexcept -> verdict {
        if (may_retry && !b.too_big && !b.oom && (rc == CURLE_OK ? retryable_status(code) : transient(rc))) {
            std::free(b.data);
            if (rc == CURLE_OK) return {true, static_cast<int>(code), nullptr, retry_after_seconds(b.retry_after)};
            return connection_retry(rc, a);
        }
        if (rc != CURLE_OK) {
            std::free(b.data);
            if (b.too_big)
                set_error(error, "response body larger than 64 MiB");
            else if (b.oom)
                set_error(error, "out of memory");
            else
                set_curl_error(error, rc, a.errbuf);
            return k_done;
        }
        if (!b.data) { // an empty body is still a body
            b.data = static_cast<char *>(std::malloc(1));
            if (!b.data) {
                set_error(error, "out of memory");
                return k_done;
            }
            b.data[0] = '\0';
        }
        *body = b.data;
        *status = static_cast<int32_t>(code);
        result = 0;
        return k_done;
    };
    run_attempts(url, error, setup, decide);
    return result;
}

int32_t io_post(void *, const char *, const void *, size_t, char **body, int32_t *status, char **error) noexcept
{
    if (body) *body = nullptr;
    if (status) *status = 0;
    set_error(error, "POST is not supported by this transport");
    return -1;
}

// ---- velkaron_http: request -------------------------------------------------

struct xfer {
    const velkaron_http_req *req;
    int32_t status; // from the final status line
    bool interim;   // inside a 1xx response, whose headers are not reported
    bool stopped;   // a callback asked to stop
    bool oom;
    bool reported; // something of this attempt reached the callbacks
    bool may_retry;
    bool discard; // a retryable answer: kept from the callbacks, stopped after its headers
    char retry_after[64];
    char *scratch; // NUL-terminated copies of one header's name and value
    size_t scratch_cap;
};

// "HTTP/1.1 206 Partial Content", "HTTP/2 200": the three digits after the
// first run of spaces; -1 when the line does not have that shape.
int parse_status_line(const char *p, size_t n)
{
    size_t i = 5; // after "HTTP/"
    while (i < n && p[i] != ' ') i++;
    while (i < n && p[i] == ' ') i++;
    if (i + 3 > n) return -1;
    int v = 0;
    for (size_t k = 0; k < 3; k++) {
        char c = p[i + k];
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    if (i + 3 < n && p[i + 3] != ' ' && !is_space(p[i + 3])) return -1;
    return v;
}

bool scratch_fit(xfer *x, size_t need) noexcept
{
    if (need <= x->scratch_cap) return true;
    size_t cap = x->scratch_cap ? x->scratch_cap : 256;
    while (cap < need) cap *= 2;
    auto *p = static_cast<char *>(std::realloc(x->scratch, cap));
    if (!p) return false;
    x->scratch = p;
    x->scratch_cap = cap;
    return true;
}

int32_t report(xfer *x, const char *name, size_t name_len, const char *value, size_t value_len) noexcept
{
    if (!scratch_fit(x, name_len + value_len + 2)) {
        x->oom = true;
        return 1;
    }
    x->reported = true;
    std::memcpy(x->scratch, name, name_len);
    x->scratch[name_len] = '\0';
    char *v = x->scratch + name_len + 1;
    std::memcpy(v, value, value_len);
    v[value_len] = '\0';
    return x->req->on_header ? x->req->on_header(x->req->cb_ctx, x->scratch, v) : 0;
}

// libcurl hands over one raw header line at a time, status lines included.
// Each response header goes to on_header with name and value trimmed; the
// final status line becomes the pseudo-header ":status". A retryable answer
// on an attempt that may be repeated reaches no callback: its Retry-After is
// kept and the transfer stops at the end of its headers.
size_t req_header(char *buf, size_t size, size_t nmemb, void *ud) noexcept
{
    auto *x = static_cast<xfer *>(ud);
    const size_t n = size * nmemb, len = line_length(buf, n);
    size_t name_end, vb, ve;
    if (x->discard) {
        if (len == 0) return 0;
        keep_retry_after(buf, len, x->retry_after);
        return n;
    }
    if (len >= 5 && std::memcmp(buf, "HTTP/", 5) == 0) {
        int code = parse_status_line(buf, len);
        if (code < 0) return n;
        if (code >= 100 && code < 200) { // 100 Continue, 103 Early Hints
            x->interim = true;
            return n;
        }
        x->interim = false;
        x->status = code;
        if (x->may_retry && retryable_status(code)) {
            x->discard = true;
            return n;
        }
        char digits[16];
        int dl = std::snprintf(digits, sizeof digits, "%d", code);
        if (report(x, ":status", 7, digits, static_cast<size_t>(dl)) != 0) {
            x->stopped = true;
            return 0;
        }
        return n;
    }
    if (x->interim || len == 0) return n;
    // An obsolete folded continuation line (leading white space) or a line
    // without a colon carries no header of its own.
    if (!split_header(buf, len, name_end, vb, ve)) return n;
    if (report(x, buf, name_end, buf + vb, ve - vb) != 0) {
        x->stopped = true;
        return 0;
    }
    return n;
}

size_t req_body(char *ptr, size_t size, size_t nmemb, void *ud) noexcept
{
    auto *x = static_cast<xfer *>(ud);
    size_t n = size * nmemb;
    if (x->discard) return 0;
    if (n == 0 || !x->req->on_body) return n;
    x->reported = true;
    if (x->req->on_body(x->req->cb_ctx, ptr, n) != 0) {
        x->stopped = true;
        return 0;
    }
    return n;
}

// One attempt of one exchange; false when libcurl refused an option.
bool request_setup(CURL *h, const velkaron_http_req *req, curl_slist *hdrs, xfer *x, attempt_info *a,
                   char *errbuf) noexcept
{
    long timeout = req->timeout_ms ? static_cast<long>(req->timeout_ms) : k_default_timeout_ms;
    bool ok = common_setup(h, req->url, timeout, errbuf) &&
              curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_HTTPHEADER, hdrs) == CURLE_OK &&
              // A proxy's CONNECT answer is not the server's response.
              curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, req_header) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_HEADERDATA, x) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, req_body) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_WRITEDATA, x) == CURLE_OK && watch_setup(h, a);
    const char *method = req->method ? req->method : "GET";
    if (ok) {
        if (std::strcmp(method, "GET") == 0)
            ok = curl_easy_setopt(h, CURLOPT_HTTPGET, 1L) == CURLE_OK;
        else if (std::strcmp(method, "HEAD") == 0)
            ok = curl_easy_setopt(h, CURLOPT_NOBODY, 1L) == CURLE_OK;
        else
            ok = curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method) == CURLE_OK;
    }
    if (ok && req->user) {
        ok = curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)) == CURLE_OK &&
             curl_easy_setopt(h, CURLOPT_USERNAME, req->user) == CURLE_OK &&
             curl_easy_setopt(h, CURLOPT_PASSWORD, req->password ? req->password : "") == CURLE_OK;
    }
    return ok;
}

// One HTTP exchange: no redirect is followed (the caller follows them under
// its own rules), credentials go out as Basic authorization with the first
// request. A transfer that a callback stopped still counts as an answer.
int32_t http_request(void *, const velkaron_http_req *req, int32_t *status, char **error) noexcept
{
    if (status) *status = 0;
    if (!req || !status || req->size < sizeof(velkaron_http_req) || !req->url || (req->header_count && !req->headers)) {
        set_error(error, "invalid request record");
        return -1;
    }
    curl_slist *hdrs = nullptr;
    for (uint64_t i = 0; i < req->header_count; i++) {
        if (!req->headers[i]) continue;
        curl_slist *next = curl_slist_append(hdrs, req->headers[i]);
        if (!next) {
            curl_slist_free_all(hdrs);
            set_error(error, "out of memory");
            return -1;
        }
        hdrs = next;
    }
    xfer x{};
    int32_t result = -1;
    auto setup = [&](CURL *h, attempt_info &a, bool may_retry) noexcept {
        x = xfer{};
        x.req = req;
        x.may_retry = may_retry;
        return request_setup(h, req, hdrs, &x, &a, a.errbuf);
    };
    auto decide = [&](CURLcode rc, long code, const attempt_info &a, bool) noexcept -> verdict {
        std::free(x.scratch);
        if (x.discard) return {true, x.status, nullptr, retry_after_seconds(x.retry_after)};
        if (x.oom) {
            set_error(error, "out of memory");
            return k_done;
        }
        if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && x.stopped)) {
            if (x.may_retry && !x.reported && transient(rc)) return connection_retry(rc, a);
            set_curl_error(error, rc, a.errbuf);
            return k_done;
        }
        *status = x.status ? x.status : static_cast<int32_t>(code);
        result = 0;
        return k_done;
    };
    run_attempts(req->url, error, setup, decide);
    curl_slist_free_all(hdrs);
    return result;
}

constexpr velkaron_io k_io = {nullptr, io_get, io_post, release};
constexpr velkaron_http k_http = {sizeof(velkaron_http), 1, nullptr, http_request, release};

} // namespace

const velkaron_io *klaspnet_curl_io() { return &k_io; }
const velkaron_http *klaspnet_curl_http() { return &k_http; }

void klaspnet_curl_configure(const klaspnet_curl_options *options)
{
    g_opts = options ? *options : klaspnet_curl_options{};
}

const char *klaspnet_curl_version() { return curl_version(); }
