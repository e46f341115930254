#include "tool_support.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "harness.h"
#include "support/texts.h"

extern char **environ;

namespace tt {

namespace {

using clock_type = std::chrono::steady_clock;

double since(clock_type::time_point t0) { return std::chrono::duration<double>(clock_type::now() - t0).count(); }

// The tool's environment: the test's own, without what would change the
// tool's behaviour, with the test's additions.
std::vector<std::string> environment(const std::vector<std::string> &changes)
{
    std::vector<std::string> drop = {"KLASPNET_PASSWORD", "SSL_CERT_FILE", "SSL_CERT_DIR", "CURL_CA_BUNDLE",
                                     "http_proxy",        "HTTP_PROXY",    "https_proxy",  "HTTPS_PROXY",
                                     "all_proxy",         "ALL_PROXY"};
    for (const std::string &c : changes) drop.push_back(c.substr(0, c.find('=')));
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) {
        std::string v = *e;
        bool keep = true;
        for (const std::string &d : drop) keep = keep && v.compare(0, d.size() + 1, d + "=") != 0;
        if (keep) env.push_back(v);
    }
    for (const std::string &c : changes)
        if (c.find('=') != std::string::npos) env.push_back(c);
    return env;
}

std::vector<char *> c_array(std::vector<std::string> &v)
{
    std::vector<char *> out;
    for (std::string &s : v) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Reads both pipes until both end.
void drain(int out_fd, int err_fd, std::string &out, std::string &err, pid_t pid, double interrupt_after,
           clock_type::time_point t0)
{
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *sink[2] = {&out, &err};
    int open_count = 2;
    bool interrupted = false;
    char buf[65536];
    while (open_count > 0) {
        int timeout = -1;
        if (interrupt_after > 0 && !interrupted) {
            const double left = interrupt_after - since(t0);
            if (left <= 0) {
                kill(pid, SIGINT);
                interrupted = true;
            } else {
                timeout = static_cast<int>(left * 1000) + 1;
            }
        }
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sink[i]->append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_count--;
            }
        }
    }
}

void finish(ran &r, pid_t pid, clock_type::time_point t0)
{
    int st = 0;
    waitpid(pid, &st, 0);
    r.seconds = since(t0);
    if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
    if (WIFSIGNALED(st)) r.signal = WTERMSIG(st);
}

} // namespace

ran tool(const std::vector<std::string> &args, const run_opts &opts)
{
    ran r;
    std::vector<std::string> argv = {it::tool_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = environment(opts.env);
    int out_pipe[2], err_pipe[2], in_pipe[2];
    if (pipe(out_pipe) || pipe(err_pipe) || pipe(in_pipe)) return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in_pipe[0], 0);
    if (opts.stdout_path.empty())
        posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
    else
        posix_spawn_file_actions_addopen(&fa, 1, opts.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, err_pipe[1], 2);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1], in_pipe[0], in_pipe[1]})
        posix_spawn_file_actions_addclose(&fa, fd);
    // A session of its own: no controlling terminal to ask a password on.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    auto a = c_array(argv), e = c_array(env);
    const auto t0 = clock_type::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, a[0], &fa, &attr, a.data(), e.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(out_pipe[1]);
    close(err_pipe[1]);
    close(in_pipe[0]);
    if (!opts.input.empty() && rc == 0) {
        signal(SIGPIPE, SIG_IGN);
        if (write(in_pipe[1], opts.input.data(), opts.input.size()) < 0) {}
    }
    close(in_pipe[1]);
    if (rc != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return r;
    }
    drain(out_pipe[0], err_pipe[0], r.out, r.err, pid, opts.interrupt_after, t0);
    finish(r, pid, t0);
    return r;
}

ran tool_on_terminal(const std::vector<std::string> &args)
{
    ran r;
    std::vector<std::string> argv = {it::tool_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = environment({"TERM=dumb"});
    auto a = c_array(argv), e = c_array(env);
    winsize ws{};
    ws.ws_col = 200;
    ws.ws_row = 24;
    int master = -1;
    const auto t0 = clock_type::now();
    const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    if (pid < 0) return r;
    if (pid == 0) {
        execve(a[0], a.data(), e.data());
        _exit(127);
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0)
            r.err.append(buf, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // EIO once the program has ended and the terminal closed
    }
    close(master);
    finish(r, pid, t0);
    return r;
}

std::vector<row> table_rows(const std::string &out)
{
    // TYPE(4) SIZE(15) flag(1) HUMAN(10) MODIFIED(20) NAME, as the header says.
    std::vector<row> rows;
    size_t name_col = std::string::npos;
    for (size_t b = 0; b < out.size();) {
        size_t e = out.find('\n', b);
        if (e == std::string::npos) e = out.size();
        const std::string line = out.substr(b, e - b);
        b = e + 1;
        if (line.rfind("TYPE", 0) == 0) {
            name_col = line.find("NAME");
            continue;
        }
        if (name_col == std::string::npos || line.size() < name_col) continue;
        auto trim = [](std::string s) {
            while (!s.empty() && s.front() == ' ') s.erase(0, 1);
            while (!s.empty() && s.back() == ' ') s.pop_back();
            return s;
        };
        row r;
        r.type = trim(line.substr(0, 4));
        r.size = trim(line.substr(5, 15));
        r.asked = line[20] == '*';
        r.human = trim(line.substr(22, 10));
        r.modified = trim(line.substr(34, 20));
        r.name = line.substr(name_col);
        rows.push_back(r);
    }
    return rows;
}

// ---- servers --------------------------------------------------------------------------

const char *const k_rtl_name = "rtl\xE2\x80\xAEgnp.exe";
const char *const k_c1_name = "c1 \xC2\x9B"
                              "31m.txt";
const char *const k_lead_name = " leading space.txt";
const char *const k_trail_name = "trailing space.txt ";
const char *const k_escape_folder = "\x1B[31mRED";

namespace {

bool put_file(const std::string &path, int64_t size, std::string &err)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool ok = fd >= 0 && ftruncate(fd, size) == 0;
    if (fd >= 0) close(fd);
    if (!ok) err = "cannot create " + path + ": " + std::strerror(errno);
    return ok;
}

bool make_tree(const std::string &root, std::string &err)
{
    const std::string t = root + "/t";
    for (const std::string &d : {root, t, t + "/open", t + "/sizes", t + "/names", t + "/" + k_escape_folder})
        if (mkdir(d.c_str(), 0755) != 0) {
            err = "mkdir " + d + ": " + std::strerror(errno);
            return false;
        }
    // A folder the server may not read: it answers 403 for its listing.
    if (mkdir((t + "/locked").c_str(), 0) != 0) {
        err = "mkdir locked";
        return false;
    }
    return put_file(t + "/open/a.txt", 3, err) && put_file(t + "/sizes/mebi-1.bin", 1048575, err) &&
           put_file(t + "/sizes/gibi-1.bin", 1073741823, err) && put_file(t + "/names/" + k_rtl_name, 10, err) &&
           put_file(t + "/names/" + k_c1_name, 11, err) && put_file(t + "/names/" + k_lead_name, 12, err) &&
           put_file(t + "/names/" + k_trail_name, 13, err);
}

bool make_certificate(const std::string &dir, tool_servers &s, std::string &err)
{
    s.cert = dir + "/cert.pem";
    s.cert_dir = dir + "/hashed";
    mkdir(s.cert_dir.c_str(), 0755);
    const std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                            " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout " +
                            shell_quote(dir + "/key.pem") + " -out " + shell_quote(s.cert) + " >/dev/null 2>&1 && cp " +
                            shell_quote(s.cert) + " " + shell_quote(s.cert_dir + "/klaspnet-test.pem") +
                            " && openssl rehash " + shell_quote(s.cert_dir) + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) {
        err = "openssl could not make a certificate (is openssl installed? run scripts/setup)";
        return false;
    }
    chmod((dir + "/key.pem").c_str(), 0644); // nginx's master reads it; keep it readable
    return true;
}

tool_servers *start(std::string &err)
{
    auto *s = new tool_servers;
    const std::string dir = it::work_dir() + "/tool";
    mkdir(dir.c_str(), 0755);
    s->tree_dir = dir + "/www";
    if (!make_tree(s->tree_dir, err) || !make_certificate(dir, *s, err)) return nullptr;
    const std::string listing = "    autoindex on;\n    autoindex_exact_size on;\n";
    std::vector<int> p = it::start_more_nginx(
        "tool-nginx", 2, "UTC",
        "  server {\n    listen 127.0.0.1:@PORT0@;\n    root " + s->tree_dir + ";\n" + listing +
            "  }\n  server {\n    listen 127.0.0.1:@PORT1@ ssl;\n    root @WWW@;\n" + listing + "    ssl_certificate " +
            s->cert + ";\n    ssl_certificate_key " + dir + "/key.pem;\n  }\n",
        err);
    if (p.empty()) return nullptr;
    s->tree = p[0];
    s->https = p[1];
    const std::string local =
        "  server {\n    listen 127.0.0.1:@PORT0@;\n    root @WWW@;\n" + listing + "    autoindex_localtime on;\n  }\n";
    p = it::start_more_nginx("tool-kolkata", 1, "Asia/Kolkata", local, err);
    if (p.empty()) return nullptr;
    s->kolkata = p[0];
    p = it::start_more_nginx("tool-new-york", 1, "America/New_York", local, err);
    if (p.empty()) return nullptr;
    s->new_york = p[0];
    return s;
}

} // namespace

const tool_servers *servers(std::string &err)
{
    static std::string why;
    static const tool_servers *s = start(why);
    err = why;
    return s;
}

// ---- tiny_server ------------------------------------------------------------------------

namespace {

int loopback_socket(int backlog, int &port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

bool send_all(int fd, const std::string &s)
{
    for (size_t off = 0; off < s.size();) {
        const ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

const char *reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

tiny_server::tiny_server(handler h) : h_(std::move(h))
{
    listen_fd_ = loopback_socket(16, port_);
    if (pipe(stop_pipe_) != 0) stop_pipe_[0] = stop_pipe_[1] = -1;
    thread_ = std::thread([this] { loop(); });
}

tiny_server::~tiny_server()
{
    if (stop_pipe_[1] >= 0 && write(stop_pipe_[1], "x", 1) < 0) {}
    thread_.join();
    for (int fd : held_) close(fd);
    for (int fd : {listen_fd_, stop_pipe_[0], stop_pipe_[1]})
        if (fd >= 0) close(fd);
}

std::string tiny_server::url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int tiny_server::requests() const
{
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
}

void tiny_server::loop()
{
    for (;;) {
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        const int c = accept(listen_fd_, nullptr, nullptr);
        if (c < 0) continue;
        std::string req;
        char buf[4096];
        while (req.find("\r\n\r\n") == std::string::npos) {
            pollfd p{c, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) break;
            const ssize_t n = read(c, buf, sizeof buf);
            if (n <= 0) break;
            req.append(buf, static_cast<size_t>(n));
        }
        const size_t sp = req.find(' '), sp2 = req.find(' ', sp + 1);
        const std::string path = sp == std::string::npos ? "/" : req.substr(sp + 1, sp2 - sp - 1);
        int nth;
        {
            std::lock_guard<std::mutex> g(lock_);
            nth = ++requests_;
        }
        const reply r = h_(path, nth);
        if (r.silent) {
            held_.push_back(c);
            continue;
        }
        const std::string head = "HTTP/1.1 " + std::to_string(r.status) + " " + reason(r.status) +
                                 "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(r.body.size()) +
                                 "\r\nConnection: close\r\n" + r.headers + "\r\n";
        constexpr int k_pieces = 8;
        bool ok = send_all(c, head);
        if (r.trickle_seconds > 0) {
            const size_t piece = (r.body.size() + k_pieces - 1) / k_pieces;
            for (size_t off = 0; ok && off < r.body.size(); off += piece) {
                std::this_thread::sleep_for(std::chrono::duration<double>(r.trickle_seconds / k_pieces));
                ok = send_all(c, r.body.substr(off, piece));
            }
        } else if (ok) {
            send_all(c, r.body);
        }
        close(c);
    }
}

full_listener::full_listener()
{
    // A backlog of 0 holds one connection; with it taken, the kernel drops
    // the next one's SYN and the client waits.
    fd_ = loopback_socket(0, port_);
    filler_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port_));
    if (connect(filler_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {}
}

full_listener::~full_listener()
{
    close(filler_);
    close(fd_);
}

std::string full_listener::url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

std::string nginx_page(const std::string &title, const std::vector<std::string> &names)
{
    std::string page = "<html>\r\n<head><title>Index of " + title + "</title></head>\r\n<body>\r\n<h1>Index of " +
                       title + "</h1><hr><pre><a href=\"../\">../</a>\r\n";
    for (const std::string &n : names) {
        std::string text;
        for (char c : n) text += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
        page += "<a href=\"" + ktest::pct_encode(n) + "\">" + text +
                "</a>                                       11-Dec-2021 23:59                1234\r\n";
    }
    return page + "</pre><hr></body>\r\n</html>\r\n";
}

std::string shell_quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace tt
