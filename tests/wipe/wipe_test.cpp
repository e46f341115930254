// Credentials are cleared before their memory goes back to the heap.
//
// This program is linked with -Wl,--wrap=free: every free() made by the
// library's static code (and by this file) passes through __wrap_free, which
// scans the block about to be released for the secret texts of the current
// test. A block that still holds one is a credential left behind in freed
// memory. It runs as a program of its own so that no other test shares the
// wrapped free().
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "klaspnet/klaspnet.h"
#include "source/buf.h"
#include "source/cfg.h"
#include "source/fetch.h"
#include "source/ops.h"
#include "source/url.h"

using namespace klaspnet::detail;

extern "C" void __real_free(void *p);

namespace {

// Fixed-size state: the scan itself must not allocate.
constexpr int k_max_secrets = 8;
const char *g_secrets[k_max_secrets];
int g_nsecrets;
bool g_scanning;
int g_freed_blocks;
char g_found[128];

void watch(std::initializer_list<const char *> secrets)
{
    g_nsecrets = 0;
    for (const char *s : secrets) g_secrets[g_nsecrets++] = s;
    g_found[0] = '\0';
    g_freed_blocks = 0;
    g_scanning = true;
}

// Stops scanning; returns the first secret found in a freed block, or "".
std::string stop()
{
    g_scanning = false;
    return g_found;
}

} // namespace

extern "C" void __wrap_free(void *p)
{
    if (p && g_scanning) {
        g_freed_blocks++;
        size_t n = malloc_usable_size(p);
        for (int i = 0; i < g_nsecrets && !g_found[0]; i++) {
            if (memmem(p, n, g_secrets[i], std::strlen(g_secrets[i])))
                std::snprintf(g_found, sizeof g_found, "%s", g_secrets[i]);
        }
    }
    __real_free(p);
}

// realloc always moves the block here, as it may in any allocator: the old
// block then passes through the scanning free(), so that a buffer that grows
// with plain realloc shows the secret it left behind.
extern "C" void *__wrap_realloc(void *p, size_t n)
{
    void *q = std::malloc(n ? n : 1);
    if (!q) return nullptr;
    if (p) {
        const size_t old = malloc_usable_size(p);
        std::memcpy(q, p, old < n ? old : n);
        __wrap_free(p);
    }
    return q;
}

namespace {

// Secrets long and odd enough not to occur by chance.
const char k_user[] = "qzuserqz";
const char k_pass[] = "Xk9pass/Word77";
const char k_pair[] = "qzuserqz:Xk9pass/Word77";
const char k_b64[] = "cXp1c2VycXo6WGs5cGFzcy9Xb3JkNzc=";
const char k_hdr[] = "Basic cXp1c2VycXo6WGs5cGFzcy9Xb3JkNzc=";
// The password is written escaped in the URL: "/" as %2F.
const char k_settings[] = "{\"URL\":\"http://qzuserqz:Xk9pass%2FWord77@h/m\",\"ID\":\"x\"}";

TEST(Wipe, ScannerSeesAnUnwipedSecret)
{
    // The check of every other test depends on this one holding.
    // Allocated in another unit, so that the compiler cannot drop the pair.
    char *p = klaspnet_strdup((std::string("..") + k_pass + "..").c_str());
    watch({k_pass});
    std::free(p);
    EXPECT_EQ(stop(), k_pass);
    EXPECT_EQ(g_freed_blocks, 1);
    p = klaspnet_strdup(k_pass);
    watch({k_pass});
    klaspnet_free_secret(p);
    EXPECT_EQ(stop(), "");
}

TEST(Wipe, Base64IsWhatTheTestsLookFor)
{
    char *b = klaspnet_base64(k_pair);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b, k_b64);
    klaspnet_free_secret(b);
}

TEST(Wipe, RootFreeClearsThePassword)
{
    klaspnet_root root{};
    char msg[256];
    ASSERT_EQ(klaspnet_root_parse("http://qzuserqz:Xk9pass%2FWord77@h/", &root, msg, sizeof msg), 0);
    ASSERT_STREQ(root.pass, k_pass);
    watch({k_pass, k_user});
    klaspnet_root_free(&root);
    EXPECT_EQ(stop(), "");
    EXPECT_GE(g_freed_blocks, 3);
}

TEST(Wipe, PasswordBehindADecodedNulIsCleared)
{
    // %00 ends the decoded text early; the rest of the password still sat in
    // the block behind the NUL.
    klaspnet_root root{};
    char msg[256];
    ASSERT_EQ(klaspnet_root_parse("http://u:ab%00Xk9pass%2FWord77@h/", &root, msg, sizeof msg), 0);
    ASSERT_STREQ(root.pass, "ab");
    watch({k_pass});
    klaspnet_root_free(&root);
    EXPECT_EQ(stop(), "");
}

TEST(Wipe, SettingsDocumentIsCleared)
{
    // Loading succeeds or fails after the password was read into the parsed
    // document; either way that document is cleared when freed.
    const char *cases[] = {k_settings, "{\"URL\":\"http://qzuserqz:Xk9pass%2FWord77@my host/\"}",
                           "{\"URL\":\"http://qzuserqz:Xk9pass%2FWord77@h/?q\",\"DateOrder\":\"dmy\"}"};
    for (const char *json : cases) {
        klaspnet_cfg cfg;
        watch({"Xk9pass%2FWord77", k_pass});
        load_cfg(json, &cfg);
        klaspnet_root_free(&cfg.root);
        EXPECT_EQ(stop(), "") << json;
        EXPECT_GE(g_freed_blocks, 1) << json;
    }
}

TEST(Wipe, StreamUrlClearsEveryDerivedText)
{
    struct row {
        const char *entry;
        int32_t len;
        int rc;
    } rows[] = {
        {"{\"path\":\"/a.mkv\"}", 1024, 0},
        {"{\"path\":\"/a.mkv\"}", 20, KLASPNET_E_BUFFER}, // answer not delivered
        {"{\"path\":\"/a.mkv\"}", 0, KLASPNET_E_BUFFER},
        {"{\"path\":\"..\"}", 1024, KLASPNET_E_NOT_FOUND},
        {"{\"path\":\"/a\",\"folder\":true}", 1024, KLASPNET_E_NOT_FOUND},
        {"[]", 1024, KLASPNET_E_INVALID},
    };
    for (const row &r : rows) {
        char buf[1024];
        watch({k_pass, k_pair, k_b64, k_hdr, "Xk9pass%2FWord77"});
        int rc = h_stream_url(nullptr, k_settings, r.entry, r.len ? buf : nullptr, r.len);
        EXPECT_EQ(stop(), "") << r.entry << " " << r.len;
        EXPECT_EQ(rc, r.rc) << r.entry;
        if (rc == 0) {
            EXPECT_NE(std::strstr(buf, k_hdr), nullptr) << buf; // the header was built
        }
        // Nothing the library keeps for later carries a credential.
        std::string published = klaspnet_result_json_impl();
        std::string error = klaspnet_last_error_impl();
        for (const char *s : {k_user, k_pass, k_b64, "Xk9pass%2FWord77"}) {
            EXPECT_EQ(published.find(s), std::string::npos) << r.entry << " " << s;
            EXPECT_EQ(error.find(s), std::string::npos) << r.entry << " " << s;
        }
    }
}

// A host transport that fails every request with a text quoting the URL it
// received, credentials included.
int32_t echo_get(void *, const char *url, char **, int32_t *, char **error)
{
    const std::string text = std::string("cannot connect to ") + url;
    *error = static_cast<char *>(std::malloc(text.size() + 1));
    std::memcpy(*error, text.c_str(), text.size() + 1);
    return -1;
}

TEST(Wipe, GrowingBuffersOfSecretsLeaveNothingBehind)
{
    klaspnet_buf b = klaspnet_secret_buf();
    watch({k_pass});
    for (int i = 0; i < 64; i++) ASSERT_EQ(klaspnet_buf_adds(&b, k_pass), 0); // grows, and moves, several times
    klaspnet_buf_free(&b);
    EXPECT_EQ(stop(), "");
    EXPECT_GE(g_freed_blocks, 4);
}

TEST(Wipe, PlainRoadRequestUrlAndTransportErrorsAreCleared)
{
    // The credentials go into the request URL's userinfo; a long path makes
    // that URL outgrow the buffer's first blocks. The transport's answer
    // quotes it, and the masked error text shrank inside its record.
    const velkaron_io io{nullptr, echo_get, nullptr, nullptr};
    klaspnet_conn conn{&io, nullptr, k_user, k_pass};
    const std::string url = "http://h/" + std::string(600, 'p') + "/";
    klaspnet_resp r;
    watch({k_pass, "Xk9pass%2FWord77", "Word77@h"});
    EXPECT_EQ(klaspnet_fetch(&conn, url.c_str(), 0, 1024, &r), -1);
    klaspnet_resp_wipe(&r);
    EXPECT_EQ(stop(), "");
    EXPECT_EQ(std::string(r.error).find("Xk9"), std::string::npos);
}

TEST(Wipe, ListThroughAFailingTransportClearsTheErrorTexts)
{
    const velkaron_io io{nullptr, echo_get, nullptr, nullptr};
    char buf[1024];
    watch({k_pass, "Xk9pass%2FWord77", "Word77@h"});
    EXPECT_EQ(h_list(&io, k_settings, "", buf, sizeof buf), KLASPNET_E_UNAVAILABLE);
    EXPECT_EQ(stop(), "");
    EXPECT_EQ(std::string(buf).find("Xk9"), std::string::npos) << buf;
}

} // namespace
