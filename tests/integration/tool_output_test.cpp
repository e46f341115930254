// What the tool prints is safe and honest: server text reaches the terminal
// without its control and bidirectional characters, a failed write to
// standard output is a failure, sizes round before their unit is chosen,
// and the counts speak plain English.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "harness.h"
#include "tool_support.h"

namespace {

using tt::tool;

// No byte a terminal would act on or that reorders text: C0 but newline,
// DEL, C1 (as UTF-8), and U+202A-U+202E / U+2066-U+2069.
bool terminal_safe(const std::string &s)
{
    for (size_t i = 0; i < s.size(); i++) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F) return false;
        if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0) return false;
        if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
            static_cast<unsigned char>(s[i + 2]) >= 0xAA && static_cast<unsigned char>(s[i + 2]) <= 0xAE)
            return false;
        if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x81 &&
            static_cast<unsigned char>(s[i + 2]) >= 0xA6 && static_cast<unsigned char>(s[i + 2]) <= 0xA9)
            return false;
    }
    return true;
}

TEST(ToolOutput, ServerTextIsShownWithItsControlsEscaped)
{
    TT_REQUIRE_TOOL_SERVERS(s);
    const std::string tree = "http://127.0.0.1:" + std::to_string(s->tree) + "/t/";

    // A folder named ESC[31mRED: nginx puts the name into its title as it is.
    tt::ran r = tool({"validate", tree + "%1B%5B31mRED/"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("index of: /t/\\x1b[31mRED/\n"), std::string::npos) << r.out;
    EXPECT_TRUE(terminal_safe(r.out)) << r.out;

    // Names with a right-to-left override, a C1 control, edge spaces.
    r = tool({"list", "-q", tree + "names/"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(terminal_safe(r.out)) << r.out;
    std::set<std::string> names;
    for (const tt::row &row : tt::table_rows(r.out)) names.insert(row.name);
    const std::set<std::string> expected = {"\"rtl\\u202egnp.exe\"", "\"c1 \\u009b31m.txt\"", "\" leading space.txt\"",
                                            "\"trailing space.txt \""};
    EXPECT_EQ(names, expected) << r.out;

    // The same names through -R (paths) and in messages on standard error.
    r = tool({"list", "-R", "--include", "rtl*", tree});
    EXPECT_NE(r.out.find("\"names/rtl\\u202egnp.exe\""), std::string::npos) << r.out;
    EXPECT_TRUE(terminal_safe(r.err)) << r.err;
    r = tool({"stat", tree + "names/", std::string(tt::k_rtl_name) + "/x"});
    EXPECT_TRUE(terminal_safe(r.err)) << r.err;
    // --json stays the library's text, bytes and all.
    r = tool({"list", "--json", tree + "names/"});
    EXPECT_NE(r.out.find(tt::k_rtl_name), std::string::npos);
}

TEST(ToolOutput, AnotherFoldersTitleInAMessageIsEscaped)
{
    // The server answers every folder with one page whose title holds
    // escape sequences written as character references.
    tt::tiny_server hostile([](const std::string &, int) {
        return tt::tiny_server::reply{200, "", tt::nginx_page("/m/&#27;[31mRED&#27;]0;title&#7;", {"a.mp3"}), false};
    });
    tt::ran r = tool({"list", hostile.url("/m/"), "sub"});
    EXPECT_EQ(r.status, 15) << r.err;
    EXPECT_NE(r.err.find("listing of another folder (Index of /m/\\x1b[31mRED\\x1b]0;title\\x07)"), std::string::npos)
        << r.err;
    EXPECT_TRUE(terminal_safe(r.err)) << r.err;

    r = tool({"validate", hostile.url("/m/")});
    EXPECT_NE(r.out.find("index of: /m/\\x1b[31mRED\\x1b]0;title\\x07\n"), std::string::npos) << r.out;
    EXPECT_TRUE(terminal_safe(r.out)) << r.out;
}

TEST(ToolOutput, AFailedWriteToStandardOutputFailsTheCommand)
{
    IT_REQUIRE_SERVERS();
    const std::string url = it::by_name("nginx-exact").media_url();
    const std::vector<std::string> cases[] = {
        {"list", url},     {"list", "--json", url},  {"list", "-R", url}, {"list", "-R", "--json", url},
        {"validate", url}, {"stat", url, "big.bin"},
    };
    tt::run_opts full;
    full.stdout_path = "/dev/full";
    for (const auto &args : cases) {
        tt::ran r = tool(args, full);
        EXPECT_EQ(r.status, 3) << args[0] << " " << args[1];
        EXPECT_NE(r.err.find("cannot write to standard output: No space left on device"), std::string::npos) << r.err;
    }
}

TEST(ToolOutput, SizesRoundBeforeTheirUnitIsChosen)
{
    TT_REQUIRE_TOOL_SERVERS(s);
    const std::string url = "http://127.0.0.1:" + std::to_string(s->tree) + "/t/";
    tt::ran r = tool({"stat", url, "sizes/mebi-1.bin"});
    EXPECT_NE(r.out.find("size: 1048575 (1.0 MiB)"), std::string::npos) << r.out;
    r = tool({"stat", url, "sizes/gibi-1.bin"});
    EXPECT_NE(r.out.find("size: 1073741823 (1.0 GiB)"), std::string::npos) << r.out;
    r = tool({"list", url + "sizes/"});
    for (const tt::row &row : tt::table_rows(r.out))
        EXPECT_EQ(row.human, row.name == "mebi-1.bin" ? "1.0 MiB" : "1.0 GiB") << row.name;
}

TEST(ToolOutput, CountsAreSingularOrPlural)
{
    TT_REQUIRE_TOOL_SERVERS(s);
    const std::string url = "http://127.0.0.1:" + std::to_string(s->tree) + "/t/";
    EXPECT_EQ(tool({"list", url + "open/"}).err, "nginx listing (pre), 1 entry, 1 link skipped\n");
    EXPECT_EQ(tool({"list", "-R", url + "open/"}).err, "nginx listing (pre), 1 folder, 1 entry\n");
    EXPECT_EQ(tool({"list", url + "sizes/"}).err, "nginx listing (pre), 2 entries, 1 link skipped\n");
}

} // namespace
