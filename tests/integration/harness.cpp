#include "harness.h"

#include <gtest/gtest.h>

#include <crypt.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "support/data.h"
#include "transport/curl_transport.h"

namespace it {

const char *const k_user = "listener";
const char *const k_password = "s3cr et:\xC3\xA4@#/";

int64_t utc(int y, int mo, int d, int h, int mi, int s)
{
    // days from civil (H. Hinnant)
    y -= mo <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (mo > 2 ? mo - 3 : mo + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + static_cast<int64_t>(doe) - 719468;
    return days * 86400 + h * 3600 + mi * 60 + s;
}

// ---- the tree ---------------------------------------------------------------

namespace {

std::string g_work;  // temporary folder: configurations, logs and www/
std::string g_media; // g_work + "/www/media"

std::vector<node> make_tree()
{
    const int64_t t_a = utc(2021, 12, 11, 23, 59, 30); // day 11: could pass for a month
    const int64_t t_b = utc(2019, 6, 25, 8, 7, 0);     // day 25: a day only
    const int64_t t_c = utc(2023, 3, 4, 12, 34, 56);   // 4 March: both readings possible
    const int64_t t_d = utc(2020, 2, 29, 0, 0, 59);
    const int64_t t_e = utc(2024, 10, 13, 17, 5, 0);
    std::string long_ascii(196, 'L');
    long_ascii += ".mp3"; // 200 bytes
    std::string long_utf8;
    for (int i = 0; i < 123; i++) long_utf8 += "\xC3\xA9"; // é
    long_utf8 += ".mp3";                                   // 250 bytes
    std::string longest(251, 'N');
    longest += ".txt"; // 255 bytes, the longest name the filesystem takes
    std::string long_folder(200, 'F');

    std::vector<node> t = {
        {"a b & c.mp3", false, 999, t_a},
        {"track #1.flac", false, 1000, t_b},
        {"100% pure.ogg", false, 1024, t_c},
        {"c++ + more.txt", false, 0, t_d},
        {"quote \"double\" 'single'.mp3", false, 12345, t_e},
        {"\xC3\x9Cn\xC3\xAF"
         "c\xC3\xB6"
         "d\xC3\xA9 \xE2\x80\x93 na\xC3\xAFve.mp3",
         false, 2048, t_a},
        {"\xF0\x9F\x8E\xB5 emoji \xF0\x9F\x8E\xB6.m4a", false, 4096, t_b},
        {"what?.mp3", false, 10, t_c},
        {"semi;colon=eq,comma.txt", false, 1, t_d},
        {"colon:in name.txt", false, 5, t_e},
        {"<angle> [brackets] {braces}.txt", false, 7, t_a},
        {long_ascii, false, 200, t_b},
        {long_utf8, false, 250, t_c},
        {longest, false, 255, t_d},
        {".hidden", false, 3, t_e},
        {"...", false, 4, t_a},
        {"big.bin", false, 123456789, t_b},
        {"Empty", true, 0, t_c},
        {"Music", true, 0, t_a},
        {"Music/Jazz & Blues", true, 0, t_b},
        {"Music/Jazz & Blues/So What.mp3", false, 5000, t_c},
        {"Music/Jazz & Blues/Blue in Green (take 2).mp3", false, 999999, t_d},
        {"Music/Rock", true, 0, t_e},
        {"Music/Rock/Nested", true, 0, t_a},
        {"Music/Rock/Nested/Deeper", true, 0, t_b},
        {"Music/Rock/Nested/Deeper/deepest file.flac", false, 123, t_c},
        {"Folder with spaces", true, 0, t_d},
        {"Folder with spaces/file.txt", false, 42, t_e},
        {"\xC3\x9Cn\xC3\xAF"
         "code folder \xF0\x9F\x8E\xA7",
         true, 0, t_a},
        {"\xC3\x9Cn\xC3\xAF"
         "code folder \xF0\x9F\x8E\xA7/inner.mp3",
         false, 9, t_b},
        {"100% & #hash", true, 0, t_c},
        {"100% & #hash/a+b.mp3", false, 77, t_d},
        {".hidden folder", true, 0, t_e},
        {".hidden folder/x.txt", false, 1, t_a},
        {long_folder, true, 0, t_b},
        {long_folder + "/x.mp3", false, 11, t_c},
    };
    return t;
}

// Deterministic, position-dependent content so that a wrong offset or a
// swapped file shows up in a byte comparison.
void fill(std::vector<char> &buf, size_t n, unsigned seed)
{
    buf.resize(n);
    for (size_t i = 0; i < n; i++) buf[i] = static_cast<char>((i * 131u + seed + (i >> 8) * 7u) & 0xFF);
}

bool write_tree(std::string &err)
{
    std::vector<char> buf;
    unsigned seed = 1;
    for (const node &n : tree()) {
        std::string p = fs_path(n.path);
        if (n.folder) {
            if (mkdir(p.c_str(), 0755) != 0) {
                err = "mkdir " + p + ": " + std::strerror(errno);
                return false;
            }
            continue;
        }
        int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            err = "create " + p + ": " + std::strerror(errno);
            return false;
        }
        bool ok = true;
        seed += 17;
        if (n.size <= (1 << 20)) {
            fill(buf, static_cast<size_t>(n.size), seed);
            ok = write(fd, buf.data(), buf.size()) == static_cast<ssize_t>(buf.size());
        } else {
            // Sparse: a marked head and tail around a hole.
            fill(buf, 4096, seed);
            ok = ftruncate(fd, n.size) == 0 && pwrite(fd, buf.data(), 4096, 0) == 4096 &&
                 pwrite(fd, buf.data(), 100, n.size - 100) == 100;
        }
        close(fd);
        if (!ok) {
            err = "write " + p + ": " + std::strerror(errno);
            return false;
        }
    }
    // Times last: creating a child changes the folder's time.
    for (const node &n : tree()) {
        timespec ts[2] = {{n.mtime, 0}, {n.mtime, 0}};
        if (utimensat(AT_FDCWD, fs_path(n.path).c_str(), ts, 0) != 0) {
            err = "utimensat " + n.path + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

// ---- servers ----------------------------------------------------------------

std::vector<server> g_servers;
std::string g_setup_error; // why the servers are not there
bool g_missing = false;    // a server program is not installed
std::vector<pid_t> g_pids;

bool write_file(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
    return static_cast<bool>(f);
}

using ktest::slurp;

// Free ports: all sockets stay bound until every port is chosen, so the
// kernel hands out distinct ones.
bool free_ports(int n, std::vector<int> &ports)
{
    std::vector<int> fds;
    bool ok = true;
    for (int i = 0; i < n && ok; i++) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
             getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0;
        if (fd >= 0) fds.push_back(fd);
        if (ok) ports.push_back(ntohs(a.sin_port));
    }
    for (int fd : fds) close(fd);
    return ok;
}

bool port_open(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

using env_list = std::vector<std::pair<std::string, std::string>>;

// Starts a server in the foreground as our child; it gets SIGTERM should
// this process die first. Its time zone is UTC unless env names another
// (Apache and lighttpd print local time, and so does nginx with
// autoindex_localtime).
pid_t spawn(const std::vector<std::string> &argv, const std::string &log, const env_list &env = {})
{
    pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // A group of its own: Apache's prefork signals its whole process group
    // when it stops, which must not include the test program.
    setpgid(0, 0);
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        close(fd);
    }
    int null_in = open("/dev/null", O_RDONLY);
    if (null_in >= 0) dup2(null_in, 0);
    setenv("TZ", "UTC", 1); // Apache and lighttpd print local time
    for (const auto &[name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; i++) {
        int st;
        if (waitpid(pid, &st, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool wait_ready(pid_t pid, const std::vector<int> &ports, const std::string &log, std::string &err)
{
    for (int i = 0; i < 200; i++) {
        int st;
        if (waitpid(pid, &st, WNOHANG) == pid) {
            err = "server exited early; its log:\n" + slurp(log);
            return false;
        }
        bool all = true;
        for (int p : ports) all = all && port_open(p);
        if (all) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    err = "server did not open its ports; its log:\n" + slurp(log);
    return false;
}

// Where a server program lives; the environment may name another place.
const char *program(const char *env, const char *dflt)
{
    const char *v = std::getenv(env);
    return v && *v ? v : dflt;
}

std::string password_line()
{
    // SHA-512 crypt: nginx and Apache both hand such hashes to the system's crypt().
    const char *hash = crypt(k_password, "$6$klaspnetsalt$");
    return std::string(k_user) + ":" + (hash ? hash : "*") + "\n";
}

// An nginx configuration around the given server blocks, with every
// temporary path inside pre.
std::string nginx_conf(const std::string &pre, const std::string &servers)
{
    std::string user = geteuid() == 0 ? "user nobody nogroup;\n" : "";
    std::string conf = user +
                       "daemon off;\nmaster_process on;\nworker_processes 1;\n"
                       "pid " +
                       pre + "/nginx.pid;\nerror_log " + pre +
                       "/error.log warn;\n"
                       "events { worker_connections 128; }\n"
                       "http {\n  access_log off;\n  default_type application/octet-stream;\n";
    for (const char *t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += std::string("  ") + t + "_temp_path " + pre + "/tmp/" + t + ";\n";
    return conf + servers + "}\n";
}

// Writes the configuration into pre and starts nginx in the time zone tz;
// true once it listens on every port.
bool launch_nginx(const std::string &pre, const std::string &servers, const std::vector<int> &ports, const char *tz,
                  std::string &err)
{
    const char *bin = program("KLASPNET_NGINX", "/usr/sbin/nginx");
    mkdir(pre.c_str(), 0755);
    mkdir((pre + "/tmp").c_str(), 0755);
    write_file(pre + "/nginx.conf", nginx_conf(pre, servers));
    std::string log = pre + "/stderr.log";
    pid_t pid = spawn({bin, "-p", pre + "/", "-c", pre + "/nginx.conf", "-e", pre + "/error.log"}, log, {{"TZ", tz}});
    if (pid < 0) {
        err = "fork failed";
        return false;
    }
    g_pids.push_back(pid);
    if (!wait_ready(pid, ports, log, err)) {
        err = "nginx: " + err + slurp(pre + "/error.log");
        return false;
    }
    return true;
}

bool start_nginx(const std::string &www, std::string &err)
{
    const char *bin = program("KLASPNET_NGINX", "/usr/sbin/nginx");
    if (access(bin, X_OK) != 0) {
        g_missing = true;
        err = std::string("nginx is not installed (") + bin + "); run scripts/setup";
        return false;
    }
    std::vector<int> ports;
    if (!free_ports(2, ports)) {
        err = "no free ports";
        return false;
    }
    std::string pre = g_work + "/nginx";
    mkdir(pre.c_str(), 0755);
    write_file(pre + "/htpasswd", password_line());
    chmod((pre + "/htpasswd").c_str(), 0644);
    std::string conf = "  server {\n    listen 127.0.0.1:" + std::to_string(ports[0]) + ";\n    root " + www +
                       ";\n"
                       "    autoindex on;\n    autoindex_exact_size on;\n"
                       "    location = /moved/ { return 301 /media/; }\n"
                       "    location = /moved-twice/ { return 308 /moved/; }\n"
                       "    location = /found/ { return 302 /media/; }\n"
                       "    location = /loop/ { return 302 /loop/; }\n"
                       "    location /private/ {\n      alias " +
                       www +
                       "/media/;\n      auth_basic \"media\";\n"
                       "      auth_basic_user_file " +
                       pre +
                       "/htpasswd;\n    }\n  }\n"
                       "  server {\n    listen 127.0.0.1:" +
                       std::to_string(ports[1]) + ";\n    root " + www +
                       ";\n"
                       "    autoindex on;\n    autoindex_exact_size off;\n"
                       "    location /private/ {\n      alias " +
                       www +
                       "/media/;\n      auth_basic \"media\";\n"
                       "      auth_basic_user_file " +
                       pre + "/htpasswd;\n    }\n  }\n";
    if (!launch_nginx(pre, conf, ports, "UTC", err)) return false;
    g_servers.push_back({"nginx-exact", "nginx", "pre", size_policy::exact, true, true, ports[0]});
    g_servers.push_back({"nginx-approx", "nginx", "pre", size_policy::nginx_approx, true, true, ports[1]});
    return true;
}

struct apache_site {
    const char *name;
    const char *variant;
    const char *options;
    size_policy sizes;
    bool dates;
    bool icons;     // AddIcon lines as Debian's autoindex.conf has them
    bool signature; // ServerSignature On: the <address> footer
    bool at_root;   // the tree is the document root (served at "/")
};

// Each site leaves the parser a different mark to recognise Apache by: the
// sort links, the icons' alt texts, the server signature, the "Parent
// Directory" list item, or (with none of these) the "Index of" heading with
// the table's header texts, the pre's header line or the root's relative links.
constexpr apache_site k_apache_sites[] = {
    // Debian's stock configuration.
    {"apache-table", "table", "FancyIndexing VersionSort HTMLTable NameWidth=* DescriptionWidth=* Charset=UTF-8",
     size_policy::apache_approx, true, true, true, false},
    {"apache-pre", "pre", "FancyIndexing", size_policy::apache_approx, true, true, false, false},
    {"apache-list", "list", "None", size_policy::none, false, false, false, false},
    {"apache-table-nosort", "table", "FancyIndexing HTMLTable SuppressColumnSorting FoldersFirst",
     size_policy::apache_approx, true, true, false, false},
    // The pre form names its columns on the header line even without sort links.
    {"apache-pre-nosort", "pre", "FancyIndexing SuppressColumnSorting", size_policy::apache_approx, true, false, true,
     false},
    // IconsAreLinks: the icon is a second link to each entry, before its name.
    {"apache-table-iconlinks", "table", "FancyIndexing HTMLTable IconsAreLinks", size_policy::apache_approx, true, true,
     true, false},
    {"apache-pre-iconlinks", "pre", "FancyIndexing IconsAreLinks", size_policy::apache_approx, true, true, true, false},
    // No sort links, icons or signature at all.
    {"apache-table-bare", "table", "FancyIndexing HTMLTable SuppressIcon SuppressColumnSorting",
     size_policy::apache_approx, true, true, false, false},
    {"apache-pre-bare", "pre", "FancyIndexing SuppressColumnSorting", size_policy::apache_approx, true, false, false,
     false},
    // The plain list at the document root has no Parent Directory item.
    {"apache-list-root", "list", "None", size_policy::none, false, false, false, true},
    {"apache-table-nodate", "table", "FancyIndexing HTMLTable SuppressLastModified", size_policy::apache_approx, false,
     true, true, false},
    {"apache-table-nosize", "table", "FancyIndexing HTMLTable SuppressSize", size_policy::none, true, true, true,
     false},
    {"apache-pre-nodate", "pre", "FancyIndexing SuppressLastModified", size_policy::apache_approx, false, true, true,
     false},
    {"apache-pre-nosize", "pre", "FancyIndexing SuppressSize", size_policy::none, true, true, true, false},
};

// An httpd whose time zone is not UTC prints its local time, without a zone:
// the page's times read as UTC are that far ahead.
const apache_site k_apache_tz_site = {
    "apache-tz", "table", "FancyIndexing HTMLTable", size_policy::apache_approx, true, true, true, false};
const char k_tz[] = "IST-5:30"; // POSIX form: 5 h 30 min east of UTC, no daylight saving
constexpr int64_t k_tz_shift = 5 * 3600 + 30 * 60;

const char k_icons[] = "  AddIcon /icons/folder.gif ^^DIRECTORY^^\n"
                       "  AddIcon /icons/blank.gif ^^BLANKICON^^\n"
                       "  AddIcon /icons/back.gif ..\n"
                       "  AddIcon (SND,/icons/sound2.gif) .mp3 .ogg .flac .m4a\n"
                       "  AddIcon /icons/text.gif .txt\n"
                       "  DefaultIcon /icons/unknown.gif\n";

// One httpd serving the sites, each on its own port, from the folder dir
// under the work folder.
bool start_httpd(const std::string &www, const std::string &dir, const std::vector<apache_site> &sites,
                 const env_list &env, int64_t time_shift, std::string &err)
{
    const char *bin = program("KLASPNET_APACHE", "/usr/sbin/apache2");
    std::string mods = program("KLASPNET_APACHE_MODULES", "/usr/lib/apache2/modules");
    mods += "/";
    if (access(bin, X_OK) != 0 || access((mods + "mod_autoindex.so").c_str(), R_OK) != 0) {
        g_missing = true;
        err = std::string("Apache httpd is not installed (") + bin + ", " + mods + "); run scripts/setup";
        return false;
    }
    const int n = static_cast<int>(sites.size());
    std::vector<int> ports;
    if (!free_ports(n, ports)) {
        err = "no free ports";
        return false;
    }
    std::string pre = g_work + "/" + dir;
    mkdir(pre.c_str(), 0755);
    mkdir((pre + "/run").c_str(), 0755);
    write_file(pre + "/htpasswd", password_line());
    chmod((pre + "/htpasswd").c_str(), 0644);
    std::string conf = "ServerRoot \"" + pre + "\"\nServerName 127.0.0.1\nPidFile \"" + pre +
                       "/apache.pid\"\nErrorLog \"" + pre +
                       "/error.log\"\nLogLevel warn\n"
                       "DefaultRuntimeDir \"" +
                       pre + "/run\"\nMutex file:" + pre + "/run default\n";
    for (const char *m :
         {"mpm_prefork", "authz_core", "authn_core", "authn_file", "auth_basic", "authz_user", "alias", "autoindex"})
        conf += std::string("LoadModule ") + m + "_module " + mods + "mod_" + m + ".so\n";
    conf += "StartServers 2\nMinSpareServers 1\nMaxSpareServers 4\n";
    if (geteuid() == 0) conf += "User nobody\nGroup nogroup\n";
    conf += "<Directory />\n  AllowOverride None\n  Require all denied\n</Directory>\n"
            "<Directory \"" +
            www +
            "\">\n  Options Indexes\n  AllowOverride None\n  Require all granted\n"
            "</Directory>\n";
    for (int i = 0; i < n; i++) {
        std::string addr = "127.0.0.1:" + std::to_string(ports[i]);
        conf += "Listen " + addr + "\n<VirtualHost " + addr + ">\n  DocumentRoot \"" + www +
                (sites[i].at_root ? "/media" : "") +
                "\"\n"
                "  IndexOptions " +
                sites[i].options + "\n" + (sites[i].icons ? k_icons : "") + "  ServerSignature " +
                (sites[i].signature ? "On" : "Off") +
                "\n"
                "  Alias /private \"" +
                www +
                "/media\"\n"
                "  <Location /private>\n    AuthType Basic\n    AuthName media\n"
                "    AuthUserFile \"" +
                pre +
                "/htpasswd\"\n    Require valid-user\n  </Location>\n"
                "</VirtualHost>\n";
    }
    write_file(pre + "/apache.conf", conf);
    std::string log = pre + "/stderr.log";
    pid_t pid = spawn({bin, "-f", pre + "/apache.conf", "-DFOREGROUND"}, log, env);
    if (pid < 0) {
        err = "fork failed";
        return false;
    }
    g_pids.push_back(pid);
    if (!wait_ready(pid, ports, log, err)) {
        err = "apache: " + err + slurp(pre + "/error.log");
        return false;
    }
    for (int i = 0; i < n; i++) {
        const apache_site &s = sites[i];
        server srv{s.name, "apache", s.variant, s.sizes, s.dates, false, ports[i]};
        srv.time_shift = time_shift;
        if (s.at_root) srv.media = "/";
        g_servers.push_back(srv);
    }
    return true;
}

bool start_apache(const std::string &www, std::string &err)
{
    return start_httpd(www, "apache", {std::begin(k_apache_sites), std::end(k_apache_sites)}, {}, 0, err) &&
           start_httpd(www, "apache-tz", {k_apache_tz_site}, {{"TZ", k_tz}}, k_tz_shift, err);
}

// One server process on one free port: `setup` writes its configuration
// into its folder (g_work/NAME) and gives its command line and environment.
// The server record is completed with the port and added.
struct one_server {
    const char *env;   // the variable that may name another program location
    const char *dflt;  // the Debian location
    const char *title; // for messages
    server srv;
};

using setup_fn = std::vector<std::string> (*)(const char *bin, const std::string &dir, const std::string &www, int port,
                                              env_list *env);

bool start_one(const std::string &www, one_server o, setup_fn setup, std::string &err)
{
    const char *bin = program(o.env, o.dflt);
    if (access(bin, X_OK) != 0) {
        g_missing = true;
        err = std::string(o.title) + " is not installed (" + bin + "); run scripts/setup";
        return false;
    }
    std::vector<int> ports;
    if (!free_ports(1, ports)) {
        err = "no free ports";
        return false;
    }
    std::string dir = g_work + "/" + o.srv.name;
    mkdir(dir.c_str(), 0755);
    env_list env;
    const std::vector<std::string> argv = setup(bin, dir, www, ports[0], &env);
    std::string log = dir + "/stderr.log";
    pid_t pid = spawn(argv, log, env);
    if (pid < 0) {
        err = "fork failed";
        return false;
    }
    g_pids.push_back(pid);
    if (!wait_ready(pid, ports, log, err)) {
        err = o.srv.name + ": " + err;
        return false;
    }
    o.srv.port = ports[0];
    g_servers.push_back(o.srv);
    return true;
}

// lighttpd's mod_dirlisting: dotfiles hidden (its default), local times to
// the second, every size abbreviated (0.9K), so none is exact. Its error log
// stays on standard error (the log file): a file would be opened after
// lighttpd has become nobody.
std::vector<std::string> lighttpd_setup(const char *bin, const std::string &dir, const std::string &www, int port,
                                        env_list *)
{
    std::string conf = "server.document-root = \"" + www +
                       "\"\nserver.bind = \"127.0.0.1\"\nserver.port = " + std::to_string(port) +
                       "\nserver.modules = (\"mod_dirlisting\")\ndir-listing.activate = \"enable\"\n";
    if (geteuid() == 0) conf += "server.username = \"nobody\"\nserver.groupname = \"nogroup\"\n";
    write_file(dir + "/lighttpd.conf", conf);
    return {bin, "-D", "-f", dir + "/lighttpd.conf"};
}

// Caddy's file_server browse: exact sizes and UTC times to the second in the
// page's attributes, dotfiles listed. Caddy keeps its state under HOME and
// the XDG folders: all in its folder.
std::vector<std::string> caddy_setup(const char *bin, const std::string &dir, const std::string &www, int port,
                                     env_list *env)
{
    write_file(dir + "/Caddyfile", "{\n\tadmin off\n\tauto_https off\n\tstorage file_system " + dir +
                                       "/data\n}\nhttp://127.0.0.1:" + std::to_string(port) + " {\n\troot * " + www +
                                       "\n\tfile_server browse\n}\n");
    *env = {{"HOME", dir}, {"XDG_DATA_HOME", dir + "/data"}, {"XDG_CONFIG_HOME", dir + "/config"}};
    return {bin, "run", "--config", dir + "/Caddyfile", "--adapter", "caddyfile"};
}

// Python's http.server: names only, every name listed, no Range support.
std::vector<std::string> python_setup(const char *bin, const std::string &, const std::string &www, int port,
                                      env_list *)
{
    return {bin, "-m", "http.server", std::to_string(port), "--bind", "127.0.0.1", "--directory", www};
}

bool start_others(const std::string &www, std::string &err)
{
    server lighttpd{"lighttpd", "lighttpd", "table", size_policy::none, true, true, 0};
    lighttpd.time_step = 1;
    server caddy{"caddy", "caddy", "table", size_policy::exact, true, false, 0};
    caddy.time_step = 1;
    caddy.empty_ranges = false; // byte 0 of an empty file: 416 with "bytes */0"
    server python{"python", "python", "list", size_policy::none, false, false, 0};
    python.ranges = false;
    return start_one(www, {"KLASPNET_LIGHTTPD", "/usr/sbin/lighttpd", "lighttpd", lighttpd}, lighttpd_setup, err) &&
           start_one(www, {"KLASPNET_CADDY", "/usr/bin/caddy", "Caddy", caddy}, caddy_setup, err) &&
           start_one(www, {"KLASPNET_PYTHON", "/usr/bin/python3", "python3", python}, python_setup, err);
}

class server_env : public ::testing::Environment {
public:
    void SetUp() override
    {
        // The servers are on loopback: a proxy from the environment must not
        // stand between them and the transport.
        for (const char *v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(v);
        curl_global_init(CURL_GLOBAL_DEFAULT);
        char tmpl[] = "/tmp/klaspnet-it-XXXXXX";
        const char *tmpdir = std::getenv("TMPDIR");
        std::string base = tmpdir && *tmpdir ? std::string(tmpdir) + "/klaspnet-it-XXXXXX" : tmpl;
        std::vector<char> name(base.begin(), base.end());
        name.push_back('\0');
        if (!mkdtemp(name.data())) {
            g_setup_error = "mkdtemp failed";
            return;
        }
        g_work = name.data();
        chmod(g_work.c_str(), 0755); // the servers' workers run as nobody
        std::string www = g_work + "/www";
        g_media = www + "/media";
        mkdir(www.c_str(), 0755);
        mkdir(g_media.c_str(), 0755);
        std::string err;
        if (!write_tree(err)) {
            g_setup_error = err;
            return;
        }
        if (!start_nginx(www, err) || !start_apache(www, err) || !start_others(www, err)) {
            g_setup_error = err;
            g_servers.clear();
        }
    }
    void TearDown() override
    {
        for (pid_t p : g_pids) stop(p);
        g_pids.clear();
        if (!g_work.empty() && !std::getenv("KLASPNET_IT_KEEP")) {
            std::error_code ec;
            std::filesystem::remove_all(g_work, ec);
        }
    }
};

[[maybe_unused]] ::testing::Environment *const g_env = ::testing::AddGlobalTestEnvironment(new server_env);

} // namespace

const std::vector<node> &tree()
{
    static const std::vector<node> t = make_tree();
    return t;
}

std::string fs_path(const std::string &rel) { return rel.empty() ? g_media : g_media + "/" + rel; }

std::string work_dir() { return g_work; }

std::vector<int> start_more_nginx(const std::string &name, int nports, const char *tz, const std::string &servers,
                                  std::string &err)
{
    std::vector<int> ports;
    if (!free_ports(nports, ports)) {
        err = "no free ports";
        return {};
    }
    std::string conf = servers;
    for (int i = 0; i < nports; i++) {
        const std::string mark = "@PORT" + std::to_string(i) + "@";
        for (size_t at; (at = conf.find(mark)) != std::string::npos;)
            conf.replace(at, mark.size(), std::to_string(ports[i]));
    }
    for (size_t at; (at = conf.find("@WWW@")) != std::string::npos;) conf.replace(at, 5, g_work + "/www");
    if (!launch_nginx(g_work + "/" + name, conf, ports, tz, err)) return {};
    return ports;
}

std::vector<const node *> children(const std::string &folder)
{
    std::vector<const node *> out;
    for (const node &n : tree()) {
        size_t slash = n.path.rfind('/');
        std::string parent = slash == std::string::npos ? "" : n.path.substr(0, slash);
        if (parent == folder) out.push_back(&n);
    }
    return out;
}

std::vector<std::string> folders()
{
    std::vector<std::string> out{""};
    for (const node &n : tree())
        if (n.folder) out.push_back(n.path);
    return out;
}

std::string server::base() const { return "http://127.0.0.1:" + std::to_string(port); }

const std::vector<server> &servers() { return g_servers; }

const server &by_name(const std::string &name)
{
    for (const server &s : g_servers)
        if (s.name == name) return s;
    static const server none{};
    ADD_FAILURE() << "no server named " << name;
    return none;
}

bool in_ci()
{
    const char *ci = std::getenv("CI");
    return ci && (std::strcmp(ci, "true") == 0 || std::strcmp(ci, "1") == 0);
}

bool require_servers()
{
    if (!g_servers.empty()) return true;
    // ctest reports the run as skipped on the first text (SKIP_REGULAR_EXPRESSION).
    std::fprintf(stderr,
                 skip_allowed() ? "\n*** SKIPPING REAL-SERVER TESTS: %s ***\n\n"
                                : "\n*** REAL-SERVER TESTS CANNOT RUN: %s ***\n\n",
                 setup_error().c_str());
    return false;
}

bool skip_allowed() { return g_missing && !in_ci(); }

std::string setup_error() { return g_setup_error.empty() ? "servers not started" : g_setup_error; }

std::string with_credentials(const std::string &url, const std::string &user, const std::string &password)
{
    size_t p = url.find("://");
    return url.substr(0, p + 3) + pct_encode(user) + ":" + pct_encode(password) + "@" + url.substr(p + 3);
}

const char *road_name(road r) { return r == road::plain ? "velkaron_io" : "velkaron_http"; }

void install(road r)
{
    const velkaron_io *io = klaspnet_curl_io();
    ASSERT_EQ(klaspnet_set_io(io), KLASPNET_OK);
    ASSERT_EQ(klaspnet_bind_http(io, r == road::extension ? klaspnet_curl_http() : nullptr), KLASPNET_OK);
}

std::string settings_for(const std::string &url, const char *date_order)
{
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_strncpy(doc, root, "URL", url.data(), url.size());
    if (date_order) yyjson_mut_obj_add_str(doc, root, "DateOrder", date_order);
    char *text = yyjson_mut_write(doc, 0, nullptr);
    std::string s = text ? text : "";
    std::free(text);
    yyjson_mut_doc_free(doc);
    return s;
}

result::result(result &&o) noexcept
    : rc(o.rc), out(std::move(o.out)), published(std::move(o.published)), error(std::move(o.error)), doc(o.doc)
{
    o.doc = nullptr;
}

result::~result() { yyjson_doc_free(doc); }

std::string result::str(const char *key) const
{
    const char *s = yyjson_get_str(yyjson_obj_get(root(), key));
    return s ? s : "<absent>";
}

int64_t result::num(const char *key) const
{
    yyjson_val *v = yyjson_obj_get(root(), key);
    return yyjson_is_int(v) ? yyjson_get_sint(v) : INT64_MIN;
}

namespace {

template <class F> result call(F f)
{
    result r;
    std::vector<char> dst(8 << 20, '\x7F');
    r.rc = f(dst.data(), static_cast<int32_t>(dst.size()));
    r.out = dst.data();
    r.published = klaspnet_result_json();
    r.error = klaspnet_last_error();
    r.doc = yyjson_read(r.published.data(), r.published.size(), 0);
    return r;
}

} // namespace

result list(const std::string &settings, const std::string &folder)
{
    return call([&](char *d, int32_t n) { return klaspnet_list(settings.c_str(), folder.c_str(), d, n); });
}

result validate(const std::string &settings)
{
    return call([&](char *d, int32_t n) { return klaspnet_validate(settings.c_str(), d, n); });
}

result stat(const std::string &settings, const std::string &path)
{
    return call([&](char *d, int32_t n) { return klaspnet_stat(settings.c_str(), path.c_str(), d, n); });
}

result stream_url(const std::string &settings, const std::string &entry_json)
{
    return call([&](char *d, int32_t n) { return klaspnet_stream_url(settings.c_str(), entry_json.c_str(), d, n); });
}

// ---- libcurl helpers --------------------------------------------------------

namespace {

struct compare_state {
    FILE *f;
    bool equal;
    int64_t length;
    std::vector<char> chunk;
};

size_t compare_write(char *p, size_t sz, size_t n, void *ud)
{
    auto *c = static_cast<compare_state *>(ud);
    size_t len = sz * n;
    c->chunk.resize(len);
    if (c->equal && (std::fread(c->chunk.data(), 1, len, c->f) != len || std::memcmp(c->chunk.data(), p, len) != 0))
        c->equal = false;
    c->length += static_cast<int64_t>(len);
    return len;
}

size_t collect_write(char *p, size_t sz, size_t n, void *ud)
{
    static_cast<std::string *>(ud)->append(p, sz * n);
    return sz * n;
}

curl_slist *header_list(const std::vector<std::string> &headers)
{
    curl_slist *l = nullptr;
    for (const std::string &h : headers) l = curl_slist_append(l, h.c_str());
    return l;
}

} // namespace

fetched fetch_compare(const std::string &url, const std::vector<std::string> &headers, const std::string &fs_file)
{
    fetched r;
    compare_state c{std::fopen(fs_file.c_str(), "rb"), true, 0, {}};
    if (!c.f) return r;
    CURL *h = curl_easy_init();
    curl_slist *hl = header_list(headers);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, hl);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, compare_write);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &c);
    r.curl_rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
    curl_easy_cleanup(h);
    curl_slist_free_all(hl);
    // Equal only when the file has no bytes left over either.
    r.equal = c.equal && std::fgetc(c.f) == EOF;
    r.length = c.length;
    std::fclose(c.f);
    return r;
}

long fetch(const std::string &url, std::string *body, const std::vector<std::string> &headers)
{
    std::string sink;
    CURL *h = curl_easy_init();
    curl_slist *hl = header_list(headers);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, hl);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect_write);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, body ? body : &sink);
    long status = 0;
    if (curl_easy_perform(h) == CURLE_OK) curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(h);
    curl_slist_free_all(hl);
    return status;
}

std::string tool_path() { return KLASPNET_TOOL_PATH; }

int run(const std::string &cmdline, std::string *out)
{
    FILE *p = popen(cmdline.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        if (out) out->append(buf, n);
    int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

} // namespace it
