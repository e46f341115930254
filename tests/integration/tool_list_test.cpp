// Listing with the tool beyond one page: -R over the awkward-name tree
// compared with the filesystem, exact sizes asked where the page rounds
// them, JSON lines, a folder the server refuses, sorting and filters, and
// the times of servers that print their local time.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "harness.h"
#include "tool_support.h"

namespace {

using tt::tool;

class ToolList : public ::testing::Test {
protected:
    void SetUp() override { IT_REQUIRE_SERVERS(); }
};

bool hidden_by(const it::server &s, const std::string &path)
{
    if (!s.hides_dotfiles) return false;
    for (size_t b = 0; b <= path.size();) {
        if (path[b] == '.') return true;
        const size_t slash = path.find('/', b);
        if (slash == std::string::npos) break;
        b = slash + 1;
    }
    return false;
}

TEST_F(ToolList, RecursiveListingWithExactSizesMatchesTheFilesystem)
{
    const struct {
        const char *server;
        bool exact;
    } cases[] = {{"nginx-exact", false}, {"nginx-approx", true}, {"apache-table", true}, {"apache-list", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.server);
        const it::server &s = it::by_name(c.server);
        std::vector<std::string> args = {"list", "-R", s.media_url()};
        if (c.exact) args.push_back("--exact");
        tt::ran r = tool(args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::map<std::string, tt::row> shown;
        for (const tt::row &row : tt::table_rows(r.out)) shown[row.name] = row;
        // The files whose page states no exact size, as the library reads them.
        std::set<std::string> unstated;
        it::install(it::road::extension);
        const std::string settings = it::settings_for(s.media_url());
        for (const std::string &f : it::folders()) {
            if (hidden_by(s, f)) continue;
            it::result lib = it::list(settings, f);
            ASSERT_EQ(lib.rc, 0) << lib.error;
            size_t i, max;
            yyjson_val *item;
            yyjson_arr_foreach(yyjson_obj_get(lib.root(), "items"), i, max, item)
            {
                if (!yyjson_get_bool(yyjson_obj_get(item, "folder")) &&
                    yyjson_get_sint(yyjson_obj_get(item, "size")) < 0)
                    unstated.insert((f.empty() ? "" : f + "/") + yyjson_get_str(yyjson_obj_get(item, "name")));
            }
        }
        EXPECT_EQ(unstated.empty(), !c.exact);
        size_t expected = 0;
        for (const it::node &n : it::tree()) {
            if (hidden_by(s, n.path)) continue;
            expected++;
            const std::string name = n.folder ? n.path + "/" : n.path;
            auto at = shown.find(name);
            ASSERT_NE(at, shown.end()) << name << "\n" << r.out;
            EXPECT_EQ(at->second.type, n.folder ? "dir" : "file") << name;
            if (!n.folder) {
                EXPECT_EQ(at->second.size, std::to_string(n.size)) << name;
                // Only what the page does not state is asked.
                EXPECT_EQ(at->second.asked, unstated.count(n.path) == 1) << name;
            }
        }
        EXPECT_EQ(shown.size(), expected);
        const std::string folders = std::to_string(it::folders().size() - (s.hides_dotfiles ? 1 : 0)) + " folders";
        EXPECT_NE(r.err.find(folders), std::string::npos) << r.err;
        if (c.exact) {
            EXPECT_NE(r.err.find(std::to_string(unstated.size()) + " sizes asked from the server (marked *)"),
                      std::string::npos)
                << r.err;
        }
    }
}

TEST_F(ToolList, DepthAndJobsChangeNotWhatIsPrinted)
{
    const std::string url = it::by_name("apache-table").media_url();
    tt::ran one = tool({"list", "-R", "--jobs", "1", url});
    tt::ran many = tool({"list", "-R", "--jobs=16", url});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, many.out);
    EXPECT_EQ(one.err, many.err);

    tt::ran shallow = tool({"list", "--max-depth", "2", url});
    ASSERT_EQ(shallow.status, 0) << shallow.err;
    for (const tt::row &row : tt::table_rows(shallow.out)) {
        const std::string path = row.type == "dir" ? row.name.substr(0, row.name.size() - 1) : row.name;
        EXPECT_LE(std::count(path.begin(), path.end(), '/'), 1) << row.name;
    }
    EXPECT_NE(shallow.out.find("Music/Rock/\n"), std::string::npos);
}

TEST_F(ToolList, JsonLinesHoldTheLibrarysAnswerForEachFolder)
{
    const it::server &s = it::by_name("nginx-exact");
    tt::ran r = tool({"list", "-R", "--json", s.media_url(), "Music"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::set<std::string> lines;
    for (size_t b = 0; b < r.out.size();) {
        const size_t e = r.out.find('\n', b);
        lines.insert(r.out.substr(b, e - b));
        b = e + 1;
    }
    it::install(it::road::extension);
    const std::string settings = it::settings_for(s.media_url());
    std::set<std::string> expected;
    for (const std::string &f : it::folders()) {
        if (f.rfind("Music", 0) != 0) continue;
        it::result lib = it::list(settings, f);
        ASSERT_EQ(lib.rc, 0) << lib.error;
        expected.insert("{\"folder\":\"/" + f + "\"," + lib.out.substr(1));
    }
    EXPECT_EQ(lines, expected);
}

TEST_F(ToolList, AFolderTheServerRefusesIsReportedAndTheRestListed)
{
    TT_REQUIRE_TOOL_SERVERS(s);
    const std::string url = "http://127.0.0.1:" + std::to_string(s->tree) + "/t/";
    tt::ran r = tool({"list", "-R", url});
    EXPECT_EQ(r.status, 11) << r.err;
    EXPECT_NE(r.err.find("klaspnet list: locked/: GET " + url + "locked/: HTTP 403"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 folder not listed"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("open/a.txt\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sizes/mebi-1.bin\n"), std::string::npos) << r.out;

    r = tool({"list", "-R", "--json", url});
    EXPECT_EQ(r.status, 11);
    EXPECT_NE(r.out.find("{\"folder\":\"/locked\",\"error\":"), std::string::npos) << r.out;
}

TEST_F(ToolList, SortAndFiltersChooseWhatIsShownAndInWhichOrder)
{
    const std::string url = it::by_name("nginx-exact").media_url();
    auto rows_of = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"list", "-q", url};
        args.insert(args.end(), extra.begin(), extra.end());
        tt::ran r = tool(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return tt::table_rows(r.out);
    };
    auto size_of = [](const tt::row &r) { return r.size == "-" ? -1 : std::stoll(r.size); };
    std::vector<tt::row> rows = rows_of({"--sort", "size"});
    for (size_t i = 1; i < rows.size(); i++) EXPECT_LE(size_of(rows[i - 1]), size_of(rows[i]));
    rows = rows_of({"--sort", "size", "-r"});
    for (size_t i = 1; i < rows.size(); i++) EXPECT_GE(size_of(rows[i - 1]), size_of(rows[i]));
    rows = rows_of({"--sort", "name", "--dirs-first"});
    bool files = false;
    for (size_t i = 0; i < rows.size(); i++) {
        files = files || rows[i].type == "file";
        EXPECT_FALSE(files && rows[i].type == "dir") << rows[i].name;
        if (i > 0 && rows[i].type == rows[i - 1].type) {
            EXPECT_LT(rows[i - 1].name, rows[i].name);
        }
    }

    size_t matching = 0;
    for (const it::node *n : it::children(""))
        if (n->path.ends_with(".mp3") || n->path.ends_with(".flac")) matching++;
    tt::ran r = tool({"list", "--include", "*.mp3", "--include", "*.flac", url});
    ASSERT_EQ(r.status, 0);
    rows = tt::table_rows(r.out);
    EXPECT_EQ(rows.size(), matching) << r.out;
    EXPECT_NE(r.err.find("(" + std::to_string(matching) + " shown)"), std::string::npos) << r.err;
    // Folders that do not match are still walked through; excluded ones are not.
    r = tool({"list", "-R", "--include", "*.flac", url});
    rows = tt::table_rows(r.out);
    ASSERT_EQ(rows.size(), 2u) << r.out;
    EXPECT_EQ(rows[0].name, "Music/Rock/Nested/Deeper/deepest file.flac"); // nginx lists folders first
    EXPECT_EQ(rows[1].name, "track #1.flac");
    r = tool({"list", "-R", "--include", "*.flac", "--exclude", "Nested", url});
    rows = tt::table_rows(r.out);
    ASSERT_EQ(rows.size(), 1u) << r.out;
    EXPECT_EQ(rows[0].name, "track #1.flac");
}

TEST_F(ToolList, ExactAsksOnlyTheSizesThePageRounds)
{
    const it::server &s = it::by_name("nginx-approx");
    tt::ran plain = tool({"list", "-q", s.media_url()});
    tt::ran exact = tool({"list", "-q", "--exact", s.media_url()});
    ASSERT_EQ(exact.status, 0) << exact.err;
    std::map<std::string, tt::row> before, after;
    for (const tt::row &r : tt::table_rows(plain.out)) before[r.name] = r;
    for (const tt::row &r : tt::table_rows(exact.out)) after[r.name] = r;
    ASSERT_EQ(before.size(), after.size());
    EXPECT_EQ(before["big.bin"].size, "-");
    EXPECT_EQ(after["big.bin"].size, "123456789");
    EXPECT_TRUE(after["big.bin"].asked);
    for (const auto &[name, row] : before)
        if (row.size != "-") {
            EXPECT_EQ(after[name].size, row.size) << name;
            EXPECT_FALSE(after[name].asked) << name;
        }
}

TEST_F(ToolList, ServerTimeZoneTurnsLocalTimesIntoUtc)
{
    TT_REQUIRE_TOOL_SERVERS(s);
    // c++ + more.txt was last changed at 2020-02-29 00:00:59 UTC.
    const struct {
        int port;
        const char *zone;
        const char *local;
    } cases[] = {{s->kolkata, "Asia/Kolkata", "2020-02-29 05:30"},
                 {s->new_york, "America/New_York", "2020-02-28 19:00"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.zone);
        const std::string url = "http://127.0.0.1:" + std::to_string(c.port) + "/media/";
        auto time_of = [&](std::vector<std::string> extra) {
            std::vector<std::string> args = {"list", "-q", url};
            args.insert(args.end(), extra.begin(), extra.end());
            for (const tt::row &r : tt::table_rows(tool(args).out))
                if (r.name == "c++ + more.txt") return r.modified;
            return std::string("<absent>");
        };
        EXPECT_EQ(time_of({}), c.local);
        EXPECT_EQ(time_of({"--server-tz", c.zone}), "2020-02-29 00:00 UTC");
        EXPECT_EQ(time_of({"--server-tz=" + std::string(c.zone), "--sort=time"}), "2020-02-29 00:00 UTC");
    }
}

} // namespace
