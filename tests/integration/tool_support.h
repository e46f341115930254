// What the tests of the command-line tool need beside the harness: running
// the tool as a program (its two output streams apart, on a terminal, or
// interrupted), the servers only these tests use (an nginx over TLS with a
// certificate made for the run, nginx instances printing local times in
// other time zones, an nginx over a small tree of hostile names and a folder
// it may not read), and a tiny HTTP server for behaviour no real server shows
// on demand (silence, 503 then 200, a page of any shape).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tt {

// ---- running the tool ----

struct ran {
    int status = -1; // the exit status, or -1 after a signal
    int signal = 0;  // the signal that ended it
    std::string out; // standard output
    std::string err; // standard error
    double seconds = 0;
};

struct run_opts {
    std::vector<std::string> env; // "NAME=value" added, "NAME" removed
    std::string input;            // standard input
    std::string stdout_path;      // standard output goes to this file instead (e.g. /dev/full)
    double interrupt_after = 0;   // send SIGINT after this many seconds
};

// Runs the built tool with args (no shell between). Variables that would
// change its behaviour (KLASPNET_PASSWORD, SSL_CERT_FILE, SSL_CERT_DIR,
// CURL_CA_BUNDLE, proxies) are removed unless opts.env sets them.
ran tool(const std::vector<std::string> &args, const run_opts &opts = {});
// The same on a pseudo-terminal: standard output and error both go to it,
// and err holds what it showed.
ran tool_on_terminal(const std::vector<std::string> &args);

// Lines of the table printed by list or parse: its name column (from
// "NAME" on), its SIZE column and whether the size was asked (*).
struct row {
    std::string type;
    std::string size; // as printed, "-" for none
    bool asked = false;
    std::string human;
    std::string modified;
    std::string name; // everything after the time column
};
std::vector<row> table_rows(const std::string &out);

// ---- servers ----

struct tool_servers {
    std::string cert;     // the TLS server's certificate (PEM), made for this run
    std::string cert_dir; // a folder holding it under its hash name
    int https = 0;        // nginx over TLS serving /media/ (exact sizes)
    int kolkata = 0;      // nginx, TZ=Asia/Kolkata, autoindex_localtime on
    int new_york = 0;     // nginx, TZ=America/New_York, autoindex_localtime on
    int tree = 0;         // nginx over the tool's own tree at /t/
    std::string tree_dir; // that tree in the filesystem
};
// Started on first use; null (with the reason) when they cannot be.
const tool_servers *servers(std::string &err);

// Names in the tool's tree (below /t/names/).
extern const char *const k_rtl_name;      // "rtl" U+202E "gnp.exe"
extern const char *const k_c1_name;       // "c1 " U+009B "31m.txt"
extern const char *const k_lead_name;     // " leading space.txt"
extern const char *const k_trail_name;    // "trailing space.txt "
extern const char *const k_escape_folder; // ESC "[31mRED": a folder whose title holds ESC

// A one-thread HTTP/1.1 server on 127.0.0.1 that answers each request as
// the handler says (one connection, one request).
class tiny_server {
public:
    struct reply {
        int status = 200;
        std::string headers; // "Name: value\r\n" lines
        std::string body;
        bool silent = false;        // accept, read the request, never answer
        double trickle_seconds = 0; // send the body in pieces over this long
    };
    using handler = std::function<reply(const std::string &path, int nth)>;

    explicit tiny_server(handler h);
    ~tiny_server();
    tiny_server(const tiny_server &) = delete;
    tiny_server &operator=(const tiny_server &) = delete;

    std::string url(const std::string &path = "/") const;
    int requests() const;

private:
    void loop();
    handler h_;
    int listen_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    int port_ = 0;
    mutable std::mutex lock_;
    int requests_ = 0;
    std::vector<int> held_; // connections left unanswered
    std::thread thread_;
};

// A port where connections are never accepted: the kernel's queue is full,
// so a connect attempt waits until its own timeout.
class full_listener {
public:
    full_listener();
    ~full_listener();
    std::string url() const;

private:
    int fd_ = -1;
    int filler_ = -1;
    int port_ = 0;
};

// An nginx-shaped listing page (pre form) titled "Index of TITLE" with the
// given (already HTML-escaped) link lines.
std::string nginx_page(const std::string &title, const std::vector<std::string> &names);

// The argument quoted for a POSIX shell.
std::string shell_quote(const std::string &s);

} // namespace tt

// At the top of a test body: the harness's servers and the tool's own, or a
// skip (where allowed) or failure, as IT_REQUIRE_SERVERS does.
#define TT_REQUIRE_TOOL_SERVERS(var)                                                                                   \
  IT_REQUIRE_SERVERS();                                                                                                \
  std::string var##_why;                                                                                               \
  const tt::tool_servers *var = tt::servers(var##_why);                                                                \
  if (!var) GTEST_FAIL() << "the tool's servers cannot run: " << var##_why
