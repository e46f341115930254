// The operations against real nginx, Apache httpd (in each configuration that
// changes its pages), lighttpd, Caddy and Python http.server listings of a
// generated tree, on both roads (plain velkaron_io, and with the velkaron_http
// extension bound): every folder listed and compared with the filesystem,
// validate with its Range probe, stat, stream URLs fetched back byte for byte,
// redirects and Basic authentication.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "harness.h"

namespace {

using it::road;

// "nginx_exact_plain": a test name for a (server, road) parameter.
std::string server_road_name(const ::testing::TestParamInfo<std::tuple<const char *, road>> &info)
{
    std::string n =
        std::string(std::get<0>(info.param)) + (std::get<1>(info.param) == road::plain ? "_plain" : "_extension");
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
}

const char *const k_server_names[] = {"nginx-exact",
                                      "nginx-approx",
                                      "apache-table",
                                      "apache-pre",
                                      "apache-list",
                                      "apache-table-nosort",
                                      "apache-pre-nosort",
                                      "apache-table-iconlinks",
                                      "apache-pre-iconlinks",
                                      "apache-table-bare",
                                      "apache-pre-bare",
                                      "apache-list-root",
                                      "apache-table-nodate",
                                      "apache-table-nosize",
                                      "apache-pre-nodate",
                                      "apache-pre-nosize",
                                      "apache-tz",
                                      "lighttpd",
                                      "caddy",
                                      "python"};

struct want {
    bool folder;
    int64_t size;
    int64_t mtime_ms;
};

std::string base_name(const std::string &path)
{
    size_t s = path.rfind('/');
    return s == std::string::npos ? path : path.substr(s + 1);
}

bool hidden_for(const it::server &s, const std::string &path)
{
    if (!s.hides_dotfiles) return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start && path[start] == '.') return true;
        start = end + 1;
    }
    return false;
}

// The size a page shows as an exact byte count; -1 where it shows an
// abbreviation (1.0K, 117M) or nothing.
int64_t shown_size(const it::server &s, int64_t size)
{
    switch (s.sizes) {
    case it::size_policy::exact: return size;
    case it::size_policy::nginx_approx: return size <= 9999 ? size : -1; // nginx abbreviates from 10000 bytes up
    case it::size_policy::apache_approx: return size < 973 ? size : -1;  // Apache's apr_strfsize: exact below 973
    case it::size_policy::none: return -1;
    }
    return -1;
}

std::map<std::string, want> expected(const it::server &s, const std::string &folder)
{
    std::map<std::string, want> out;
    for (const it::node *n : it::children(folder)) {
        if (hidden_for(s, n->path)) continue;
        // The page shows the time in the server's zone, to its precision,
        // without the zone: read as UTC it is the local time.
        const int64_t shown = (n->mtime + s.time_shift) / s.time_step * s.time_step;
        out[base_name(n->path)] = {n->folder, n->folder ? -1 : shown_size(s, n->size), s.dates ? shown * 1000 : -1};
    }
    return out;
}

std::string folder_url(const it::server &s, const std::string &folder)
{
    std::string url = s.media_url();
    size_t start = 0;
    while (start < folder.size()) {
        size_t end = folder.find('/', start);
        if (end == std::string::npos) end = folder.size();
        url += it::pct_encode(folder.substr(start, end - start)) + "/";
        start = end + 1;
    }
    return url;
}

std::string entry_for(const std::string &path)
{
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_strncpy(doc, root, "path", path.data(), path.size());
    char *t = yyjson_mut_write(doc, 0, nullptr);
    std::string s = t;
    free(t);
    yyjson_mut_doc_free(doc);
    return s;
}

class RealServer : public ::testing::TestWithParam<std::tuple<const char *, road>> {
protected:
    const it::server *srv = nullptr;
    road rd = road::plain;

    void SetUp() override
    {
        IT_REQUIRE_SERVERS();
        srv = &it::by_name(std::get<0>(GetParam()));
        rd = std::get<1>(GetParam());
        it::install(rd);
    }
};

// One folder as the library lists it, compared with the filesystem: every
// entry's name, folder flag, size where the page shows bytes, time to the
// minute where it shows one, id and URL.
void check_folder(const it::server &srv, road rd, const std::string &folder)
{
    SCOPED_TRACE(srv.name + " folder \"" + folder + "\"");
    it::result r = it::list(it::settings_for(srv.media_url()), folder);
    ASSERT_EQ(r.rc, KLASPNET_OK) << r.error;
    ASSERT_NE(r.doc, nullptr) << r.published;
    EXPECT_EQ(r.str("op"), "list");
    EXPECT_EQ(r.str("folder"), folder.empty() ? "" : "/" + folder);
    EXPECT_EQ(r.str("dialect"), srv.dialect);
    EXPECT_EQ(r.str("variant"), srv.variant);
    EXPECT_EQ(r.str("transport"), it::road_name(rd));
    EXPECT_EQ(r.num("redirects"), rd == road::plain ? -1 : 0);
    EXPECT_EQ(r.str("final_url"), folder_url(srv, folder));
    EXPECT_EQ(r.num("rejected"), 0);

    std::map<std::string, want> exp = expected(srv, folder);
    // Month names (nginx) and year-first dates (Apache) leave no day/month
    // question: such a page reads as ymd, a page without dates as none.
    EXPECT_EQ(r.str("date_order"), srv.dates && !exp.empty() ? "ymd" : "none");
    yyjson_val *items = yyjson_obj_get(r.root(), "items");
    ASSERT_TRUE(yyjson_is_arr(items));
    EXPECT_EQ(r.num("count"), static_cast<int64_t>(yyjson_arr_size(items)));
    std::map<std::string, bool> seen;
    size_t idx, max;
    yyjson_val *item;
    yyjson_arr_foreach(items, idx, max, item)
    {
        const char *name_c = yyjson_get_str(yyjson_obj_get(item, "name"));
        ASSERT_NE(name_c, nullptr);
        std::string name = name_c;
        SCOPED_TRACE("entry \"" + name + "\"");
        EXPECT_FALSE(seen[name]) << "listed twice";
        seen[name] = true;
        auto e = exp.find(name);
        if (e == exp.end()) {
            ADD_FAILURE() << "not in the filesystem";
            continue;
        }
        bool folder_flag = yyjson_get_bool(yyjson_obj_get(item, "folder"));
        EXPECT_EQ(folder_flag, e->second.folder);
        EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(item, "size")), e->second.size);
        EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(item, "mtime_ms")), e->second.mtime_ms);
        std::string path = (folder.empty() ? "" : "/" + folder) + "/" + name;
        EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(item, "path")), path.c_str());
        std::string url = folder_url(srv, folder) + it::pct_encode(name) + (e->second.folder ? "/" : "");
        EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(item, "url")), url.c_str());
    }
    for (const auto &e : exp) EXPECT_TRUE(seen[e.first]) << "missing from the listing: \"" << e.first << "\"";
    // The caller's buffer holds exactly the items of the published document.
    yyjson_doc *out = yyjson_read(r.out.data(), r.out.size(), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(yyjson_equals(yyjson_obj_get(yyjson_doc_get_root(out), "items"), items));
    yyjson_doc_free(out);
}

TEST_P(RealServer, ListsEveryFolderAsTheFilesystemHoldsIt)
{
    for (const std::string &folder : it::folders())
        if (!hidden_for(*srv, folder)) check_folder(*srv, rd, folder);
}

// These pages write unambiguous dates (month names, or year first): a hint
// for the other order must not change a single time.
TEST_P(RealServer, DateOrderHintChangesNothingOnUnambiguousPages)
{
    it::result plain = it::list(it::settings_for(srv->media_url()), "");
    it::result dmy = it::list(it::settings_for(srv->media_url(), "dmy"), "");
    it::result mdy = it::list(it::settings_for(srv->media_url(), "mdy"), "");
    ASSERT_EQ(plain.rc, 0) << plain.error;
    ASSERT_EQ(dmy.rc, 0) << dmy.error;
    ASSERT_EQ(mdy.rc, 0) << mdy.error;
    EXPECT_EQ(plain.out, dmy.out);
    EXPECT_EQ(plain.out, mdy.out);
}

TEST_P(RealServer, ValidateProbesTheFirstFileWithARealRangeRequest)
{
    it::result root = it::list(it::settings_for(srv->media_url()), "");
    ASSERT_EQ(root.rc, 0) << root.error;
    // The probe takes the first file in page order that is not listed as empty.
    std::string probe;
    size_t idx, max;
    yyjson_val *item;
    yyjson_arr_foreach(yyjson_obj_get(root.root(), "items"), idx, max, item)
    {
        if (!yyjson_get_bool(yyjson_obj_get(item, "folder")) && yyjson_get_sint(yyjson_obj_get(item, "size")) != 0) {
            probe = yyjson_get_str(yyjson_obj_get(item, "name"));
            break;
        }
    }
    ASSERT_FALSE(probe.empty());
    int64_t fs_size = -1;
    for (const it::node *n : it::children(""))
        if (n->path == probe) fs_size = n->size;

    it::result v = it::validate(it::settings_for(srv->media_url()));
    ASSERT_EQ(v.rc, KLASPNET_OK) << v.error;
    EXPECT_EQ(v.str("op"), "validate");
    EXPECT_EQ(v.num("code"), 0);
    EXPECT_EQ(v.str("dialect"), srv->dialect);
    EXPECT_EQ(yyjson_get_bool(yyjson_obj_get(v.root(), "url_rewritten")), false);
    yyjson_val *range = yyjson_obj_get(v.root(), "range");
    ASSERT_TRUE(yyjson_is_obj(range)) << v.published;
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(range, "file")), probe.c_str());
    if (rd == road::extension && srv->ranges) {
        EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(range, "verdict")), "verified") << v.published;
        EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(range, "http")), 206);
        EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(range, "size")), fs_size);
        EXPECT_EQ(yyjson_obj_get(range, "note"), nullptr);
    } else if (rd == road::extension) {
        // The whole file comes back: its length is known, seeking is not.
        EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(range, "verdict")), "ignored") << v.published;
        EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(range, "http")), 200);
        EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(range, "size")), fs_size);
    } else {
        EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(range, "verdict")), "unverified");
        EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(range, "http")), 0);
        EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(range, "size")), -1);
    }
    // The proposed settings: the runtime type and a new ID, nothing else here.
    yyjson_doc *out = yyjson_read(v.out.data(), v.out.size(), 0);
    ASSERT_NE(out, nullptr) << v.out;
    yyjson_val *o = yyjson_doc_get_root(out);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(o, "RuntimeType")), "ASPNET");
    EXPECT_EQ(yyjson_get_len(yyjson_obj_get(o, "ID")), 36u);
    EXPECT_EQ(yyjson_obj_size(o), 2u) << v.out;
    EXPECT_TRUE(yyjson_equals(o, yyjson_obj_get(v.root(), "settings")));
    yyjson_doc_free(out);
}

TEST_P(RealServer, StatGivesEveryFileSizeOrNeedsTheExtension)
{
    const std::string settings = it::settings_for(srv->media_url());
    for (const it::node &n : it::tree()) {
        if (n.folder) continue;
        SCOPED_TRACE(n.path);
        it::result r = it::stat(settings, "/" + n.path);
        if (rd == road::plain) {
            EXPECT_EQ(r.rc, KLASPNET_E_UNSUPPORTED);
            EXPECT_EQ(r.error, "stat needs a transport with the velkaron_http extension (Range)");
            return; // the same for every file
        }
        // Byte 0 of an empty file does not exist, and Caddy says so with 416
        // and "Content-Range: bytes */0"; what stat should make of that is
        // not settled here.
        if (n.size == 0 && !srv->empty_ranges) continue;
        ASSERT_EQ(r.rc, KLASPNET_OK) << r.error;
        EXPECT_EQ(r.str("op"), "stat");
        EXPECT_EQ(r.str("path"), "/" + n.path);
        if (n.size == 0 || !srv->ranges) {
            // Byte 0 of an empty file does not exist: nginx, Apache and
            // lighttpd answer the whole (empty) file with 200 and
            // Content-Length 0. Python ignores Range and sends every file.
            EXPECT_EQ(r.num("http"), 200);
            EXPECT_EQ(yyjson_get_bool(yyjson_obj_get(r.root(), "range")), false);
        } else {
            EXPECT_EQ(r.num("http"), 206);
            EXPECT_EQ(yyjson_get_bool(yyjson_obj_get(r.root(), "range")), true);
        }
        EXPECT_EQ(r.num("size"), n.size);
        EXPECT_EQ(r.num("redirects"), 0);
        EXPECT_EQ(r.out, r.published);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServer,
                         ::testing::Combine(::testing::ValuesIn(k_server_names),
                                            ::testing::Values(road::plain, road::extension)),
                         server_road_name);

// ---- stream URLs ------------------------------------------------------------

TEST(StreamUrl, FetchedBytesEqualTheFiles)
{
    IT_REQUIRE_SERVERS();
    for (const char *name : {"nginx-exact", "apache-table"}) {
        const it::server &s = it::by_name(name);
        const std::string settings = it::settings_for(s.media_url());
        for (const it::node &n : it::tree()) {
            if (n.folder) continue; // dot-files are served even where they are not listed
            SCOPED_TRACE(std::string(name) + ": " + n.path);
            it::result r = it::stream_url(settings, entry_for("/" + n.path));
            ASSERT_EQ(r.rc, KLASPNET_OK) << r.error;
            yyjson_doc *out = yyjson_read(r.out.data(), r.out.size(), 0);
            ASSERT_NE(out, nullptr);
            std::string url = yyjson_get_str(yyjson_obj_get(yyjson_doc_get_root(out), "url"));
            EXPECT_EQ(yyjson_obj_get(yyjson_doc_get_root(out), "headers"), nullptr);
            yyjson_doc_free(out);
            it::fetched f = it::fetch_compare(url, {}, it::fs_path(n.path));
            EXPECT_EQ(f.curl_rc, 0);
            EXPECT_EQ(f.status, 200) << url;
            EXPECT_EQ(f.length, n.size);
            EXPECT_TRUE(f.equal) << url;
        }
    }
}

// ---- redirects ----------------------------------------------------------------

class Redirect : public ::testing::TestWithParam<road> {
protected:
    const it::server *srv = nullptr;
    void SetUp() override
    {
        IT_REQUIRE_SERVERS();
        srv = &it::by_name("nginx-exact");
        it::install(GetParam());
    }
};

TEST_P(Redirect, PermanentMoveOfTheRootOnTheSameOrigin)
{
    const std::string moved = srv->base() + "/moved/";
    it::result l = it::list(it::settings_for(moved), "");
    ASSERT_EQ(l.rc, KLASPNET_OK) << l.error;
    yyjson_val *first = yyjson_arr_get_first(yyjson_obj_get(l.root(), "items"));
    ASSERT_NE(first, nullptr);
    std::string url = yyjson_get_str(yyjson_obj_get(first, "url"));
    std::string path = yyjson_get_str(yyjson_obj_get(first, "path"));
    EXPECT_EQ(path, "/" + std::string(yyjson_get_str(yyjson_obj_get(first, "name"))));

    it::result v = it::validate(it::settings_for(moved));
    ASSERT_EQ(v.rc, KLASPNET_OK) << v.error;
    yyjson_doc *out = yyjson_read(v.out.data(), v.out.size(), 0);
    ASSERT_NE(out, nullptr);
    const char *new_url = yyjson_get_str(yyjson_obj_get(yyjson_doc_get_root(out), "URL"));

    if (GetParam() == road::extension) {
        // The library follows the 301 and sees where the folder lives now.
        EXPECT_EQ(l.num("redirects"), 1);
        EXPECT_EQ(l.str("final_url"), srv->media_url());
        EXPECT_EQ(url.rfind(srv->media_url(), 0), 0u) << url;
        EXPECT_EQ(yyjson_get_bool(yyjson_obj_get(v.root(), "url_rewritten")), true);
        EXPECT_STREQ(new_url, srv->media_url().c_str());
    } else {
        // libcurl follows it unseen: the library keeps the URL it asked for.
        EXPECT_EQ(l.num("redirects"), -1);
        EXPECT_EQ(l.str("final_url"), moved);
        EXPECT_EQ(url.rfind(moved, 0), 0u) << url;
        EXPECT_EQ(yyjson_get_bool(yyjson_obj_get(v.root(), "url_rewritten")), false);
        EXPECT_EQ(new_url, nullptr);
    }
    yyjson_doc_free(out);
}

TEST_P(Redirect, ChainOfPermanentMovesAndATemporaryOne)
{
    it::result twice = it::validate(it::settings_for(srv->base() + "/moved-twice/")); // 308 then 301
    it::result found = it::validate(it::settings_for(srv->base() + "/found/"));       // 302
    ASSERT_EQ(twice.rc, KLASPNET_OK) << twice.error;
    ASSERT_EQ(found.rc, KLASPNET_OK) << found.error;
    bool ext = GetParam() == road::extension;
    EXPECT_EQ(twice.num("redirects"), ext ? 2 : -1);
    EXPECT_EQ(yyjson_get_bool(yyjson_obj_get(twice.root(), "url_rewritten")), ext);
    EXPECT_EQ(found.num("redirects"), ext ? 1 : -1);
    EXPECT_EQ(yyjson_get_bool(yyjson_obj_get(found.root(), "url_rewritten")), false);
}

TEST_P(Redirect, EndlessRedirectsFail)
{
    it::result r = it::list(it::settings_for(srv->base() + "/loop/"), "");
    if (GetParam() == road::extension) {
        EXPECT_EQ(r.rc, KLASPNET_E_FAILED);
        EXPECT_NE(r.error.find("more than 5 redirects"), std::string::npos) << r.error;
    } else {
        EXPECT_EQ(r.rc, KLASPNET_E_UNAVAILABLE) << r.error; // libcurl gives up: a transport failure
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, Redirect, ::testing::Values(road::plain, road::extension), [](const auto &info) {
    return std::string(info.param == road::plain ? "plain" : "extension");
});

// ---- Basic authentication -------------------------------------------------------

class BasicAuth : public ::testing::TestWithParam<std::tuple<const char *, road>> {
protected:
    const it::server *srv = nullptr;
    void SetUp() override
    {
        IT_REQUIRE_SERVERS();
        srv = &it::by_name(std::get<0>(GetParam()));
        it::install(std::get<1>(GetParam()));
    }
    std::string secured() const { return it::with_credentials(srv->private_url(), it::k_user, it::k_password); }
};

TEST_P(BasicAuth, ListingNeedsTheCredentials)
{
    it::result ok = it::list(it::settings_for(secured()), "");
    ASSERT_EQ(ok.rc, KLASPNET_OK) << ok.error;
    EXPECT_EQ(ok.num("count"), static_cast<int64_t>(expected(*srv, "").size()));
    it::result sub = it::list(it::settings_for(secured()), "Music/Jazz & Blues");
    ASSERT_EQ(sub.rc, KLASPNET_OK) << sub.error;
    EXPECT_EQ(sub.num("count"), 2);
    // Nothing published carries the credentials.
    for (const std::string *text : {&ok.published, &ok.out, &sub.published}) {
        EXPECT_EQ(text->find(it::k_user), std::string::npos);
        EXPECT_EQ(text->find("s3cr"), std::string::npos);
    }

    it::result none = it::list(it::settings_for(srv->private_url()), "");
    EXPECT_EQ(none.rc, KLASPNET_E_ACCESS);
    EXPECT_NE(none.error.find("HTTP 401"), std::string::npos) << none.error;
    it::result wrong = it::list(it::settings_for(it::with_credentials(srv->private_url(), it::k_user, "nope")), "");
    EXPECT_EQ(wrong.rc, KLASPNET_E_ACCESS);
    EXPECT_EQ(wrong.error.find(it::k_user), std::string::npos) << wrong.error;
}

TEST_P(BasicAuth, ValidateAndStatCarryTheCredentials)
{
    it::result v = it::validate(it::settings_for(secured()));
    ASSERT_EQ(v.rc, KLASPNET_OK) << v.error;
    yyjson_val *range = yyjson_obj_get(v.root(), "range");
    bool ext = std::get<1>(GetParam()) == road::extension;
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(range, "verdict")), ext ? "verified" : "unverified") << v.published;
    if (ext) {
        it::result s = it::stat(it::settings_for(secured()), "/big.bin");
        ASSERT_EQ(s.rc, KLASPNET_OK) << s.error;
        EXPECT_EQ(s.num("size"), 123456789);
        it::result refused = it::stat(it::settings_for(srv->private_url()), "/big.bin");
        EXPECT_EQ(refused.rc, KLASPNET_E_ACCESS);
    }
}

TEST_P(BasicAuth, StreamUrlHeaderOpensTheFile)
{
    it::result r = it::stream_url(it::settings_for(secured()), entry_for("/Music/Jazz & Blues/So What.mp3"));
    ASSERT_EQ(r.rc, KLASPNET_OK) << r.error;
    EXPECT_EQ(r.published.find("Basic"), std::string::npos);
    yyjson_doc *out = yyjson_read(r.out.data(), r.out.size(), 0);
    ASSERT_NE(out, nullptr);
    yyjson_val *root = yyjson_doc_get_root(out);
    std::string url = yyjson_get_str(yyjson_obj_get(root, "url"));
    const char *auth = yyjson_get_str(yyjson_obj_get(yyjson_obj_get(root, "headers"), "Authorization"));
    ASSERT_NE(auth, nullptr) << r.out;
    std::string header = std::string("Authorization: ") + auth;
    yyjson_doc_free(out);
    EXPECT_EQ(url, srv->private_url() + "Music/Jazz%20%26%20Blues/So%20What.mp3");
    std::string file = it::fs_path("Music/Jazz & Blues/So What.mp3");
    it::fetched with = it::fetch_compare(url, {header}, file);
    EXPECT_EQ(with.status, 200);
    EXPECT_TRUE(with.equal);
    it::fetched without = it::fetch_compare(url, {}, file);
    EXPECT_EQ(without.status, 401);
}

INSTANTIATE_TEST_SUITE_P(Servers, BasicAuth,
                         ::testing::Combine(::testing::Values("nginx-exact", "apache-table"),
                                            ::testing::Values(road::plain, road::extension)),
                         server_road_name);

// ---- the module's own default transport ---------------------------------------------

TEST(DefaultTransport, UseCurlMatchesTheBuild)
{
    IT_REQUIRE_SERVERS();
    ASSERT_EQ(klaspnet_set_io(nullptr), KLASPNET_OK);
#if defined(KLASPNET_EXPECT_BUILTIN_CURL)
    ASSERT_EQ(klaspnet_use_curl(), KLASPNET_OK);
    const it::server &s = it::by_name("nginx-exact");
    // The built-in extension is found without any binding.
    it::result l = it::list(it::settings_for(s.media_url()), "Music");
    ASSERT_EQ(l.rc, KLASPNET_OK) << l.error;
    EXPECT_EQ(l.str("transport"), "velkaron_http");
    EXPECT_EQ(l.num("redirects"), 0);
    it::result st = it::stat(it::settings_for(s.media_url()), "/big.bin");
    ASSERT_EQ(st.rc, KLASPNET_OK) << st.error;
    EXPECT_EQ(st.num("size"), 123456789);
#else
    EXPECT_EQ(klaspnet_use_curl(), KLASPNET_E_UNSUPPORTED);
#endif
    it::install(road::extension);
}

} // namespace
