// Every export at once from many threads: operations on the fake and on a
// host transport while other threads replace the transport, bind and unbind
// the host's extension, re-script the fake, and read the published error and
// result. Each answer must still be one of the answers the operation can give
// in one of the states the others switch between. Meant to run under
// ThreadSanitizer too (label concurrency); bounded in time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <yyjson.h>

#include "klaspnet/klaspnet.h"
#include "support/host.h"
#include "support/texts.h"

namespace {

const char k_page[] = "<html>\r\n<head><title>Index of /m/</title></head>\r\n<body>\r\n"
                      "<h1>Index of /m/</h1><hr><pre><a href=\"../\">../</a>\r\n"
                      "<a href=\"Sub/\">Sub/</a>                                               "
                      "01-Jan-2024 10:00                   -\r\n"
                      "<a href=\"a%20b.mkv\">a b.mkv</a>                                       "
                      "02-Jan-2024 11:30               12345\r\n"
                      "</pre><hr></body>\r\n</html>\r\n";
const char k_root[] = "http://h/m/";
const char k_file[] = "http://h/m/a%20b.mkv";
const char k_settings[] = "{\"URL\":\"http://h/m\",\"ID\":\"stress\"}";

// ---- a host transport that serves the same two answers as the fake --------

// Nothing recorded: it answers thousands of calls from many threads.
struct stress_host : ktest::recording_host {
    stress_host()
    {
        record = false;
        answers[k_root] = ktest::page(k_page);
        answers[k_file] = ktest::page("x", 206, {{"Content-Range", "bytes 0-0/12345"}});
        unknown = ktest::failure(-1, "host: no such page");
    }
} g_host;

const velkaron_io k_host = g_host.io();
const velkaron_http k_host_http = g_host.http();

void script()
{
    klaspnet_fake_set(k_root, 200, "Content-Type: text/html", k_page);
    klaspnet_fake_set(k_file, 206, "Content-Range: bytes 0-0/12345", "x");
}

// ---- answers --------------------------------------------------------------

struct answer {
    int rc;
    std::string out;
};

answer call(const std::function<int(char *, int32_t)> &op)
{
    std::vector<char> dst(1 << 14);
    int rc = op(dst.data(), static_cast<int32_t>(dst.size()));
    return {rc, dst.data()};
}

struct expected {
    const char *name;
    std::function<int(char *, int32_t)> op;
    std::vector<answer> allowed; // filled from quiet runs
};

struct failures {
    std::mutex m;
    std::vector<std::string> list;
    void add(const std::string &s)
    {
        std::lock_guard<std::mutex> g(m);
        if (list.size() < 20) list.push_back(s);
    }
};

TEST(Concurrency, EveryExportAtOnce)
{
    klaspnet_fake_reset();
    script();
    klaspnet_bind_http(&k_host, nullptr);

    std::vector<expected> ops = {
        {"parse", [](char *d, int32_t n) { return klaspnet_parse(k_page, k_root, d, n); }, {}},
        {"list", [](char *d, int32_t n) { return klaspnet_list(k_settings, "", d, n); }, {}},
        {"validate", [](char *d, int32_t n) { return klaspnet_validate(k_settings, d, n); }, {}},
        {"stat", [](char *d, int32_t n) { return klaspnet_stat(k_settings, "/a b.mkv", d, n); }, {}},
        {"stream_url",
         [](char *d, int32_t n) { return klaspnet_stream_url(k_settings, "{\"path\":\"/a b.mkv\"}", d, n); },
         {}},
        {"download", [](char *d, int32_t n) { return klaspnet_download(k_settings, "{}", d, n); }, {}},
    };

    // The answers of each operation in each state the switching threads
    // move between: the fake; the host transport with its extension bound;
    // the host transport without it.
    for (int state = 0; state < 3; ++state) {
        if (state == 0) {
            klaspnet_use_fake();
        } else {
            klaspnet_set_io(&k_host);
            klaspnet_bind_http(&k_host, state == 1 ? &k_host_http : nullptr);
        }
        for (expected &e : ops) {
            answer a = call(e.op);
            bool known = false;
            for (const answer &b : e.allowed) known |= b.rc == a.rc && b.out == a.out;
            if (!known) e.allowed.push_back(a);
        }
    }
    klaspnet_bind_http(&k_host, nullptr);
    klaspnet_use_fake();
    // The quiet answers are the ones the operations are meant to give.
    for (const expected &e : ops) {
        for (const answer &a : e.allowed) {
            if (std::strcmp(e.name, "stat") == 0 && a.rc == KLASPNET_E_UNSUPPORTED)
                EXPECT_EQ(a.out, ktest::error_json("stat needs a transport with the velkaron_http extension (Range)",
                                                   KLASPNET_E_UNSUPPORTED));
            else if (std::strcmp(e.name, "download") == 0)
                EXPECT_EQ(a.rc, KLASPNET_E_UNSUPPORTED);
            else
                EXPECT_EQ(a.rc, 0) << e.name << ": " << a.out;
        }
    }
    if (HasFailure()) return;

    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(1500);
    const int k_rounds = 400; // per operation thread, unless the deadline comes first
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> op_calls{0}, control_calls{0};
    failures bad;
    std::vector<std::thread> threads;

    // Two threads per operation.
    for (const expected &e : ops) {
        for (int copy = 0; copy < 2; ++copy) {
            threads.emplace_back([&, e] {
                for (int i = 0; i < k_rounds && clock::now() < deadline; ++i) {
                    answer a = call(e.op);
                    op_calls.fetch_add(1, std::memory_order_relaxed);
                    bool known = false;
                    for (const answer &b : e.allowed) known |= b.rc == a.rc && b.out == a.out;
                    if (!known) bad.add(std::string(e.name) + " answered " + std::to_string(a.rc) + " " + a.out);
                }
            });
        }
    }
    auto control = [&](std::function<void(int)> step) {
        threads.emplace_back([&, step] {
            for (int i = 0; !stop.load(std::memory_order_relaxed); ++i) {
                step(i);
                control_calls.fetch_add(1, std::memory_order_relaxed);
            }
        });
    };
    // The transport: the fake and the host's record in turn.
    control([](int i) {
        if (i % 2)
            klaspnet_use_fake();
        else
            klaspnet_set_io(&k_host);
    });
    // The host's extension bound and unbound.
    control([](int i) { klaspnet_bind_http(&k_host, i % 2 ? &k_host_http : nullptr); });
    // The fake re-scripted with the same answers, other URLs scripted and
    // failed, its counters and last-request text read (one thread: the text
    // lives in one shared slot).
    control([&](int i) {
        script();
        std::string other = "http://other/" + std::to_string(i % 64);
        if (i % 3)
            klaspnet_fake_set(other.c_str(), 500, nullptr, "busy");
        else
            klaspnet_fake_fail(other.c_str(), "down");
        (void)klaspnet_fake_calls(nullptr);
        const char *lr = klaspnet_fake_last_request(k_file);
        if (std::strncmp(lr, "{\"calls\":", 9) != 0) bad.add(std::string("fake_last_request: ") + lr);
    });
    // The published error and result (one reader: each lives in one shared
    // return slot).
    control([&](int) {
        std::string err = klaspnet_last_error();
        std::string res = klaspnet_result_json();
        yyjson_doc *d = yyjson_read(res.data(), res.size(), 0);
        if (!d) bad.add("published result is not JSON: " + res);
        yyjson_doc_free(d);
        if (!err.empty() && err != "stat needs a transport with the velkaron_http extension (Range)" &&
            err != "ASPNET is a read-only listing source: download is not supported")
            bad.add("last error: " + err);
    });

    for (size_t i = 0; i < ops.size() * 2; ++i) threads[i].join();
    stop.store(true);
    for (size_t i = ops.size() * 2; i < threads.size(); ++i) threads[i].join();

    klaspnet_bind_http(&k_host, nullptr);
    klaspnet_use_fake();
    klaspnet_fake_reset();
    std::printf("[ stress ] %zu threads, %llu operations, %llu control calls\n", threads.size(),
                static_cast<unsigned long long>(op_calls.load()),
                static_cast<unsigned long long>(control_calls.load()));
    for (const std::string &s : bad.list) ADD_FAILURE() << s;
    EXPECT_GT(op_calls.load(), ops.size() * 2);
}

} // namespace
