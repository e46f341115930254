// Real-server test harness: a generated media tree with awkward names, nginx,
// Apache httpd, lighttpd, Caddy and Python http.server instances started on
// 127.0.0.1 with configurations written into a temporary folder, and helpers
// that reach the library through its exports and the libcurl transport.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <yyjson.h>

#include "klaspnet/klaspnet.h"
#include "support/texts.h"

namespace it {

// One node of the generated tree (paths relative to the media root, "/"-joined).
struct node {
    std::string path; // e.g. "Music/Jazz & Blues/So What.mp3"
    bool folder;
    int64_t size;  // files only
    int64_t mtime; // seconds since 1970, UTC
};

const std::vector<node> &tree();
// Absolute filesystem path of a tree node.
std::string fs_path(const std::string &rel);
// The direct children of a folder ("" for the root).
std::vector<const node *> children(const std::string &folder);
std::vector<std::string> folders(); // every folder, "" first

// How a server writes its listing pages.
enum class size_policy { exact, nginx_approx, apache_approx, none };

struct server {
    std::string name;    // "nginx-exact", "apache-table", ...
    std::string dialect; // "nginx", "apache", "lighttpd", "caddy", "python"
    std::string variant; // "pre", "table", "list"
    size_policy sizes;
    bool dates;          // the page shows modification times
    bool hides_dotfiles; // names starting with "." are not listed
    int port;
    int time_step = 60;            // the shown times' precision in seconds (to the minute, or to the second)
    int64_t time_shift = 0;        // seconds the shown (local) times are ahead of UTC
    bool ranges = true;            // a Range request is answered with 206
    bool empty_ranges = true;      // byte 0 of an empty file is answered with the whole (empty) file
    std::string media = "/media/"; // where the tree's root is served
    std::string base() const;      // http://127.0.0.1:PORT
    std::string media_url() const { return base() + media; }
    std::string private_url() const { return base() + "/private/"; } // Basic authentication
};

// The started servers; empty when they could not be started (see require_servers).
const std::vector<server> &servers();
const server &by_name(const std::string &name);
// True when the servers run. Otherwise it says why on stderr and tells
// through skip_allowed() whether the test may be skipped: never in CI
// (CI=true), and never when a server is installed but would not start.
bool require_servers();
bool skip_allowed();
std::string setup_error();
bool in_ci();

// The temporary folder of the run (configurations, logs, www/media).
std::string work_dir();
// Starts one more nginx (after the servers above), its configuration and
// logs in work_dir()/name, in the time zone tz (nginx keeps TZ for its
// workers). servers holds the server blocks of the http block, in which
// @PORT0@, @PORT1@... stand for free loopback ports and @WWW@ for the folder
// that holds media/. Returns the ports; empty, with the reason in err, when
// nginx does not start. The run's end stops it.
std::vector<int> start_more_nginx(const std::string &name, int nports, const char *tz, const std::string &servers,
                                  std::string &err);

// Basic-authentication credentials of the /private/ locations.
extern const char *const k_user;
extern const char *const k_password;
// Root URL with the credentials in its userinfo, percent-encoded.
std::string with_credentials(const std::string &url, const std::string &user, const std::string &password);

// ---- library access ----
enum class road { plain, extension };
const char *road_name(road r);
// Installs the libcurl transport through klaspnet_set_io, with its extension
// bound (extension) or unbound (plain).
void install(road r);

std::string settings_for(const std::string &url, const char *date_order = nullptr);
using ktest::pct_encode;

// A published result, parsed; the document is freed with the record.
struct result {
    int32_t rc = 0;
    std::string out;       // what the operation wrote into the caller's buffer
    std::string published; // klaspnet_result_json() afterwards
    std::string error;     // klaspnet_last_error() afterwards
    yyjson_doc *doc = nullptr;
    result() = default;
    result(const result &) = delete;
    result &operator=(const result &) = delete;
    result(result &&o) noexcept;
    ~result();
    yyjson_val *root() const { return yyjson_doc_get_root(doc); }
    std::string str(const char *key) const;
    int64_t num(const char *key) const;
};

result list(const std::string &settings, const std::string &folder);
result validate(const std::string &settings);
result stat(const std::string &settings, const std::string &path);
result stream_url(const std::string &settings, const std::string &entry_json);

// ---- plain libcurl helpers for checking what the library hands out ----
struct fetched {
    long status = 0;
    int curl_rc = 0;
    bool equal = false; // the body equals the file byte for byte
    int64_t length = 0;
};
// GETs url (with extra request header lines) and compares the body with the
// file at fs_file while it streams in.
fetched fetch_compare(const std::string &url, const std::vector<std::string> &headers, const std::string &fs_file);
// GETs url and returns status and body.
long fetch(const std::string &url, std::string *body, const std::vector<std::string> &headers = {});

// Path of the built command-line tool.
std::string tool_path();
// Runs a shell command line, capturing standard output; returns the exit status.
int run(const std::string &cmdline, std::string *out);

// Epoch seconds of a UTC civil time.
int64_t utc(int y, int mo, int d, int h, int mi, int s);

} // namespace it

// At the top of a test body or fixture SetUp: without the servers the test
// is skipped loudly, or fails (fatally, so no body runs) where skipping is not
// allowed.
#define IT_REQUIRE_SERVERS()                                                                                           \
  do {                                                                                                                 \
    if (!::it::require_servers()) {                                                                                    \
      if (::it::skip_allowed()) GTEST_SKIP() << "real servers not available: " << ::it::setup_error();                 \
      GTEST_FAIL() << "REAL-SERVER TESTS CANNOT RUN: " << ::it::setup_error();                                         \
    }                                                                                                                  \
  } while (0)
