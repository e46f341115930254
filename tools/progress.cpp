#include "tools/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "common/text.h"
#include "tools/show.h"

namespace klaspnet::tool {

namespace {

using clock_type = std::chrono::steady_clock;

// A request is worth a word only after this long.
constexpr double k_quiet_s = 2.0;
// The status line is redrawn at most this often.
constexpr double k_redraw_s = 0.25;

struct active {
    uint64_t request;
    std::string where; // host and path, without userinfo or query
    double elapsed;
    uint64_t received;
    uint64_t expected;
};

struct board {
    std::mutex lock;
    progress_settings settings{};
    std::vector<active> requests; // oldest first
    bool shown = false;
    clock_type::time_point last_draw{};
};

board g_board;

// "host:port/path" of a URL, without scheme, userinfo, query or fragment:
// the plain road's URL may carry a password.
std::string where_of(const char *url)
{
    std::string_view u(url ? url : "");
    size_t p = u.find("://");
    u.remove_prefix(p == std::string_view::npos ? 0 : p + 3);
    u = u.substr(0, u.find_first_of("?#"));
    const size_t slash = u.find('/');
    const size_t at = u.substr(0, slash).rfind('@');
    if (at != std::string_view::npos) u.remove_prefix(at + 1);
    constexpr size_t k_max = 60;
    std::string out = shown(u.size() > k_max ? u.substr(0, k_max) : u);
    if (u.size() > k_max) out += "...";
    return out;
}

size_t terminal_width()
{
    winsize ws{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
    return 80;
}

// Under the board's lock.
void erase_line()
{
    if (!g_board.shown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    g_board.shown = false;
}

// Under the board's lock: the oldest request that has waited long enough.
void draw(clock_type::time_point now)
{
    const active *a = nullptr;
    for (const active &r : g_board.requests)
        if (r.elapsed >= k_quiet_s) {
            a = &r;
            break;
        }
    if (!a) return;
    if (g_board.shown && std::chrono::duration<double>(now - g_board.last_draw).count() < k_redraw_s) return;
    const long secs = static_cast<long>(a->elapsed);
    std::string line = "klaspnet: ";
    if (a->received == 0) {
        line += "waiting for an answer from " + a->where + " (" + std::to_string(secs) + " s)";
    } else {
        line += "receiving " + a->where + ": " + human_size(static_cast<int64_t>(a->received));
        if (a->expected) line += " of " + human_size(static_cast<int64_t>(a->expected));
        line += ", " + human_size(static_cast<int64_t>(static_cast<double>(a->received) / a->elapsed)) + "/s";
    }
    if (g_board.requests.size() > 1) line += " (+" + count_of(g_board.requests.size() - 1, "request", "requests") + ")";
    const size_t width = terminal_width() - 1;
    line.resize(klaspnet::text::utf8_cut(line.data(), line.size(), width));
    std::fputs(("\r" + line + "\033[K").c_str(), stderr);
    std::fflush(stderr);
    g_board.shown = true;
    g_board.last_draw = now;
}

void drop(uint64_t request)
{
    auto &v = g_board.requests;
    for (size_t i = 0; i < v.size(); i++)
        if (v[i].request == request) {
            v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
}

void retry_notice(const klaspnet_curl_event &ev)
{
    if (g_board.settings.quiet) return;
    std::string line = "klaspnet: " + where_of(ev.url) + ": ";
    if (ev.http)
        line += "HTTP " + std::to_string(ev.http);
    else
        line += shown(ev.reason ? ev.reason : "no answer");
    char wait[32];
    std::snprintf(wait, sizeof wait, "%g s", ev.delay);
    line += "; trying again in " + std::string(wait) + " (attempt " + std::to_string(ev.attempt + 1) + " of " +
            std::to_string(g_board.settings.attempts) + ")\n";
    std::fputs(line.c_str(), stderr);
}

void observe(void *, const klaspnet_curl_event *ev) noexcept
{
    try {
        std::lock_guard<std::mutex> g(g_board.lock);
        switch (ev->kind) {
        case klaspnet_curl_event::progress: {
            if (!g_board.settings.status_line) return;
            active *a = nullptr;
            for (active &r : g_board.requests)
                if (r.request == ev->request) a = &r;
            if (!a) {
                g_board.requests.push_back({ev->request, where_of(ev->url), 0, 0, 0});
                a = &g_board.requests.back();
            }
            a->elapsed = ev->elapsed;
            a->received = ev->received;
            a->expected = ev->expected;
            draw(clock_type::now());
            return;
        }
        case klaspnet_curl_event::retry:
            erase_line();
            drop(ev->request);
            retry_notice(*ev);
            return;
        case klaspnet_curl_event::end:
            drop(ev->request);
            if (g_board.requests.empty()) erase_line();
            return;
        }
    } catch (...) {
        // Out of memory while composing a line: the word is dropped.
    }
}

} // namespace

void progress_start(const progress_settings &s, klaspnet_curl_options &transport)
{
    g_board.settings = s;
    if (!s.status_line && (s.quiet || s.attempts < 2)) return;
    transport.observer = observe;
    transport.observer_ctx = nullptr;
}

status_pause::status_pause() : held_(g_board.settings.status_line)
{
    if (!held_) return;
    g_board.lock.lock();
    erase_line();
}

status_pause::~status_pause()
{
    if (held_) g_board.lock.unlock();
}

} // namespace klaspnet::tool
