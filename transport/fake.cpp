// The built-in scripted transport.
//
// It answers from a script of pages keyed by URL, through both transport
// interfaces: the version-1 velkaron_io (whose get follows scripted redirects
// like a real host transport would) and the velkaron_http extension (one
// exchange per request, headers and body through the callbacks). Hosts and
// tests drive every operation with it without a network, and read back how
// often a URL was asked for, whether the request carried credentials and
// which Range it asked for.
#include "transport/fake.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/chars.h"
#include "common/limits.h"
#include "listing/kldlp.h"
#include "platform/platform.h"
#include "source/buf.h"
#include "source/transport_select.h"

namespace {

constexpr char k_404_body[] = "<html><body><h1>404 Not Found</h1></body></html>";
constexpr char k_404_headers[] = "Content-Type: text/html";
constexpr char k_fail_default[] = "fake: transport failure";
constexpr char k_oom[] = "fake: out of memory";
constexpr size_t k_piece = 4096;
// A real transport gives up after this many hops; the sixth redirect fails.
constexpr int k_redirect_budget = klaspnet::limits::redirects_max + 1;

struct fake_page {
    char *url; // key, compared byte for byte
    int status;
    char *headers;  // "Name: value" lines separated by LF, or null
    char *body;     // null: a failure record
    char *fail_msg; // error text of a failure record, or null
    uint32_t calls;
    char *range; // Range value of the last request(), null after get()
    int auth;    // the last request carried credentials
};

struct fake_script {
    klaspnet::platform::lock lock; // g_fl: guards everything below
    fake_page *r = nullptr;
    size_t n = 0;
    size_t cap = 0;
    uint32_t total = 0;
    char *lastreq = nullptr;

    void clear()
    {
        for (size_t i = 0; i < n; i++) {
            std::free(r[i].url);
            std::free(r[i].headers);
            std::free(r[i].body);
            std::free(r[i].fail_msg);
            std::free(r[i].range);
        }
        std::free(r);
        std::free(lastreq);
        r = nullptr;
        n = cap = 0;
        total = 0;
        lastreq = nullptr;
    }
    ~fake_script() { clear(); }
};

constinit fake_script g_fl{};

void set_error(char **error, const char *text)
{
    if (error) *error = klaspnet_strdup(text);
}

// Called with g_fl held.
fake_page *find(const char *url)
{
    for (size_t i = 0; i < g_fl.n; i++) {
        if (std::strcmp(g_fl.r[i].url, url) == 0) return &g_fl.r[i];
    }
    return nullptr;
}

// Called with g_fl held. Re-scripting a URL keeps its place and counters.
fake_page *upsert(const char *url)
{
    if (fake_page *p = find(url)) {
        std::free(p->headers);
        std::free(p->body);
        std::free(p->fail_msg);
        p->headers = p->body = p->fail_msg = nullptr;
        return p;
    }
    if (g_fl.n == g_fl.cap) {
        size_t cap = g_fl.cap ? g_fl.cap * 2 : 16;
        auto *grown = static_cast<fake_page *>(std::realloc(g_fl.r, cap * sizeof(fake_page)));
        if (!grown) return nullptr;
        g_fl.r = grown;
        g_fl.cap = cap;
    }
    fake_page *p = &g_fl.r[g_fl.n];
    *p = fake_page{};
    p->url = klaspnet_strdup(url);
    if (!p->url) return nullptr;
    g_fl.n++;
    return p;
}

// The lookup key of a GET: the URL without the userinfo of its authority.
// Sets auth when there was one. Null when out of memory.
char *strip_userinfo(const char *url, int *auth)
{
    *auth = 0;
    const char *sep = std::strstr(url, "://");
    if (sep) {
        const char *a = sep + 3;
        size_t alen = std::strcspn(a, "/?#");
        const char *at = nullptr;
        for (size_t i = 0; i < alen; i++) {
            if (a[i] == '@') at = a + i;
        }
        if (at) {
            *auth = 1;
            size_t head = static_cast<size_t>(a - url);
            size_t tail = std::strlen(at + 1);
            auto *key = static_cast<char *>(std::malloc(head + tail + 1));
            if (!key) return nullptr;
            std::memcpy(key, url, head);
            std::memcpy(key + head, at + 1, tail + 1);
            return key;
        }
    }
    return klaspnet_strdup(url);
}

bool is_space_or_cr(char c) { return c == ' ' || c == '\r'; }

// The value of the first "Location:" line of a header text (leading spaces,
// trailing spaces and CRs removed), as a pointer and length into the text.
bool find_location(const char *text, const char **value, size_t *len)
{
    const char *line = text;
    while (*line) {
        const char *end = std::strchr(line, '\n');
        size_t n = end ? static_cast<size_t>(end - line) : std::strlen(line);
        if (n > 8 && line[8] == ':' && klaspnet::text::ci_equal(line, "location", 8)) {
            const char *v = line + 9;
            const char *e = line + n;
            while (v < e && *v == ' ') v++;
            while (e > v && is_space_or_cr(e[-1])) e--;
            *value = v;
            *len = static_cast<size_t>(e - v);
            return true;
        }
        if (!end) break;
        line = end + 1;
    }
    return false;
}

// What one scripted exchange answers, copied out of the script under g_fl.
struct scripted {
    int status = 0;
    char *headers = nullptr; // the header text; null when not wanted or none
    char *body = nullptr;
    char *error = nullptr; // a failure record's message
    bool failure = false;
    bool oom = false;
    ~scripted()
    {
        std::free(headers);
        std::free(body);
        std::free(error);
    }
};

// One request reaches the script: the total and the record's calls are
// counted, its last range (null but for a request that carried one) and
// auth flag recorded, and its answer copied out. with_headers asks for the
// header text ("" when the record has none); a GET needs it only to find
// the Location of a redirect.
void take(const char *url, const char *range, int auth, bool with_headers, scripted *out)
{
    klaspnet::platform::guard g(g_fl.lock);
    g_fl.total++;
    fake_page *p = find(url);
    if (!p) {
        out->status = 404;
        out->body = klaspnet_strdup(k_404_body);
        if (with_headers) out->headers = klaspnet_strdup(k_404_headers);
        out->oom = !out->body || (with_headers && !out->headers);
        return;
    }
    p->calls++;
    std::free(p->range);
    p->range = range ? klaspnet_strdup(range) : nullptr;
    out->oom = range && !p->range;
    p->auth = auth;
    if (!p->body) {
        out->failure = true;
        out->error = klaspnet_strdup(p->fail_msg ? p->fail_msg : k_fail_default);
        if (!out->error) out->error = klaspnet_strdup(k_fail_default);
        return;
    }
    out->status = p->status;
    out->body = klaspnet_strdup(p->body);
    if (with_headers) out->headers = klaspnet_strdup(p->headers ? p->headers : "");
    out->oom = out->oom || !out->body || (with_headers && !out->headers);
}

// Hands a heap text to an output pointer, or frees it when there is none.
void hand_out(char **to, char *&text)
{
    if (to)
        *to = text;
    else
        std::free(text);
    text = nullptr;
}

int32_t fake_get(void *, const char *url, char **body, int32_t *status, char **error)
{
    if (body) *body = nullptr;
    if (status) *status = 0;
    if (error) *error = nullptr;
    if (!url) {
        set_error(error, "null url");
        return -1;
    }
    int auth = 0;
    char *key = strip_userinfo(url, &auth);
    if (!key) {
        set_error(error, k_oom);
        return -1;
    }
    int budget = k_redirect_budget;
    for (;;) {
        scripted a;
        take(key, nullptr, auth, true, &a);
        if (a.failure) {
            std::free(key);
            hand_out(error, a.error);
            return -1;
        }
        const char *v = nullptr;
        size_t vlen = 0;
        const bool redirect =
            !a.oom && a.status >= 300 && a.status <= 399 && find_location(a.headers, &v, &vlen) && vlen > 0;
        if (a.oom) {
            std::free(key);
            set_error(error, k_oom);
            return -1;
        }
        if (!redirect) {
            std::free(key);
            hand_out(body, a.body);
            if (status) *status = a.status;
            return 0;
        }
        if (--budget == 0) {
            std::free(key);
            set_error(error, "Maximum (5) redirects followed");
            return -1;
        }
        // The Location value ends at its line's end: resolved from a copy.
        char *location = static_cast<char *>(std::malloc(vlen + 1));
        size_t size = std::strlen(key) + vlen + 8;
        auto *next = location ? static_cast<char *>(std::malloc(size)) : nullptr;
        int rc = -1;
        if (next) {
            std::memcpy(location, v, vlen);
            location[vlen] = '\0';
            rc = kldlp_resolve(key, location, next, size);
        }
        std::free(location);
        std::free(key);
        if (rc != 0) {
            std::free(next);
            set_error(error, next ? "fake: bad Location" : k_oom);
            return -1;
        }
        key = next;
    }
}

int32_t fake_post(void *ctx, const char *url, const void *, size_t, char **body, int32_t *status, char **error)
{
    return fake_get(ctx, url, body, status, error);
}

void fake_free(void *, void *p) { std::free(p); }

// Splits one header line in place into name and value and hands them on.
// Returns the callback's answer; lines without a colon are skipped (0).
int32_t deliver_line(const velkaron_http_req *req, char *line, char *end)
{
    char *colon = static_cast<char *>(std::memchr(line, ':', static_cast<size_t>(end - line)));
    if (!colon) return 0;
    *colon = '\0';
    char *v = colon + 1;
    while (v < end && *v == ' ') v++;
    while (end > v && is_space_or_cr(end[-1])) end--;
    *end = '\0';
    return req->on_header(req->cb_ctx, line, v);
}

int32_t fake_request(void *, const velkaron_http_req *req, int32_t *status, char **error)
{
    if (status) *status = 0;
    if (error) *error = nullptr;
    if (!req || req->size < sizeof(velkaron_http_req) || !req->url) {
        set_error(error, "bad request");
        return -1;
    }
    const char *range = nullptr;
    if (req->headers) {
        for (uint64_t i = 0; i < req->header_count; i++) {
            const char *h = req->headers[i];
            if (h && std::strncmp(h, "Range: ", 7) == 0) range = h + 7;
        }
    }
    scripted a;
    take(req->url, range, req->user != nullptr, true, &a);
    if (a.failure) {
        hand_out(error, a.error);
        return -1;
    }
    if (a.oom) {
        set_error(error, k_oom);
        return -1;
    }

    if (status) *status = a.status;
    bool stopped = false;
    if (req->on_header) {
        char num[24];
        std::snprintf(num, sizeof num, "%ld", static_cast<long>(a.status));
        stopped = req->on_header(req->cb_ctx, ":status", num) != 0;
        char *line = a.headers;
        while (!stopped && *line) {
            char *end = std::strchr(line, '\n');
            char *next = end ? end + 1 : nullptr;
            if (!end) end = line + std::strlen(line);
            stopped = deliver_line(req, line, end) != 0;
            if (!next) break;
            line = next;
        }
    }
    if (!stopped && req->on_body) {
        size_t len = std::strlen(a.body);
        for (size_t off = 0; off < len;) {
            size_t n = len - off < k_piece ? len - off : k_piece;
            if (req->on_body(req->cb_ctx, a.body + off, n) != 0) break;
            off += n;
        }
    }
    return 0;
}

constexpr velkaron_io g_fake_io = {nullptr, fake_get, fake_post, fake_free};
constexpr velkaron_http g_fake_http = {sizeof(velkaron_http), 1, nullptr, fake_request, fake_free};

// Texts that a JSON string would need to escape are reported as null rather
// than escaped: the library only ever sends short plain Range values.
bool range_printable(const char *r)
{
    size_t n = 0;
    for (const char *s = r; *s; s++, n++) {
        unsigned char c = static_cast<unsigned char>(*s);
        if (c == '"' || c == '\\' || c < 0x20 || n >= 63) return false;
    }
    return true;
}

} // namespace

const velkaron_io *klaspnet_io_fake() { return &g_fake_io; }
const velkaron_http *klaspnet_http_fake() { return &g_fake_http; }

int32_t klaspnet_use_fake_impl()
{
    klaspnet_io_select(klaspnet_io_fake());
    return KLASPNET_OK;
}

void klaspnet_fake_reset_impl()
{
    klaspnet::platform::guard g(g_fl.lock);
    g_fl.clear();
}

int32_t klaspnet_fake_set_impl(const char *url, int32_t status, const char *header_text, const char *body)
{
    if (!url || !body) return KLASPNET_E_INVALID;
    klaspnet::platform::guard g(g_fl.lock);
    fake_page *p = upsert(url);
    if (!p) return KLASPNET_E_FAILED;
    p->body = klaspnet_strdup(body);
    if (!p->body) return KLASPNET_E_FAILED;
    if (header_text) {
        p->headers = klaspnet_strdup(header_text);
        if (!p->headers) return KLASPNET_E_FAILED;
    }
    p->status = status;
    return KLASPNET_OK;
}

int32_t klaspnet_fake_fail_impl(const char *url, const char *message)
{
    if (!url) return KLASPNET_E_INVALID;
    klaspnet::platform::guard g(g_fl.lock);
    fake_page *p = upsert(url); // leaves header text and body null: a failure record
    if (!p) return KLASPNET_E_FAILED;
    p->fail_msg = klaspnet_strdup(message ? message : k_fail_default);
    return p->fail_msg ? KLASPNET_OK : KLASPNET_E_FAILED;
}

uint32_t klaspnet_fake_calls_impl(const char *url)
{
    klaspnet::platform::guard g(g_fl.lock);
    if (!url) return g_fl.total;
    const fake_page *p = find(url);
    return p ? p->calls : 0;
}

const char *klaspnet_fake_last_request_impl(const char *url)
{
    char buf[256];
    klaspnet::platform::guard g(g_fl.lock);
    const fake_page *p = url ? find(url) : nullptr;
    if (!p) {
        std::snprintf(buf, sizeof buf, "{\"calls\":0,\"range\":null,\"auth\":false}");
    } else if (!p->range || !range_printable(p->range)) {
        std::snprintf(buf, sizeof buf, "{\"calls\":%lu,\"range\":null,\"auth\":%s}",
                      static_cast<unsigned long>(p->calls), p->auth ? "true" : "false");
    } else {
        std::snprintf(buf, sizeof buf, "{\"calls\":%lu,\"range\":\"%s\",\"auth\":%s}",
                      static_cast<unsigned long>(p->calls), p->range, p->auth ? "true" : "false");
    }
    std::free(g_fl.lastreq);
    g_fl.lastreq = klaspnet_strdup(buf);
    return g_fl.lastreq ? g_fl.lastreq : "{}";
}
