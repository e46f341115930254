#include "support/host.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "support/exact.h"

namespace ktest {

answer page(std::string body, int32_t status, header_list headers)
{
    answer a;
    a.status = status;
    a.headers = std::move(headers);
    a.body = std::move(body);
    return a;
}

answer redirect(int32_t status, std::string location)
{
    return page("moved", status, {{"Location", std::move(location)}});
}

answer failure(int32_t rc, std::optional<std::string> error)
{
    answer a;
    a.rc = rc;
    a.status = 0;
    a.body.reset();
    a.error = std::move(error);
    return a;
}

velkaron_io recording_host::io(bool counted_free) { return {this, get_cb, nullptr, counted_free ? free_cb : nullptr}; }

velkaron_http recording_host::http(bool counted_free)
{
    return {32, 1, this, request_cb, counted_free ? free_cb : nullptr};
}

void recording_host::clear()
{
    std::lock_guard<std::mutex> g(m_);
    gets.clear();
    requests.clear();
    next_ = 0;
    frees_ = 0;
    dirty_ = 0;
}

const answer &recording_host::pick(const char *url)
{
    if (!script.empty()) return script[next_.fetch_add(1) % script.size()];
    // A string_view key: the lookup itself allocates nothing.
    auto it = answers.find(std::string_view(url ? url : ""));
    return it == answers.end() ? unknown : it->second;
}

int32_t recording_host::get_cb(void *ctx, const char *url, char **body, int32_t *status, char **error)
{
    auto *h = static_cast<recording_host *>(ctx);
    if (*body || *error || *status) ++h->dirty_;
    if (h->record) {
        std::lock_guard<std::mutex> g(h->m_);
        h->gets.emplace_back(url ? url : "(null)");
    }
    const answer &a = h->pick(url);
    if (a.error) *error = heap_cstr(*a.error);
    *status = a.status;
    if (a.body) {
        *body = heap_cstr(*a.body);
        // A host that cannot copy its body fails the call.
        if (!*body) return -1;
    }
    return a.rc;
}

int32_t recording_host::request_cb(void *ctx, const velkaron_http_req *req, int32_t *status, char **error)
{
    auto *h = static_cast<recording_host *>(ctx);
    if (*error || *status) ++h->dirty_;
    if (h->record) {
        request r;
        r.size = req->size;
        r.method = req->method ? req->method : "(null)";
        r.url = req->url ? req->url : "(null)";
        for (uint64_t i = 0; i < req->header_count; i++) r.headers.emplace_back(req->headers[i]);
        r.has_user = req->user != nullptr;
        r.user = req->user ? req->user : "";
        r.has_password = req->password != nullptr;
        r.password = req->password ? req->password : "";
        r.timeout_ms = req->timeout_ms;
        r.reserved_zero = req->reserved0 == 0 && req->reserved1 == 0 && req->reserved2 == 0 && req->reserved3 == 0;
        std::lock_guard<std::mutex> g(h->m_);
        h->requests.push_back(std::move(r));
    }
    const answer &a = h->pick(req->url);
    if (a.error) *error = heap_cstr(*a.error);
    if (a.rc != 0) return a.rc;
    *status = a.status;
    // A nonzero answer of a callback asks the transport to stop the exchange.
    if (req->on_header) {
        if (a.status_header) {
            const std::string st = std::to_string(a.status);
            if (req->on_header(req->cb_ctx, ":status", st.c_str())) return 0;
        }
        for (const auto &[name, value] : a.headers)
            if (req->on_header(req->cb_ctx, name.c_str(), value.c_str())) return 0;
    }
    if (req->on_body && a.body) {
        const size_t piece = a.piece ? a.piece : h->piece;
        for (size_t at = 0; at < a.body->size(); at += piece) {
            const size_t n = std::min(piece, a.body->size() - at);
            if (req->on_body(req->cb_ctx, a.body->data() + at, n)) break;
        }
    }
    return 0;
}

void recording_host::free_cb(void *ctx, void *p)
{
    ++static_cast<recording_host *>(ctx)->frees_;
    std::free(p);
}

} // namespace ktest
