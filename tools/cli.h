// The command line: the commands, their options (--name VALUE and
// --name=VALUE, bundled short flags), the help texts made from one table,
// and the checks that turn a wrong call into a usage error (exit 2).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace klaspnet::tool {

constexpr int k_exit_usage = 2;
constexpr int k_exit_local = 3; // a local file, the terminal, memory or standard output failed

// 10 + n for the library's code -n.
inline int exit_for(int32_t code) { return code < 0 ? 10 - code : 0; }

enum class sort_key { page, name, size, time };

struct options {
    const char *cmd = nullptr;
    const char *pos[3] = {};
    int npos = 0;
    // output
    bool json = false;
    bool quiet = false;
    bool urls = false;
    bool curl = false;
    // listing
    bool recursive = false;
    int max_depth = 0; // 0: no limit; 1: the folder itself
    int jobs = 4;
    bool exact = false;
    sort_key sort = sort_key::page;
    bool reverse = false;
    bool dirs_first = false;
    std::vector<const char *> include, exclude;
    const char *server_tz = nullptr;
    const char *date_order = nullptr;
    // credentials
    const char *user = nullptr;
    const char *password_file = nullptr;
    bool netrc = false;
    const char *netrc_file = nullptr;
    // connection
    bool plain_io = false;
    bool builtin = false;
    bool insecure = false;
    const char *cacert = nullptr;
    const char *capath = nullptr;
    long connect_timeout_ms = 30000;
    long max_time_ms = 0; // 0: the library's limit for one request, 120 s
    int retry = 0;
    // parse
    const char *page_url = nullptr;
};

// 0 to run the command; -1 after printing help or the version (exit 0);
// otherwise the exit status, after a message on standard error.
int parse_args(int argc, char **argv, options &o);

// Why a FOLDER or PATH argument cannot name an item ("" when it can): the
// library refuses . and .. segments, control characters and text that is
// not UTF-8, and a file path needs a name.
std::string path_problem(const char *path, bool file);

// The certificates to trust: --cacert and --capath, else (as curl does)
// CURL_CA_BUNDLE, else SSL_CERT_DIR and SSL_CERT_FILE; null for the system's.
void trusted_certificates(const options &o, const char **file, const char **dir);

} // namespace klaspnet::tool
