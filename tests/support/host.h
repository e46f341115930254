// A host transport for the suites: it answers from a table of its own,
// through both callback records a host hands the library (velkaron_io, and a
// velkaron_http extension), and records what the library sends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "klaspnet/klaspnet.h"

namespace ktest {

using header_list = std::vector<std::pair<std::string, std::string>>;

// One answer of the host.
struct answer {
    int32_t rc = 0;            // what the callback returns
    int32_t status = 200;      // stored through the status output
    bool status_header = true; // velkaron_http: ":status" comes before the other headers
    header_list headers;       // velkaron_http only
    // velkaron_io: the body handed over (none: the body output stays null).
    // velkaron_http: the body delivered in pieces.
    std::optional<std::string> body = std::string();
    std::optional<std::string> error; // a text handed back beside the result
    size_t piece = 0;                 // velkaron_http: body piece size; 0 takes the host's
};

answer page(std::string body, int32_t status = 200, header_list headers = {});
// A redirect status with its Location (and a short body, as servers send).
answer redirect(int32_t status, std::string location);
// A failed exchange: rc, an optional error text, no body.
answer failure(int32_t rc, std::optional<std::string> error = std::nullopt);

// One velkaron_http request as the host received it.
struct request {
    uint32_t size = 0;
    std::string method;
    std::string url;
    std::vector<std::string> headers;
    bool has_user = false;
    std::string user;
    bool has_password = false;
    std::string password;
    uint32_t timeout_ms = 0;
    bool reserved_zero = false; // every reserved field is 0
};

class recording_host {
public:
    // Answers by URL (the URL exactly as the library sends it, credentials
    // included on the velkaron_io road).
    std::map<std::string, answer, std::less<>> answers;
    // For a URL that is not in the table.
    answer unknown = page("not found", 404);
    // When not empty: the calls take these answers in turn, whatever their
    // URL, starting again from the first after the last.
    std::vector<answer> script;
    size_t piece = 4096; // velkaron_http body piece size
    // Off: nothing is recorded and nothing allocated besides the texts
    // handed over (memory-exhaustion tests, calls from many threads).
    bool record = true;

    std::vector<std::string> gets; // URL of every velkaron_io get
    std::vector<request> requests; // every velkaron_http request

    recording_host() = default;
    recording_host(const recording_host &) = delete;
    recording_host &operator=(const recording_host &) = delete;

    // The records that reach this host. With counted_free the texts come
    // back through the record's free callback, which counts them.
    velkaron_io io(bool counted_free = false);
    velkaron_http http(bool counted_free = false);

    // Texts given back through a counting free callback.
    int frees() const { return frees_.load(); }
    // Calls that found an output not cleared beforehand (a null body and
    // error, a zero status): the library must clear them before each call.
    int dirty_outputs() const { return dirty_.load(); }
    // Forgets the recorded calls and counters; the table stays.
    void clear();

private:
    static int32_t get_cb(void *ctx, const char *url, char **body, int32_t *status, char **error);
    static int32_t request_cb(void *ctx, const velkaron_http_req *req, int32_t *status, char **error);
    static void free_cb(void *ctx, void *p);
    const answer &pick(const char *url);

    std::mutex m_;
    std::atomic<size_t> next_{0};
    std::atomic<int> frees_{0};
    std::atomic<int> dirty_{0};
};

} // namespace ktest
