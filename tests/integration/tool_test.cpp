// The command-line tool against the real servers: exit statuses, the table,
// --json passing the library's text through, credentials never shown.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "harness.h"

namespace {

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int tool(const std::string &args, std::string *out)
{
    return it::run(quote(it::tool_path()) + " " + args + " 2>/dev/null", out);
}

class Tool : public ::testing::Test {
protected:
    void SetUp() override { IT_REQUIRE_SERVERS(); }
};

TEST_F(Tool, ListPrintsATableAndASummary)
{
    const it::server &s = it::by_name("nginx-exact");
    std::string out;
    ASSERT_EQ(tool("list " + quote(s.media_url()) + " Music", &out), 0);
    EXPECT_NE(out.find("Jazz & Blues/"), std::string::npos) << out;
    EXPECT_NE(out.find("Rock/"), std::string::npos) << out;
    EXPECT_NE(out.find("nginx pre listing"), std::string::npos) << out;
    EXPECT_NE(out.find("2 entries"), std::string::npos) << out;
    EXPECT_NE(out.find("final URL " + s.media_url() + "Music/"), std::string::npos) << out;

    ASSERT_EQ(tool("list " + quote(s.media_url()), &out), 0);
    EXPECT_NE(out.find("123456789  117.7 MiB  2019-06-25T08:07:00Z  big.bin"), std::string::npos) << out;
}

TEST_F(Tool, JsonIsTheLibrarysTextUnchanged)
{
    const it::server &s = it::by_name("apache-table");
    it::install(it::road::extension);
    it::result lib = it::list(it::settings_for(s.media_url()), "Music/Jazz & Blues");
    ASSERT_EQ(lib.rc, 0) << lib.error;
    std::string out;
    ASSERT_EQ(tool("list --json " + quote(s.media_url()) + " " + quote("Music/Jazz & Blues"), &out), 0);
    EXPECT_EQ(out, lib.published + "\n");
}

TEST_F(Tool, ExitStatusNamesTheLibraryCode)
{
    const it::server &s = it::by_name("nginx-exact");
    std::string out;
    EXPECT_EQ(tool("list " + quote(s.media_url()) + " no-such-folder", &out), 12);     // -2
    EXPECT_EQ(tool("list " + quote(s.private_url()), &out), 11);                       // -1
    EXPECT_EQ(tool("list ftp://example.org/", &out), 18);                              // -8
    EXPECT_EQ(tool("stat --plain-io " + quote(s.media_url()) + " big.bin", &out), 16); // -6
#if defined(KLASPNET_EXPECT_BUILTIN_CURL)
    EXPECT_EQ(tool("list --builtin-curl " + quote(s.media_url()), &out), 0);
    EXPECT_NE(out.find("0 redirects"), std::string::npos) << out; // the built-in extension is found
#else
    EXPECT_EQ(tool("list --builtin-curl " + quote(s.media_url()), &out), 16); // no default transport
#endif
    EXPECT_EQ(tool("frobnicate", &out), 2);
    EXPECT_EQ(tool("list", &out), 2);
    for (const char *cmd : {"list", "validate", "stat", "stream-url", "parse"}) {
        EXPECT_EQ(tool(std::string(cmd) + " --help", &out), 0) << cmd;
        EXPECT_NE(out.find(std::string("usage: klaspnet ") + cmd), std::string::npos) << out;
    }
}

TEST_F(Tool, CredentialsFromAPasswordFileAreNeverPrinted)
{
    const it::server &s = it::by_name("apache-table");
    std::string pwfile = ::testing::TempDir() + "klaspnet-pw.txt";
    {
        std::ofstream f(pwfile);
        f << it::k_password << "\n";
    }
    std::string out;
    int rc = tool("list --urls --user " + quote(it::k_user) + " --password-file " + quote(pwfile) + " " +
                      quote(s.private_url()),
                  &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("big.bin"), std::string::npos) << out;
    EXPECT_EQ(out.find(it::k_user), std::string::npos) << out;
    EXPECT_EQ(out.find("s3cr"), std::string::npos) << out;

    rc = tool("stream-url --user " + quote(it::k_user) + " --password-file " + quote(pwfile) + " " +
                  quote(s.private_url()) + " big.bin",
              &out);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(out.find("authorization: Basic (needed; not shown)"), std::string::npos) << out;
    EXPECT_EQ(out.find("Basic "), out.find("Basic (needed")) << out;
    std::remove(pwfile.c_str());
}

TEST_F(Tool, StatValidateAndParse)
{
    const it::server &s = it::by_name("nginx-exact");
    std::string out;
    ASSERT_EQ(tool("stat " + quote(s.media_url()) + " big.bin", &out), 0);
    EXPECT_NE(out.find("size: 123456789 (117.7 MiB)"), std::string::npos) << out;
    ASSERT_EQ(tool("validate " + quote(s.media_url()), &out), 0);
    EXPECT_NE(out.find("range probe: verified"), std::string::npos) << out;

    std::string page;
    ASSERT_EQ(it::fetch(s.media_url() + "Music/", &page), 200);
    std::string file = ::testing::TempDir() + "klaspnet-page.html";
    {
        std::ofstream f(file, std::ios::binary);
        f << page;
    }
    ASSERT_EQ(tool("parse " + quote(file) + " --url " + quote(s.media_url() + "Music/"), &out), 0);
    EXPECT_NE(out.find("Jazz & Blues/"), std::string::npos) << out;
    EXPECT_NE(out.find("nginx pre listing"), std::string::npos) << out;
    std::remove(file.c_str());
}

} // namespace
