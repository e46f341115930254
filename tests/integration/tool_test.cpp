// The command-line tool against the real servers: the table and its
// summary, --json passing the library's text through, exit statuses, the
// command line itself, credentials from every source never shown.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>

#include "harness.h"
#include "support/data.h"
#include "tool_support.h"

namespace {

using tt::tool;

class Tool : public ::testing::Test {
protected:
    void SetUp() override { IT_REQUIRE_SERVERS(); }
};

std::string write_temp(const std::string &name, const std::string &text)
{
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST_F(Tool, ListPrintsATableAndItsSummaryOnStandardError)
{
    const it::server &s = it::by_name("nginx-exact");
    tt::ran r = tool({"list", s.media_url(), "Music"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Jazz & Blues/"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Rock/"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("listing"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "nginx listing (pre), 2 entries, 1 link skipped\n");

    r = tool({"list", "-q", s.media_url()});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    bool found = false;
    for (const tt::row &row : tt::table_rows(r.out))
        if (row.name == "big.bin") {
            found = true;
            EXPECT_EQ(row.type, "file");
            EXPECT_EQ(row.size, "123456789");
            EXPECT_EQ(row.human, "117.7 MiB");
            // The page's own reading, not labelled UTC: nginx may print local time.
            EXPECT_EQ(row.modified, "2019-06-25 08:07");
        }
    EXPECT_TRUE(found) << r.out;
}

TEST_F(Tool, JsonIsTheLibrarysTextUnchanged)
{
    const it::server &s = it::by_name("apache-table");
    it::install(it::road::extension);
    it::result lib = it::list(it::settings_for(s.media_url()), "Music/Jazz & Blues");
    ASSERT_EQ(lib.rc, 0) << lib.error;
    tt::ran r = tool({"list", "--json", s.media_url(), "Music/Jazz & Blues"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, lib.published + "\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(Tool, ExitStatusSaysWhatWentWrong)
{
    const std::string url = it::by_name("nginx-exact").media_url();
    const struct {
        std::vector<std::string> args;
        int status;
        const char *says; // on standard error
    } cases[] = {
        {{"list", url, "no-such-folder"}, 12, "HTTP 404"},
        {{"list", it::by_name("nginx-exact").private_url()}, 11, "HTTP 401"},
        {{"list", "ftp://example.org/"}, 18, "http:// or https://"},
        {{"stat", "--plain-io", url, "big.bin"}, 16, "stat needs Range requests, which --plain-io does not send"},
        {{"stat", url, "Music"}, 12, "Music is a folder"},
        {{"stat", url, "Music/"}, 12, "is a folder"},
        // Usage errors: the call itself is wrong.
        {{"frobnicate"}, 2, "unknown command"},
        {{"list"}, 2, "missing arguments"},
        {{"list", url, "a/../b"}, 2, "the folder path must not contain . or .. segments"},
        {{"list", url, "a\tb"}, 2, "the folder path must not contain control characters"},
        {{"stat", url, "/"}, 2, "the file path names no file"},
        {{"list", "  "}, 2, "the URL is empty"},
        {{"list", "--frob", url}, 2, "unknown option --frob"},
        {{"list", "--jobs", "0", url}, 2, "--jobs takes a whole number"},
        {{"list", "--sort=owner", url}, 2, "--sort takes name, size or time"},
        {{"list", "--json", "--sort", "size", url}, 2, "--json writes the library's text unchanged"},
        {{"list", "--exact", "--plain-io", url}, 2, "--plain-io"},
        {{"list", "--password-file", "/dev/null", url}, 2, "--password-file needs --user"},
        {{"stat", "--urls", url, "big.bin"}, 2, "--urls does not apply to stat"},
        {{"list", "--server-tz", "Mars/Olympus_Mons", url}, 2, "unknown time zone"},
        {{"list", "--quiet=yes", url}, 2, "--quiet takes no value"},
    };
    for (const auto &c : cases) {
        tt::ran r = tool(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
#if defined(KLASPNET_EXPECT_BUILTIN_CURL)
    tt::ran r = tool({"list", "--builtin-curl", url});
    EXPECT_EQ(r.status, 0) << r.err;
#else
    // A module without a built-in transport: the option is not offered.
    tt::ran r = tool({"list", "--builtin-curl", url});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no built-in transport"), std::string::npos) << r.err;
    EXPECT_EQ(tool({"list", "--help"}).out.find("--builtin-curl"), std::string::npos);
#endif
}

TEST_F(Tool, HelpDescribesEveryOptionOfEachCommand)
{
    const struct {
        const char *cmd;
        std::vector<const char *> options;
    } cases[] = {
        {"list", {"--json",      "--quiet",      "--urls",    "--recursive",       "--max-depth", "--jobs",
                  "--exact",     "--sort",       "--reverse", "--dirs-first",      "--include",   "--exclude",
                  "--server-tz", "--date-order", "--user",    "--password-file",   "--netrc",     "--netrc-file",
                  "--insecure",  "--cacert",     "--capath",  "--connect-timeout", "--max-time",  "--retry",
                  "--plain-io",  "-h, --help"}},
        {"validate", {"--json", "--date-order", "--user", "--netrc", "--insecure", "--cacert", "--retry"}},
        {"stat", {"--json", "--user", "--insecure", "--max-time", "--retry", "--plain-io"}},
        {"stream-url", {"--json", "--curl", "--user", "--netrc-file", "--insecure", "--cacert"}},
        {"parse", {"--json", "--url", "--sort", "--include", "--server-tz"}},
    };
    for (const auto &c : cases) {
        for (const char *how : {"--help", "-h"}) {
            tt::ran r = tool({c.cmd, how});
            EXPECT_EQ(r.status, 0);
            EXPECT_NE(r.out.find(std::string("usage: klaspnet ") + c.cmd), std::string::npos) << r.out;
            for (const char *opt : c.options) EXPECT_NE(r.out.find(opt), std::string::npos) << c.cmd << " " << opt;
            // Words of the library's insides stay out of what a person reads.
            std::string text = r.out;
            for (size_t at; (at = text.find("KLASPNET_PASSWORD")) != std::string::npos;) text.erase(at, 17);
            for (const char *inner : {"ASPNET", "velkaron", "folder_id", "listing source"})
                EXPECT_EQ(text.find(inner), std::string::npos) << c.cmd << " " << inner;
        }
    }
    tt::ran top = tool({"--help"});
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("--version"), std::string::npos);
    EXPECT_EQ(top.out.find("ASPNET"), std::string::npos);
    tt::ran v = tool({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("klaspnet 1.0.0\n", 0), 0u) << v.out;
    EXPECT_NE(v.out.find("libcurl/"), std::string::npos) << v.out;
}

// Every option a command's help offers is in the manual page and in both
// shell completions.
TEST(ToolDocs, ManualAndCompletionsNameEveryOption)
{
    const std::string dir = KLASPNET_SOURCE_DIR;
    const std::string man = ktest::slurp(dir + "/doc/klaspnet.1");
    const std::string bash = ktest::slurp(dir + "/completions/klaspnet.bash");
    const std::string zsh = ktest::slurp(dir + "/completions/_klaspnet");
    for (const char *cmd : {"list", "validate", "stat", "stream-url", "parse"}) {
        const std::string help = tool({cmd, "--help"}).out;
        for (size_t at = 0; (at = help.find("\n  ", at)) != std::string::npos;) {
            at += 3;
            const size_t dash = help.find("--", at);
            if (dash == std::string::npos || dash > at + 6) continue;
            size_t end = dash + 2;
            while (end < help.size() && (std::isalnum(static_cast<unsigned char>(help[end])) || help[end] == '-'))
                end++;
            const std::string name = help.substr(dash, end - dash);
            std::string roff;
            for (char c : name) roff += c == '-' ? std::string("\\-") : std::string(1, c);
            EXPECT_NE(man.find(roff), std::string::npos) << cmd << " " << name << " (man: " << roff << ")";
            EXPECT_NE(bash.find(name), std::string::npos) << cmd << " " << name << " (bash)";
            EXPECT_NE(zsh.find(name), std::string::npos) << cmd << " " << name << " (zsh)";
        }
    }
}

TEST_F(Tool, OptionsTakeTheirValueAfterAnEqualsSignOrApart)
{
    const std::string url = it::by_name("nginx-exact").media_url();
    tt::ran a = tool({"list", "--sort=size", "--reverse", "--include=*.mp3", url});
    tt::ran b = tool({"list", "--sort", "size", "-r", "--include", "*.mp3", url});
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
    // Bundled short flags.
    tt::ran c = tool({"list", "-Rq", "--max-depth=2", url});
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.err, "");
    EXPECT_NE(c.out.find("Music/Rock/"), std::string::npos);
    EXPECT_EQ(c.out.find("Music/Rock/Nested/"), std::string::npos);
}

TEST_F(Tool, CredentialsFromEverySourceAreNeverPrinted)
{
    const it::server &s = it::by_name("apache-table");
    const std::string host = "127.0.0.1";
    const std::string pwfile = write_temp("klaspnet-pw.txt", std::string(it::k_password) + "\n");
    const std::string netrc =
        write_temp("klaspnet-netrc", "machine other.example login x password y\nmachine " + host + " login " +
                                         it::k_user + " password \"" + it::k_password + "\"\n");
    const std::string home = ::testing::TempDir() + "klaspnet-home";
    std::system(("mkdir -p " + tt::shell_quote(home) + " && cp " + tt::shell_quote(netrc) + " " +
                 tt::shell_quote(home + "/.netrc"))
                    .c_str());
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> env;
    } cases[] = {
        {{"--user", it::k_user, "--password-file", pwfile}, {}},
        {{"--user=" + std::string(it::k_user), "--password-file=-"}, {}},
        {{"--user", it::k_user}, {"KLASPNET_PASSWORD=" + std::string(it::k_password)}},
        {{"--netrc-file", netrc}, {}},
        {{"--netrc"}, {"HOME=" + home}},
        {{"--netrc", "--user", it::k_user}, {"HOME=" + home}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"list", "--urls"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(s.private_url());
        tt::run_opts o;
        o.env = c.env;
        o.input = std::string(it::k_password) + "\n";
        tt::ran r = tool(args, o);
        EXPECT_EQ(r.status, 0) << c.args[0] << ": " << r.err;
        EXPECT_NE(r.out.find("big.bin"), std::string::npos) << r.out;
        for (const std::string *text : {&r.out, &r.err}) {
            EXPECT_EQ(text->find(it::k_user), std::string::npos) << *text;
            EXPECT_EQ(text->find("s3cr"), std::string::npos) << *text;
        }
    }
    // A wrong password from the environment is refused by the server.
    tt::run_opts wrong;
    wrong.env = {"KLASPNET_PASSWORD=wrong"};
    EXPECT_EQ(tool({"list", "--user", it::k_user, s.private_url()}, wrong).status, 11);
    // Without a terminal the password cannot be asked.
    tt::ran none = tool({"list", "--user", it::k_user, s.private_url()});
    EXPECT_EQ(none.status, 3);
    EXPECT_NE(none.err.find("no terminal"), std::string::npos) << none.err;

    tt::ran r = tool({"stream-url", "--user", it::k_user, "--password-file", pwfile, s.private_url(), "big.bin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("authorization: Basic, needed (the header is shown only with --curl)"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Basic "), std::string::npos) << r.out;
    std::remove(pwfile.c_str());
    std::remove(netrc.c_str());
}

TEST_F(Tool, StreamUrlWithCurlPrintsACommandThatFetchesTheFile)
{
    const it::server &s = it::by_name("nginx-exact");
    const std::string pwfile = write_temp("klaspnet-pw2.txt", it::k_password);
    const std::string file = "Music/Jazz & Blues/So What.mp3";
    tt::ran r = tool({"stream-url", "--curl", "--user", it::k_user, "--password-file", pwfile, s.private_url(), file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("curl ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Authorization: Basic "), std::string::npos) << r.out;
    const std::string got = ::testing::TempDir() + "klaspnet-fetched";
    ASSERT_EQ(std::system((r.out.substr(0, r.out.size() - 1) + " -s -o " + tt::shell_quote(got)).c_str()), 0);
    const std::string a = ktest::slurp(got), b = ktest::slurp(it::fs_path(file));
    EXPECT_EQ(a.size(), 5000u);
    EXPECT_TRUE(a == b);
    std::remove(got.c_str());
    std::remove(pwfile.c_str());
}

TEST_F(Tool, StatValidateAndParseInPlainWords)
{
    const it::server &s = it::by_name("nginx-exact");
    tt::ran r = tool({"stat", s.media_url(), "big.bin"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("size: 123456789 (117.7 MiB)\nseek: supported (HTTP 206)\n"), std::string::npos) << r.out;

    r = tool({"validate", s.media_url()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("nginx listing (pre), ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nseek: supported (HTTP 206)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nsuggested settings: ID "), std::string::npos) << r.out;
    for (const char *inner : {"ASPNET", "RuntimeType", "velkaron", "transport", "date order"})
        EXPECT_EQ(r.out.find(inner), std::string::npos) << inner << " in " << r.out;
    r = tool({"validate", "--plain-io", s.media_url()});
    EXPECT_NE(r.out.find("seek: not checked (--plain-io sends no Range requests)"), std::string::npos) << r.out;

    std::string page;
    ASSERT_EQ(it::fetch(s.media_url() + "Music/", &page), 200);
    const std::string file = write_temp("klaspnet-page.html", page);
    r = tool({"parse", file, "--url", s.media_url() + "Music/"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Jazz & Blues/"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "nginx listing (pre), 2 entries, 1 link skipped\n");
    tt::run_opts in;
    in.input = page;
    EXPECT_EQ(tool({"parse", "-", "--url=" + s.media_url() + "Music/"}, in).out, r.out);
    std::remove(file.c_str());
}

} // namespace
