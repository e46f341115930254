// The list operation: failures with their exact messages, the another-folder
// check, exact output and published documents, item ids and URLs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net_fixture.h"
#include "source/page.h"

using namespace klaspnet::detail;

namespace {

using namespace netfix;

const char k_settings[] = "{\"URL\":\"http://h/m\"}";

class List : public op_test {
protected:
    int list(const char *folder, const char *settings = k_settings, const velkaron_io *io = fake_io(), int32_t len = -1)
    {
        o = out();
        return h_list(io, settings, folder, o.b, len < 0 ? o.len() : len);
    }
};

TEST_F(List, InputFailures)
{
    struct {
        const char *settings;
        const char *folder;
        bool transport;
        int code;
        const char *message;
    } rows[] = {
        {nullptr, "", true, -8, "settings JSON is NULL"},
        {"[]", "", true, -8, "settings are not a JSON object"},
        {"{\"URL\":\"ftp://h/\"}", "", false, -8, "URL must start with http:// or https://"},
        {k_settings, "", false, -8, "no velkaron_io transport"},
        {k_settings, "Music/../x", true, -2, "folder_id is not a valid path (., .. or control characters)"},
        {k_settings, "a\tb", true, -2, "folder_id is not a valid path (., .. or control characters)"},
        {k_settings, "a/\xC3", true, -2, "folder_id is not a valid path (., .. or control characters)"},
    };
    for (auto &r : rows) expect_fail(list(r.folder, r.settings, r.transport ? fake_io() : nullptr), r.code, r.message);
    velkaron_io no_get{};
    expect_fail(list("", k_settings, &no_get), -8, "no velkaron_io transport");
    // A folder whose URL exceeds 8192 bytes (root http://h/m/ is 11 bytes, the folder adds its "/").
    std::string long_folder(8192 - 11, 'a');
    expect_fail(list(long_folder.c_str()), -8, "folder URL longer than 8192 bytes");
    EXPECT_EQ(klaspnet_fake_calls_impl(nullptr), 0u);
}

TEST_F(List, PageFailuresPassThrough)
{
    set("http://h/m/x/", 404, nullptr, "");
    expect_fail(list("x"), -2, "GET http://h/m/x/: HTTP 404");
    ASSERT_EQ(klaspnet_fake_fail_impl("http://h/m/x/", "down"), 0);
    expect_fail(list("/x/"), -4, "GET http://h/m/x/: down");
}

TEST_F(List, RootExactDocuments)
{
    set("http://h/m/", 200, nullptr, nginx_page("/m/", {file("a.mp3", "1234"), dir("Sub/")}));
    for (const char *root : {static_cast<const char *>(nullptr), "", "/", "///"}) {
        EXPECT_EQ(list(root), 0);
        const std::string items =
            "[{\"name\":\"a.mp3\",\"path\":\"/a.mp3\",\"folder\":false,\"size\":1234,\"mtime_ms\":1639267140000,"
            "\"url\":\"http://h/m/a.mp3\"},{\"name\":\"Sub\",\"path\":\"/Sub\",\"folder\":true,\"size\":-1,"
            "\"mtime_ms\":1639267140000,\"url\":\"http://h/m/Sub/\"}]";
        EXPECT_EQ(o.str(), "{\"items\":" + items + "}");
        EXPECT_EQ(last_error(), "");
        EXPECT_EQ(published(), "{\"op\":\"list\",\"code\":0,\"folder\":\"\",\"dialect\":\"nginx\",\"variant\":"
                               "\"pre\",\"date_order\":\"ymd\",\"date_hinted\":false,\"final_url\":\"http://h/"
                               "m/\",\"redirects\":0,\"transport\":\"velkaron_http\",\"count\":2,\"rejected\":0,"
                               "\"skipped\":1,\"index_of\":\"/m/\",\"items\":" +
                                   items + "}");
    }
}

TEST_F(List, EmptyListing)
{
    set("http://h/m/", 200, nullptr, nginx_page("/m/", {}));
    EXPECT_EQ(list(""), 0);
    EXPECT_EQ(o.str(), "{\"items\":[]}");
}

TEST_F(List, NamesNeedingEncodingAndFolders)
{
    set("http://h/m/x/", 200, nullptr,
        nginx_page("/m/x/", {file("a%20b%26c.mp3"), file("%C3%A4%2B100%25"), dir("Sub%20Dir/")}));
    ASSERT_EQ(list("x"), 0) << o.str();
    EXPECT_EQ(o.str(), "{\"items\":["
                       "{\"name\":\"a b&c.mp3\",\"path\":\"/x/a b&c.mp3\",\"folder\":false,\"size\":1234,\"mtime_ms\":"
                       "1639267140000,\"url\":\"http://h/m/x/a%20b%26c.mp3\"},"
                       "{\"name\":\"\xC3\xA4+100%\",\"path\":\"/x/\xC3\xA4+100%\",\"folder\":false,\"size\":1234,"
                       "\"mtime_ms\":1639267140000,\"url\":\"http://h/m/x/%C3%A4%2B100%25\"},"
                       "{\"name\":\"Sub Dir\",\"path\":\"/x/Sub Dir\",\"folder\":true,\"size\":-1,\"mtime_ms\":"
                       "1639267140000,\"url\":\"http://h/m/x/Sub%20Dir/\"}]}");
}

TEST_F(List, FolderIdIsNormalised)
{
    set("http://h/m/Music/Jazz/", 200, nullptr, nginx_page("/m/Music/Jazz/", {file("t.flac")}));
    ASSERT_EQ(list("Music//Jazz/"), 0);
    EXPECT_EQ(klaspnet_fake_calls_impl("http://h/m/Music/Jazz/"), 1u);
    EXPECT_NE(published().find("\"folder\":\"/Music/Jazz\""), std::string::npos);
    EXPECT_NE(o.str().find("\"path\":\"/Music/Jazz/t.flac\""), std::string::npos);
}

TEST_F(List, AnotherFolderCheck)
{
    struct {
        const char *title; // "" : the page has no title
        bool accepted;
    } rows[] = {
        {"/m/Music/Jazz/", true},
        {"/Music/Jazz", true},
        {"/share/Music/Jazz/", true},
        {"/Music/Jazz///", true},
        {"", true},
        {"/Music/", false},
        {"/music/jazz/", false},
        {"/", false},
        {"/Music/Jaz/", false},
        {"/Music/JazzX/", false},
        {"Jazz", false},
    };
    for (auto &r : rows) {
        set("http://h/m/Music/Jazz/", 200, nullptr, nginx_page(r.title, {file("t.flac")}));
        int rc = list("Music/Jazz");
        if (r.accepted) {
            EXPECT_EQ(rc, 0) << r.title;
        } else {
            expect_fail(rc, -5,
                        std::string("GET http://h/m/Music/Jazz/: the server answered with the listing of another "
                                    "folder (Index of ") +
                            r.title + ")");
        }
    }
    // Never made for the root.
    set("http://h/m/", 200, nullptr, nginx_page("/elsewhere/", {}));
    EXPECT_EQ(list(""), 0);
}

TEST_F(List, AnotherFolderMessageCutsTheTitle)
{
    std::string title = "/" + std::string(300, 't') + "/";
    set("http://h/m/x/", 200, nullptr, nginx_page(title, {}));
    expect_fail(list("x"), -5,
                "GET http://h/m/x/: the server answered with the listing of another folder (Index of " +
                    title.substr(0, 200) + ")");
}

TEST_F(List, RedirectToAnotherBase)
{
    struct {
        const char *location;
        const char *url_prefix;
    } rows[] = {
        {"https://h/m/x/", "https://h/m/x/"},
        {"http://mirror/files/x/", "http://mirror/files/x/"},
        {"/m/x/index.html", "http://h/m/x/"},
        {"http://h2", "http://h2/"},
    };
    for (auto &r : rows) {
        klaspnet_fake_reset_impl();
        redirect("http://h/m/x/", 301, r.location);
        std::string final_url = r.location[0] == '/' ? std::string("http://h") + r.location : r.location;
        set(final_url, 200, nullptr, nginx_page("/x/", {file("a%20b"), dir("D/")}));
        ASSERT_EQ(list("x"), 0) << r.location << " " << o.str();
        std::string p = r.url_prefix;
        EXPECT_NE(o.str().find("\"path\":\"/x/a b\",\"folder\":false,\"size\":1234,\"mtime_ms\":1639267140000,"
                               "\"url\":\"" +
                               p + "a%20b\""),
                  std::string::npos)
            << r.location << " " << o.str();
        EXPECT_NE(o.str().find("\"path\":\"/x/D\",\"folder\":true,\"size\":-1,\"mtime_ms\":1639267140000,"
                               "\"url\":\"" +
                               p + "D/\""),
                  std::string::npos)
            << r.location;
        EXPECT_NE(published().find("\"redirects\":1,"), std::string::npos);
    }
}

TEST_F(List, PlainTransport)
{
    set("http://h/m/", 200, nullptr, nginx_page("/m/", {file("a")}));
    ASSERT_EQ(list("", k_settings, plain_io()), 0);
    EXPECT_NE(published().find("\"redirects\":-1,\"transport\":\"velkaron_io\""), std::string::npos);
}

TEST_F(List, BufferTooSmall)
{
    set("http://h/m/", 200, nullptr, nginx_page("/m/", {file("a.mp3")}));
    ASSERT_EQ(list(""), 0);
    const std::string full_out = o.str();
    const std::string full_pub = published();
    for (int32_t len : {0, 1, static_cast<int32_t>(full_out.size())}) {
        EXPECT_EQ(list("", k_settings, fake_io(), len), KLASPNET_E_BUFFER) << len;
        if (len > 0) {
            EXPECT_EQ(o.b[0], '\0');
        }
        EXPECT_EQ(o.b[len > 0 ? 1 : 0], '#');
        EXPECT_EQ(published(), full_pub);
        EXPECT_EQ(last_error(), "output buffer too small: " + std::to_string(full_out.size() + 1) + " bytes needed");
    }
    EXPECT_EQ(h_list(fake_io(), k_settings, "", nullptr, 0), KLASPNET_E_BUFFER);
    EXPECT_EQ(published(), full_pub);
    EXPECT_EQ(list("", k_settings, fake_io(), static_cast<int32_t>(full_out.size() + 1)), 0);
    EXPECT_EQ(o.str(), full_out);
}

TEST_F(List, CredentialsNeverShow)
{
    const char *settings = "{\"URL\":\"http://alice:s3cret@h/m/\"}";
    set("http://h/m/x/", 200, nullptr, nginx_page("/m/x/", {file("a")}));
    ASSERT_EQ(list("x", settings), 0);
    EXPECT_NE(klaspnet_fake_last_request_impl("http://h/m/x/"), nullptr);
    EXPECT_STREQ(klaspnet_fake_last_request_impl("http://h/m/x/"), "{\"calls\":1,\"range\":null,\"auth\":true}");
    for (const std::string &s : {o.str(), published()}) {
        EXPECT_EQ(s.find("alice"), std::string::npos) << s;
        EXPECT_EQ(s.find("s3cret"), std::string::npos) << s;
    }
    // Failures: status, another folder, transport error naming the password.
    set("http://h/m/y/", 403, nullptr, "");
    EXPECT_EQ(list("y", settings), -1);
    set("http://h/m/z/", 200, nullptr, nginx_page("/", {}));
    EXPECT_EQ(list("z", settings), -5);
    std::string t = last_error() + published();
    ASSERT_EQ(klaspnet_fake_fail_impl("http://h/m/w/", "login alice:s3cret refused"), 0);
    EXPECT_EQ(list("w", settings), -4);
    t += last_error() + published();
    EXPECT_EQ(t.find("alice"), std::string::npos) << t;
    EXPECT_EQ(t.find("s3cret"), std::string::npos) << t;
}

TEST(ItemsJson, NullNameGivesNoArray)
{
    klaspnet_page *p = static_cast<klaspnet_page *>(std::calloc(1, sizeof(klaspnet_page)));
    kldlp_entry e[2] = {{const_cast<char *>("a"), 0, 1, -1}, {nullptr, 0, 1, -1}};
    p->result.items = e;
    p->result.count = 2;
    std::strcpy(p->base_url, "http://h/");
    json_writer none;
    EXPECT_FALSE(write_items(none, p, none.str("")));
    p->result.count = 1;
    json_writer w;
    w.obj_begin();
    w.key("folder");
    const json_span folder = w.str("/f");
    w.key("items");
    ASSERT_TRUE(write_items(w, p, folder));
    w.obj_end();
    char *t = w.take(nullptr);
    EXPECT_STREQ(t, "{\"folder\":\"/f\",\"items\":[{\"name\":\"a\",\"path\":\"/f/"
                    "a\",\"folder\":false,\"size\":1,\"mtime_ms\":-1,\"url\":"
                    "\"http://h/a\"}]}");
    std::free(t);
    std::free(p);
}

} // namespace
