// The command-line tool's own pieces, without a server: what it shows of
// server text, sizes and times, the pull reader over the library's results,
// netrc files, the command line and the order of a table.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/wipe.h"
#include "tools/cli.h"
#include "tools/creds.h"
#include "tools/json_pull.h"
#include "tools/listing.h"
#include "tools/show.h"

namespace {

using namespace klaspnet::tool;

TEST(ToolShow, HumanSizesRoundBeforeChoosingTheirUnit)
{
    const struct {
        int64_t size;
        const char *text;
    } cases[] = {
        {-1, "-"},
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KiB"},
        {1048524, "1023.9 KiB"},
        {1048575, "1.0 MiB"}, // 1023.999 KiB
        {1048576, "1.0 MiB"},
        {123456789, "117.7 MiB"},
        {1073741823, "1.0 GiB"}, // 1023.999 MiB
        {733829120, "699.8 MiB"},
        {INT64_MAX, "8.0 EiB"},
    };
    for (const auto &c : cases) EXPECT_EQ(human_size(c.size), c.text) << c.size;
}

TEST(ToolShow, ControlAndBidiCharactersAreEscapedVisibly)
{
    const struct {
        const char *in;
        const char *shown; // in a message
        const char *name;  // in a table
    } cases[] = {
        {"plain.mp3", "plain.mp3", "plain.mp3"},
        {"caf\xC3\xA9 \xF0\x9F\x8E\xA7", "caf\xC3\xA9 \xF0\x9F\x8E\xA7", "caf\xC3\xA9 \xF0\x9F\x8E\xA7"},
        {"a\x1B[31mb", "a\\x1b[31mb", "\"a\\x1b[31mb\""},
        {"bell\x07", "bell\\x07", "\"bell\\x07\""},
        {"del\x7F", "del\\x7f", "\"del\\x7f\""},
        {"csi\xC2\x9B", "csi\\u009b", "\"csi\\u009b\""},
        {"nel\xC2\x85", "nel\\u0085", "\"nel\\u0085\""},
        {"rtl\xE2\x80\xAEgnp.exe", "rtl\\u202egnp.exe", "\"rtl\\u202egnp.exe\""},
        {"iso\xE2\x81\xA6x\xE2\x81\xA9", "iso\\u2066x\\u2069", "\"iso\\u2066x\\u2069\""},
        {"mark\xE2\x80\x8F", "mark\\u200f", "\"mark\\u200f\""},
        {"bad\xFF", "bad\\xff", "\"bad\\xff\""},
        {"nbsp\xC2\xA0ok", "nbsp\xC2\xA0ok", "nbsp\xC2\xA0ok"},
        // Spaces at the edge of a name or of a path's part are made visible.
        {" lead.txt", " lead.txt", "\" lead.txt\""},
        {"trail.txt ", "trail.txt ", "\"trail.txt \""},
        {"dir /file", "dir /file", "\"dir /file\""},
        {"in the middle", "in the middle", "in the middle"},
        // Quoted names escape quotes and backslashes; unquoted ones need not.
        {"\"q\" \\", "\"q\" \\", "\"\\\"q\\\" \\\\\""},
        {"back\\slash", "back\\slash", "back\\slash"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(shown(c.in), c.shown) << c.in;
        std::string name;
        append_name(name, c.in);
        EXPECT_EQ(name, c.name) << c.in;
    }
}

TEST(ToolShow, TimesSayUtcOnlyWhenTheyAreAndZonesConvertPageTimes)
{
    EXPECT_EQ(format_time(-1, false), "-");
    EXPECT_EQ(format_time(0, false), "1970-01-01 00:00");
    EXPECT_EQ(format_time(1582934459000, true), "2020-02-29 00:00 UTC");
    const int64_t kolkata_noon = 1582977600000; // 2020-02-29 12:00 read as UTC
    std::string why;
    ASSERT_TRUE(set_server_zone("Asia/Kolkata", why)) << why;
    EXPECT_EQ(server_time_to_utc(kolkata_noon), kolkata_noon - 19800000);
    ASSERT_TRUE(set_server_zone("America/New_York", why)) << why;
    EXPECT_EQ(server_time_to_utc(kolkata_noon), kolkata_noon + 5 * 3600000);
    EXPECT_EQ(server_time_to_utc(1593604800000), 1593604800000 + 4 * 3600000); // July: daylight saving
    for (const char *bad : {"Mars/Olympus_Mons", "", "../../etc/passwd", "/etc/localtime", "Europe"}) {
        EXPECT_FALSE(set_server_zone(bad, why)) << bad;
        EXPECT_NE(why.find("unknown time zone"), std::string::npos) << why;
    }
    unsetenv("TZ");
}

TEST(ToolJson, PullReaderDecodesStringsAndNumbersAsWritten)
{
    json_pull r(
        R"({"s":"a\"b\\c\/d\b\f\n\r\t\u00e9\ud83c\udfb5\ud800x","n":-9223372036854775808,"big":9223372036854775808,)"
        R"("skip":{"a":[1,{"b":"]}"}],"c":null},"t":true,"f":false})");
    ASSERT_TRUE(r.object());
    std::string_view k;
    std::string s;
    int64_t n = 0;
    bool b = false;
    ASSERT_TRUE(r.key(k));
    EXPECT_EQ(k, "s");
    ASSERT_TRUE(r.string(s));
    EXPECT_EQ(s, "a\"b\\c/d\b\f\n\r\t\xC3\xA9\xF0\x9F\x8E\xB5\xEF\xBF\xBDx");
    ASSERT_TRUE(r.key(k));
    ASSERT_TRUE(r.integer(n));
    EXPECT_EQ(n, INT64_MIN);
    ASSERT_TRUE(r.key(k));
    EXPECT_FALSE(r.integer(n)); // one past INT64_MAX
    EXPECT_TRUE(r.failed());

    json_pull q(R"({"skip":{"a":[1,{"b":"]}"}],"c":null},"t":true,"f":false})");
    ASSERT_TRUE(q.object() && q.key(k) && q.skip() && q.key(k));
    EXPECT_EQ(k, "t");
    ASSERT_TRUE(q.boolean(b));
    EXPECT_TRUE(b);
    ASSERT_TRUE(q.key(k) && q.boolean(b));
    EXPECT_FALSE(b);
    EXPECT_FALSE(q.key(k));
    EXPECT_FALSE(q.failed());
}

struct names : item_sink {
    std::vector<std::string> got;
    bool item(const item_view &it) override
    {
        got.push_back(it.name + (it.folder ? "/" : "") + "=" + std::to_string(it.size) + "@" + it.url);
        return true;
    }
};

TEST(ToolJson, ListingResultsGiveTheirFactsAndItems)
{
    const std::string doc =
        R"({"op":"list","code":0,"folder":"/A","dialect":"apache","variant":"table","date_order":"dmy",)"
        R"("date_hinted":true,"final_url":"http://h/m/A/","redirects":1,"transport":"velkaron_http","count":2,)"
        R"("rejected":1,"skipped":5,"index_of":"/m/A","items":[{"name":"x y","path":"/A/x y","folder":true,"size":-1,)"
        R"("mtime_ms":-1,"url":"http://h/m/A/x%20y/"},{"name":"z\u0001","path":"/A/z","folder":false,"size":7,)"
        R"("mtime_ms":0,"url":"u"}]})";
    listing_facts f;
    names sink;
    std::string_view items;
    ASSERT_TRUE(read_listing(doc, &f, sink, true, &items));
    EXPECT_EQ(f.folder, "/A");
    EXPECT_EQ(f.index_of, "/m/A");
    EXPECT_EQ(sink.got, (std::vector<std::string>{"x y/=-1@http://h/m/A/x%20y/", "z\x01=7@u"}));
    EXPECT_EQ(items.front(), '[');
    EXPECT_EQ(items.back(), ']');
    EXPECT_EQ(listing_summary(f), "Apache listing (table), 2 entries, 1 entry refused (bad or repeated names), 5 links "
                                  "skipped, dates read as day/month/year (--date-order), redirected to "
                                  "http://h/m/A/ (1 redirect)");
    f = listing_facts{};
    f.dialect = "aspnet";
    f.variant = "table";
    f.count = 1;
    f.date_order = "ambiguous";
    EXPECT_EQ(listing_summary(f),
              "ASP.NET Core listing (table), 1 entry, dates ambiguous (use --date-order dmy or mdy)");

    std::string message;
    int32_t code = 0;
    ASSERT_TRUE(read_error(R"({"error":"GET x: HTTP 404","code":-2})", message, code));
    EXPECT_EQ(message, "GET x: HTTP 404");
    EXPECT_EQ(code, -2);
    EXPECT_FALSE(read_listing(R"({"items":[{"name":)", nullptr, sink, false));
}

TEST(ToolOrder, SortReverseAndFoldersFirst)
{
    folder_entries f;
    const std::string a = "b.mp3", b = "a", c = "c.mp3", d = "d", none;
    f.item({a, false, 30, 3, none});
    f.item({b, true, -1, 9, none});
    f.item({c, false, 10, 1, none});
    f.item({d, true, -1, 2, none});
    options o;
    auto order = [&] {
        std::string s;
        for (uint32_t i : view_rules(o).order(f)) s += std::string(f.name(f.list[i])) + " ";
        return s;
    };
    EXPECT_EQ(order(), "b.mp3 a c.mp3 d ");
    o.sort = sort_key::size;
    EXPECT_EQ(order(), "a d c.mp3 b.mp3 ");
    o.reverse = true;
    EXPECT_EQ(order(), "b.mp3 c.mp3 d a ");
    o.dirs_first = true;
    EXPECT_EQ(order(), "d a b.mp3 c.mp3 ");
    o.sort = sort_key::time;
    o.reverse = false;
    EXPECT_EQ(order(), "d a c.mp3 b.mp3 ");
    o.sort = sort_key::name;
    o.dirs_first = false;
    EXPECT_EQ(order(), "a b.mp3 c.mp3 d ");
    o.include = {"*.mp3"};
    o.exclude = {"c*"};
    view_rules v(o);
    EXPECT_TRUE(v.shows("b.mp3"));
    EXPECT_FALSE(v.shows("c.mp3"));
    EXPECT_FALSE(v.shows("a"));
    EXPECT_FALSE(v.hidden("a"));
    EXPECT_TRUE(v.hidden("c.mp3"));
}

TEST(ToolCredentials, NetrcEntriesAreFoundAsCurlFindsThem)
{
    const char *text = "# a comment\n"
                       "machine other.example login o password op\n"
                       "machine MEDIA.example login alice password \"pass word \\\"q\\\"\"\n"
                       "machine media.example login bob password bobpw\n"
                       "macdef init\nmachine media.example login mallory password no\n\n"
                       "default login anonymous password guest\n";
    const struct {
        const char *host;
        const char *login;
        const char *want_login;
        const char *want_password;
    } cases[] = {
        {"media.example", nullptr, "alice", "pass word \"q\""}, // host names compare without case
        {"media.example", "bob", "bob", "bobpw"},
        {"media.example", "mallory", "anonymous", nullptr}, // a macro body is no entry
        {"unknown.example", nullptr, "anonymous", "guest"},
        {"other.example", nullptr, "o", "op"},
    };
    for (const auto &c : cases) {
        char *login = nullptr, *password = nullptr;
        const bool found = netrc_lookup(text, std::strlen(text), c.host, c.login, &login, &password);
        if (!c.want_password && c.login) {
            EXPECT_FALSE(found) << c.host;
        } else {
            ASSERT_TRUE(found) << c.host;
            EXPECT_STREQ(login, c.want_login);
            EXPECT_STREQ(password, c.want_password);
        }
        klaspnet_free_secret(login);
        klaspnet_free_secret(password);
    }
    char *login, *password;
    EXPECT_FALSE(netrc_lookup("machine a login b", 17, "c", nullptr, &login, &password));
    EXPECT_EQ(login, nullptr);
}

TEST(ToolCredentials, UrlHostsAndUserinfo)
{
    const struct {
        const char *url;
        const char *host;
        bool userinfo;
    } cases[] = {
        {"http://media.example/m/", "media.example", false},
        {"https://u:p@media.example:8443/m/", "media.example", true},
        {"http://[::1]:8080/", "::1", false},
        {"http://h/a@b/", "h", false},
        {"no scheme", "", false},
    };
    for (const auto &c : cases) {
        char host[64];
        url_host(c.url, host, sizeof host);
        EXPECT_STREQ(host, c.host) << c.url;
        EXPECT_EQ(url_has_userinfo(c.url), c.userinfo) << c.url;
    }
    char *u = url_with_credentials("http://old:pw@h/m/", "a b", "p:@/");
    EXPECT_STREQ(u, "http://a%20b:p%3A%40%2F@h/m/");
    klaspnet_free_secret(u);
}

TEST(ToolCommandLine, PathArgumentsTheLibraryWouldRefuseAreUsageErrors)
{
    const struct {
        const char *path;
        bool file;
        const char *problem;
    } cases[] = {
        {"Music/Jazz", false, ""},
        {"", false, ""},
        {"/", false, ""},
        {"a/./b", false, "the folder path must not contain . or .. segments"},
        {"..", true, "the file path must not contain . or .. segments"},
        {"a\x1b", false, "the folder path must not contain control characters"},
        {"a\x7f", true, "the file path must not contain control characters"},
        {"\xC0\xAF", false, "the folder path is not valid UTF-8"},
        {"//", true, "the file path names no file"},
        {"...", true, ""},
    };
    for (const auto &c : cases) EXPECT_EQ(path_problem(c.path, c.file), c.problem) << c.path;
}

TEST(ToolCommandLine, OptionsTakeValuesInEitherFormAndRefuseWhatDoesNotFit)
{
    // The options point into the arguments, which must outlive them.
    auto parse = [](std::vector<std::string> &args, options &o) {
        args.insert(args.begin(), "klaspnet");
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(a.data());
        return parse_args(static_cast<int>(argv.size()), argv.data(), o);
    };
    options o;
    std::vector<std::string> good = {"list",
                                     "-Rqk",
                                     "--jobs=8",
                                     "--max-depth",
                                     "3",
                                     "--sort=time",
                                     "--include",
                                     "*.mp3",
                                     "--include=*.ogg",
                                     "--connect-timeout=0.5",
                                     "--retry",
                                     "2",
                                     "http://h/",
                                     "--",
                                     "-dir"};
    ASSERT_EQ(parse(good, o), 0);
    EXPECT_TRUE(o.recursive && o.quiet && o.insecure);
    EXPECT_EQ(o.jobs, 8);
    EXPECT_EQ(o.max_depth, 3);
    EXPECT_EQ(o.sort, sort_key::time);
    EXPECT_EQ(o.include.size(), 2u);
    EXPECT_EQ(o.connect_timeout_ms, 500);
    EXPECT_EQ(o.retry, 2);
    EXPECT_STREQ(o.pos[1], "-dir");
    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"list", "--max-time=0", "http://h/"},
             {"list", "--max-time", "soon", "http://h/"},
             {"list", "--retry=-1", "http://h/"},
             {"list", "-x", "http://h/"},
             {"list", "--jobs"},
             {"list", "--json", "--exact", "http://h/"},
             {"stream-url", "--json", "--curl", "http://h/", "a"},
             {"list", "--netrc", "--netrc-file=x", "http://h/"},
             {"list", "http://h/", "a", "b"},
             {"parse", "page.html"},
         }) {
        options p;
        EXPECT_EQ(parse(bad, p), k_exit_usage) << bad[2];
    }
}

} // namespace
