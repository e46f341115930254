// Memory exhaustion at every allocation of every operation: no crash, no
// leak, no thrown exception, a status the operation documents for a memory
// failure, and a last error / last result that agree with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include <yyjson.h>

#include "interpose.h"
#include "klaspnet/klaspnet.h"
#include "oom_harness.h"
#include "source/transport_select.h"
#include "support/host.h"
#include "support/texts.h"
#include "transport/fake.h"

using oomt::op_case;
using oomt::run;

namespace {

// ---- fixtures -------------------------------------------------------------

const char k_root_page[] = "<html>\r\n<head><title>Index of /m/</title></head>\r\n<body>\r\n"
                           "<h1>Index of /m/</h1><hr><pre><a href=\"../\">../</a>\r\n"
                           "<a href=\"Sub/\">Sub/</a>                                               "
                           "01-Jan-2024 10:00                   -\r\n"
                           "<a href=\"a%20b.mkv\">a b.mkv</a>                                       "
                           "02-Jan-2024 11:30               12345\r\n"
                           "<a href=\"c%26d.txt\">c&amp;d.txt</a>                                   "
                           "15-Feb-2023 09:05                  99\r\n"
                           "</pre><hr></body>\r\n</html>\r\n";

const char k_sub_page[] = "<html>\r\n<head><title>Index of /m/Sub/</title></head>\r\n<body>\r\n"
                          "<h1>Index of /m/Sub/</h1><hr><pre><a href=\"../\">../</a>\r\n"
                          "<a href=\"x.flac\">x.flac</a>                                           "
                          "03-Mar-2024 12:00                 512\r\n"
                          "</pre><hr></body>\r\n</html>\r\n";

const char k_old_page[] = "<html>\r\n<head><title>Index of /m/old/</title></head>\r\n<body>\r\n"
                          "<h1>Index of /m/old/</h1><hr><pre><a href=\"../\">../</a>\r\n"
                          "<a href=\"y.ogg\">y.ogg</a>                                             "
                          "04-Apr-2024 08:15                 777\r\n"
                          "</pre><hr></body>\r\n</html>\r\n";

const char k_settings[] = "{\"URL\":\"http://h/m\",\"ID\":\"a1\"}";
const char k_settings_cred[] = "{\"URL\":\"http://user1:Secr3tPw@h/m\"}";

// Each operation sees the fake with the same script.
void script_fake()
{
    klaspnet_fake_reset();
    klaspnet_use_fake();
    klaspnet_fake_set("http://h/m/", 200, "Content-Type: text/html", k_root_page);
    klaspnet_fake_set("http://h/m/Sub/", 200, "Content-Type: text/html", k_sub_page);
    klaspnet_fake_set("http://h/m/old/", 301, "Location: https://h/m/old/", "moved");
    klaspnet_fake_set("https://h/m/old/", 200, "Content-Type: text/html", k_old_page);
    klaspnet_fake_set("http://h/m/Sub/x", 302, "Location: https://h/m/Sub/", "moved");
    klaspnet_fake_set("https://h/m/Sub/", 200, "Content-Type: text/html", k_sub_page);
    klaspnet_fake_set("http://h/m/a%20b.mkv", 206, "Content-Range: bytes 0-0/12345\nContent-Length: 1", "x");
}

// Crash reports name the run that crashed.
char g_where[200] = "outside the sweeps";

extern "C" void on_fatal(int sig)
{
    const char head[] = "\nfatal signal during: ";
    (void)!write(2, head, sizeof head - 1);
    (void)!write(2, g_where, std::strlen(g_where));
    (void)!write(2, "\n", 1);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

struct fatal_report {
    fatal_report()
    {
        std::signal(SIGSEGV, on_fatal);
        std::signal(SIGABRT, on_fatal);
        std::signal(SIGBUS, on_fatal);
        std::signal(SIGFPE, on_fatal);
    }
} g_fatal_report;

op_case operation(const char *name, std::function<int()> op)
{
    op_case c;
    c.name = name;
    c.op = op;
    c.settle = [op] { (void)op(); };
    return c;
}

// Runs the sweeps once a clean run has answered clean_rc.
void sweep_op(const op_case &c, int clean_rc = 0)
{
    std::snprintf(g_where, sizeof g_where, "%s", c.name.c_str());
    run ref = oomt::clean(c);
    ASSERT_EQ(ref.rc, clean_rc) << c.name << ": " << ref.err;
    oomt::sweep(c);
}

// ---- the library frame ----------------------------------------------------

TEST(OomFrame, DownloadRefusalKeepsItsCode)
{
    op_case c = operation("download", [] { return klaspnet_download("{}", "{}", oomt::dst(), oomt::k_dst_len); });
    c.codes = {KLASPNET_E_UNSUPPORTED};
    c.messages = {"ASPNET is a read-only listing source: download is not supported"};
    c.check = [](const run &r) { EXPECT_EQ(r.rc, KLASPNET_E_UNSUPPORTED); };
    oomt::sweep(c);
}

TEST(OomFrame, ResultJsonAnswersThePublishedTextOrEmptyObject)
{
    static char got[256];
    op_case c;
    c.name = "klaspnet_result_json";
    c.publishes = false;
    c.settle = [] {
        (void)klaspnet_download("{}", "{}", nullptr, 0);
        (void)klaspnet_result_json();
    };
    c.op = [] {
        const char *p = klaspnet_result_json();
        std::snprintf(got, sizeof got, "%s", p);
        return 0;
    };
    c.check = [](const run &) {
        std::string want = ktest::error_json("ASPNET is a read-only listing source: download is not supported",
                                             KLASPNET_E_UNSUPPORTED);
        // The previous copy holds the same text; "{}" only when there is none.
        EXPECT_EQ(std::string(got), want);
    };
    oomt::sweep(c);
}

// A host transport record per run, each with its own context: the library
// keeps every distinct record it was given until unload.
int32_t host_get(void *, const char *, char **, int32_t *, char **) { return -1; }

TEST(OomFrame, SetIoLeavesTheCurrentTransportOnFailure)
{
    static uintptr_t next_ctx = 0x1000;
    static const velkaron_io base{reinterpret_cast<void *>(0x10), host_get, nullptr, nullptr};
    op_case c;
    c.name = "klaspnet_set_io";
    c.publishes = false;
    c.settle = [] { ASSERT_EQ(klaspnet_set_io(&base), 0); };
    c.op = [] {
        velkaron_io rec{reinterpret_cast<void *>(next_ctx++), host_get, nullptr, nullptr};
        return klaspnet_set_io(&rec);
    };
    // The new copy takes the place of the base's, which nothing holds.
    c.kept = [](const run &) -> int64_t { return 0; };
    c.inspect = [](const run &r) {
        const velkaron_io *cur = klaspnet_io_current();
        if (r.rc == 0) {
            ASSERT_NE(cur, nullptr);
            EXPECT_EQ(cur->get, host_get);
        } else {
            EXPECT_EQ(r.rc, KLASPNET_E_FAILED);
            ASSERT_NE(cur, nullptr);
            EXPECT_EQ(cur->ctx, base.ctx) << "a failed install changed the transport";
        }
    };
    oomt::sweep(c);
}

// ---- the fake transport's controls ---------------------------------------

int32_t fake_get(const char *url, std::string *body, int32_t *status, std::string *error)
{
    const velkaron_io *io = klaspnet_io_fake();
    char *b = nullptr;
    char *e = nullptr;
    int32_t rc = io->get(io->ctx, url, &b, status, &e);
    if (b) *body = b;
    if (e) *error = e;
    std::free(b);
    std::free(e);
    return rc;
}

TEST(OomFake, SetKeepsTheScriptConsistent)
{
    for (int existing = 0; existing < 2; ++existing) {
        op_case c;
        c.name = existing ? "fake_set (re-script)" : "fake_set (new URL)";
        c.publishes = false;
        c.settle = [existing] {
            klaspnet_fake_reset();
            if (existing) klaspnet_fake_set("http://h/x", 201, "A: 1", "old");
        };
        c.op = [] { return klaspnet_fake_set("http://h/x", 200, "A: b\nC: d", "body"); };
        c.inspect = [existing](const run &r) {
            std::string body, error;
            int32_t status = 0;
            int32_t rc = fake_get("http://h/x", &body, &status, &error);
            if (r.rc == 0) {
                EXPECT_EQ(rc, 0);
                EXPECT_EQ(body, "body");
                EXPECT_EQ(status, 200);
            } else {
                EXPECT_EQ(r.rc, KLASPNET_E_FAILED);
                // Not appended (404), appended without body (a failure
                // record), or body stored with the former status.
                if (rc == 0) {
                    EXPECT_TRUE((status == 404 && !existing) || body == "body") << status << " " << body;
                } else {
                    EXPECT_EQ(error, "fake: transport failure");
                }
            }
            // The script stays usable.
            EXPECT_EQ(klaspnet_fake_set("http://h/x", 202, nullptr, "again"), 0);
            EXPECT_EQ(fake_get("http://h/x", &body, &status, &error), 0);
            EXPECT_EQ(body, "again");
            EXPECT_EQ(status, 202);
        };
        oomt::sweep(c);
    }
}

TEST(OomFake, FailKeepsTheScriptConsistent)
{
    op_case c;
    c.name = "fake_fail";
    c.publishes = false;
    c.settle = [] {
        klaspnet_fake_reset();
        for (int i = 0; i < 16; ++i) // the next record grows the array
            klaspnet_fake_set(("http://h/" + std::to_string(i)).c_str(), 200, nullptr, "b");
    };
    c.op = [] { return klaspnet_fake_fail("http://h/x", "scripted failure"); };
    c.inspect = [](const run &r) {
        std::string body, error;
        int32_t status = 0;
        int32_t rc = fake_get("http://h/x", &body, &status, &error);
        if (r.rc == 0) {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(error, "scripted failure");
        } else {
            EXPECT_EQ(r.rc, KLASPNET_E_FAILED);
            if (rc == 0) {
                EXPECT_EQ(status, 404);
            } else {
                EXPECT_EQ(error, "fake: transport failure");
            }
        }
        EXPECT_EQ(klaspnet_fake_calls("http://h/0"), 0u);
    };
    oomt::sweep(c);
}

TEST(OomFake, LastRequestAnswersItsTextOrEmptyObject)
{
    static char got[256];
    op_case c;
    c.name = "fake_last_request";
    c.publishes = false;
    c.settle = [] {
        klaspnet_fake_reset();
        klaspnet_fake_set("http://h/x", 200, nullptr, "b");
        std::string body, error;
        int32_t status = 0;
        (void)fake_get("http://h/x", &body, &status, &error);
        (void)klaspnet_fake_last_request("http://h/x");
    };
    c.op = [] {
        std::snprintf(got, sizeof got, "%s", klaspnet_fake_last_request("http://h/x"));
        return 0;
    };
    c.check = [](const run &) {
        std::string g = got;
        EXPECT_TRUE(g == "{\"calls\":1,\"range\":null,\"auth\":false}" || g == "{}") << g;
    };
    oomt::sweep(c);
}

TEST(OomFake, GetAnswersOrFailsWithItsOwnText)
{
    static std::string body, error;
    static int32_t status;
    op_case c;
    c.name = "fake get (redirect, credentials)";
    c.publishes = false;
    c.settle = [] {
        script_fake();
        body.reserve(4096);
        error.reserve(4096);
    };
    c.op = [] {
        const velkaron_io *io = klaspnet_io_fake();
        char *b = nullptr;
        char *e = nullptr;
        int32_t rc = io->get(io->ctx, "http://u:p@h/m/Sub/x", &b, &status, &e);
        body.assign(b ? b : "");
        error.assign(e ? e : "");
        std::free(b);
        std::free(e);
        return rc;
    };
    c.check = [](const run &r) {
        if (r.rc == 0) {
            EXPECT_EQ(status, 200);
            EXPECT_EQ(body, k_sub_page);
        } else {
            EXPECT_EQ(r.rc, -1);
            // A Location that cannot be resolved for lack of memory reads as
            // a bad Location: the resolver has one failure for both.
            // With every allocation refused not even the text can be had.
            EXPECT_TRUE(error == "fake: out of memory" || error == "fake: bad Location" || error.empty()) << error;
        }
    };
    oomt::sweep(c);
}

// ---- operations -------------------------------------------------------

const std::vector<int> k_fetching_codes = {KLASPNET_E_UNAVAILABLE, KLASPNET_E_FAILED, KLASPNET_E_INVALID,
                                           KLASPNET_E_NOT_FOUND};
// Besides the texts that say "out of memory": a transport that cannot even
// copy its error text fails without one, and a redirect whose Location
// cannot be resolved for lack of memory reads as an unusable Location.
const std::vector<std::string> k_fetching_messages = {"GET *: transport failure",
                                                      "GET *: redirect Location is not a usable URL"};

std::vector<std::string> with_fetching(std::vector<std::string> m)
{
    m.insert(m.end(), k_fetching_messages.begin(), k_fetching_messages.end());
    return m;
}

TEST(OomOperation, Parse)
{
    op_case c =
        operation("parse", [] { return klaspnet_parse(k_root_page, "http://h/m/", oomt::dst(), oomt::k_dst_len); });
    c.codes = {KLASPNET_E_FAILED};
    c.publishes_output = true;
    c.whole_output = true;
    sweep_op(c);
}

// Links that go through the full resolver and child test (absolute and
// folder-relative forms) rather than the plain-segment path: a name that
// cannot be decoded for lack of memory fails the parse instead of being
// counted as rejected.
TEST(OomOperation, ParseOfResolvedLinks)
{
    static const char page[] = "<html><head><title>Index of /m/</title></head><body><h1>Index of /m/</h1><hr><pre>"
                               "<a href=\"../\">../</a>\r\n"
                               "<a href=\"http://h/m/Sub/\">Sub/</a>        01-Jan-2024 10:00       -\r\n"
                               "<a href=\"/m/a%20b.mkv\">a b.mkv</a>       02-Jan-2024 11:30   12345\r\n"
                               "<a href=\"./c%26d.txt\">c&amp;d.txt</a>   15-Feb-2023 09:05      99\r\n"
                               "</pre><hr></body></html>\r\n";
    op_case c = operation("parse (resolved links)",
                          [] { return klaspnet_parse(page, "http://h/m/", oomt::dst(), oomt::k_dst_len); });
    c.codes = {KLASPNET_E_FAILED};
    c.publishes_output = true;
    c.whole_output = true;
    sweep_op(c);
}

TEST(OomOperation, ParseIntoSmallBuffer)
{
    op_case c = operation("parse (buffer too small)",
                          [] { return klaspnet_parse(k_root_page, "http://h/m/", oomt::dst(), 16); });
    c.codes = {KLASPNET_E_FAILED};
    sweep_op(c, KLASPNET_E_BUFFER);
}

TEST(OomOperation, List)
{
    script_fake();
    for (const char *settings : {k_settings, k_settings_cred}) {
        for (const char *folder : {"", "Sub", "old"}) {
            std::string name = std::string("list ") + (settings == k_settings ? "" : "(credentials) ") + "/" + folder;
            op_case c = operation(name.c_str(), [settings, folder] {
                return klaspnet_list(settings, folder, oomt::dst(), oomt::k_dst_len);
            });
            c.codes = k_fetching_codes;
            c.messages = with_fetching({"settings are not a JSON object",
                                        "folder_id is not a valid path (., .. or control characters)",
                                        "folder URL longer than 8192 bytes"});
            c.whole_output = true;
            c.check = [](const run &r) {
                EXPECT_EQ(r.res.find("Secr3tPw"), std::string::npos) << r.res;
                EXPECT_EQ(r.err.find("Secr3tPw"), std::string::npos) << r.err;
            };
            sweep_op(c);
        }
    }
}

TEST(OomOperation, Validate)
{
    script_fake();
    for (const char *settings : {k_settings, k_settings_cred}) {
        op_case c = operation(settings == k_settings ? "validate" : "validate (credentials)",
                              [settings] { return klaspnet_validate(settings, oomt::dst(), oomt::k_dst_len); });
        c.codes = k_fetching_codes;
        c.messages = with_fetching({"settings are not a JSON object"});
        c.whole_output = true;
        c.comparable = [](const std::string &out) {
            // The proposed settings carry a new identifier on every run.
            size_t at = out.find("\"ID\":\"");
            return at == std::string::npos ? out : out.substr(0, at) + out.substr(std::min(out.size(), at + 43));
        };
        c.check = [](const run &r) {
            EXPECT_EQ(r.res.find("Secr3tPw"), std::string::npos) << r.res;
            EXPECT_EQ(r.out.find("Secr3tPw"), std::string::npos) << r.out;
        };
        sweep_op(c);
    }
}

TEST(OomOperation, Stat)
{
    script_fake();
    for (const char *settings : {k_settings, k_settings_cred}) {
        op_case c = operation(settings == k_settings ? "stat" : "stat (credentials)",
                              [settings] { return klaspnet_stat(settings, "/a b.mkv", oomt::dst(), oomt::k_dst_len); });
        c.codes = k_fetching_codes;
        c.messages = with_fetching(
            {"settings are not a JSON object", "path is not a file path", "file URL longer than 8192 bytes"});
        c.publishes_output = true;
        sweep_op(c);
    }
}

TEST(OomOperation, StreamUrlWithCredentials)
{
    op_case c = operation("stream_url (credentials)", [] {
        return klaspnet_stream_url(k_settings_cred, "{\"path\":\"/Films/a b.mkv\",\"folder\":false}", oomt::dst(),
                                   oomt::k_dst_len);
    });
    c.codes = {KLASPNET_E_FAILED, KLASPNET_E_INVALID, KLASPNET_E_NOT_FOUND};
    c.messages = {"settings are not a JSON object", "entry is not a JSON object",
                  "entry path is not a file path (empty, ., .. or control characters)",
                  "file URL longer than 8192 bytes"};
    c.whole_output = true;
    c.check = [](const run &r) {
        // The published summary never carries the header or the password.
        EXPECT_EQ(r.res.find("Authorization"), std::string::npos) << r.res;
        EXPECT_EQ(r.res.find("Secr3tPw"), std::string::npos) << r.res;
        EXPECT_EQ(r.err.find("Secr3tPw"), std::string::npos) << r.err;
    };
    sweep_op(c);
}

// A page that reaches the fetch in several pieces (the fake hands bodies
// over 4096 bytes at a time): a piece that cannot be kept must not leave a
// shortened listing that passes for the whole folder.
// An nginx page of `entries` files whose names are padded to at least
// `name_len` bytes.
std::string big_page(const char *folder, int entries, size_t name_len)
{
    std::string p = std::string("<html><head><title>Index of /m/") + folder + "/</title></head><body><h1>Index of /m/" +
                    folder + "/</h1><hr><pre><a href=\"../\">../</a>\r\n";
    for (int i = 0; i < entries; ++i) {
        std::string n = "track-" + std::to_string(1000 + i);
        if (n.size() < name_len) n.append(name_len - n.size(), 'x');
        n += ".flac";
        p += "<a href=\"" + n + "\">" + n +
             "</a>                                   01-Jan-2024 10:00"
             "             123456\r\n";
    }
    return p + "</pre><hr></body></html>\r\n";
}

// Without a length the body grows piece by piece; with Content-Length it is
// collected into one block of that size.
// Its JSON does not fit the caller's buffer when clean_rc is KLASPNET_E_BUFFER.
void sweep_big_page(const char *folder, const std::string &page, const std::string &size, int entries, int clean_rc = 0)
{
    script_fake();
    const std::string with_length = "Content-Type: text/html\nContent-Length: " + std::to_string(page.size());
    static std::string url;
    url = std::string("http://h/m/") + folder + "/";
    static const char *name;
    name = folder;
    for (const std::string &headers : {std::string("Content-Type: text/html"), with_length}) {
        klaspnet_fake_set(url.c_str(), 200, headers.c_str(), page.c_str());
        const std::string title =
            "list /" + std::string(folder) + " (" + size + (headers == with_length ? ", length)" : ")");
        op_case c =
            operation(title.c_str(), [] { return klaspnet_list(k_settings, name, oomt::dst(), oomt::k_dst_len); });
        c.codes = k_fetching_codes;
        c.messages = with_fetching({"settings are not a JSON object",
                                    "folder_id is not a valid path (., .. or control characters)",
                                    "folder URL longer than 8192 bytes"});
        c.check = [entries](const run &r) {
            if (r.rc != 0 && r.rc != KLASPNET_E_BUFFER) return;
            // A link whose name cannot be decoded for lack of memory counts as
            // rejected, but the page itself is read whole: every one of its
            // links is an entry or a rejection, never cut off.
            yyjson_doc *d = yyjson_read(r.res.data(), r.res.size(), 0);
            yyjson_val *root = yyjson_doc_get_root(d);
            yyjson_val *count = yyjson_obj_get(root, "count");
            yyjson_val *rejected = yyjson_obj_get(root, "rejected");
            if (count && rejected) {
                EXPECT_EQ(yyjson_get_int(count) + yyjson_get_int(rejected), entries) << "the page was cut short";
            }
            yyjson_doc_free(d);
        };
        sweep_op(c, clean_rc);
    }
}

TEST(OomOperation, ListOfAPageInSeveralPieces)
{
    static const std::string page = big_page("Big", 120, 0);
    ASSERT_GT(page.size(), 3 * 4096u);
    sweep_big_page("Big", page, "12 KiB", 120);
}

// A page of 2 MiB: its body, its entry table, its name index, its names and
// its JSON are large blocks, each a failure point of its own.
TEST(OomOperation, ListOfALargePage)
{
    static const std::string page = big_page("Huge", 1200, 900);
    ASSERT_GT(page.size(), size_t{2} << 20);
    sweep_big_page("Huge", page, "2 MiB", 1200, KLASPNET_E_BUFFER);
}

// A plain velkaron_io host transport without extension whose own
// allocations fail as well: a body it cannot copy is its transport failure.
// It records nothing, so that it allocates only what it hands over.
struct plain_host : ktest::recording_host {
    plain_host()
    {
        record = false;
        answers["http://h/m/"] = ktest::page(k_root_page);
        unknown = ktest::failure(-1, "no such page");
    }
};

TEST(OomOperation, ListThroughPlainHostTransport)
{
    static plain_host host;
    static velkaron_io rec = host.io();
    op_case c = operation("list (plain velkaron_io)",
                          [] { return klaspnet_list(k_settings, "", oomt::dst(), oomt::k_dst_len); });
    c.settle = [] {
        klaspnet_set_io(&rec);
        (void)klaspnet_list(k_settings, "", oomt::dst(), oomt::k_dst_len);
    };
    c.codes = k_fetching_codes;
    c.messages = {"settings are not a JSON object", "folder URL longer than 8192 bytes",
                  "folder_id is not a valid path (., .. or control characters)", "GET http://h/m/: transport failure"};
    sweep_op(c);
    klaspnet_use_fake();
}

} // namespace
