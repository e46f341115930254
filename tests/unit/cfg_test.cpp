// Loading the settings document.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <yyjson.h>

#include "klaspnet/klaspnet.h"
#include "listing/kldlp.h"
#include "source/cfg.h"
#include "support/exact.h"

using namespace klaspnet::detail;

namespace {

const char k_no_url[] = "settings key URL is missing (the ASPNET source needs the directory URL)";
const char k_not_obj[] = "settings are not a JSON object";

struct loaded {
    klaspnet_cfg cfg;
    int rc;
    explicit loaded(const char *json)
    {
        const ktest::exact_cstr in(json);
        std::memset(&cfg, 0x5a, sizeof cfg); // load_cfg must clear everything
        rc = load_cfg(in.c_str(), &cfg);
    }
    ~loaded() { klaspnet_root_free(&cfg.root); }
};

TEST(LoadCfg, Rejections)
{
    struct row {
        const char *json;
        const char *msg;
    } rows[] = {
        {nullptr, "settings JSON is NULL"},
        {"", k_not_obj},
        {"   ", k_not_obj},
        {"[]", k_not_obj},
        {"\"text\"", k_not_obj},
        {"5", k_not_obj},
        {"true", k_not_obj},
        {"null", k_not_obj},
        {"{\"URL\":\"http://h/\",}", k_not_obj},  // trailing comma
        {"{\"URL\":\"http://h/\"} x", k_not_obj}, // text after the value
        {"{\"URL\":\"http://h/\"}{}", k_not_obj},
        {"{\"URL\":\"http://h/\" /*c*/}", k_not_obj}, // comments
        {"{\"URL\":\"http://h/\",\"n\":NaN}", k_not_obj},
        {"{\"URL\":\"http://h/\xff\"}", k_not_obj}, // invalid UTF-8
        {"{'URL':'http://h/'}", k_not_obj},
        {"{}", k_no_url},
        {" { } ", k_no_url},
        {"{\"url\":\"http://h/\"}", k_no_url},
        {"{\"URL \":\"http://h/\"}", k_no_url},
        {"{\"URL\":5}", k_no_url},
        {"{\"URL\":null}", k_no_url},
        {"{\"URL\":[\"http://h/\"]}", k_no_url},
        {"{\"URL\":5,\"URL\":\"http://h/\"}", k_no_url}, // the first occurrence counts
        {"{\"URL\":\"\"}", "settings key URL is empty"},
        {"{\"URL\":\" \\t \"}", "settings key URL is empty"},
        {"{\"URL\":\"ftp://h/\"}", "URL must start with http:// or https://"},
        {"{\"URL\":\"ftp://h/\",\"URL\":\"http://h/\"}", "URL must start with http:// or https://"},
        {"{\"URL\":\"http://h/\\u0001\"}", "URL contains a control character"},
        {"{\"URL\":\"http://h/\\u007f\"}", "URL contains a control character"},
        {"{\"URL\":\"http://h/a\\u0000/b\"}", "URL contains a control character"},
        {"{\"URL\":\"http:///\"}", "URL has no host"},
        {"{\"URL\":\"http://my host/\"}", "URL host is not a valid host name"},
        {"{\"URL\":\"http://h\\u00e4/\"}", "URL host is not a valid host name"},
        {"{\"URL\":\"http://h/?q\"}", "URL must not carry a query string"},
    };
    for (const row &r : rows) {
        loaded l(r.json);
        EXPECT_EQ(l.rc, KLASPNET_E_INVALID) << (r.json ? r.json : "(null)");
        EXPECT_STREQ(l.cfg.msg, r.msg) << (r.json ? r.json : "(null)");
        EXPECT_EQ(l.cfg.root.url, nullptr);
        EXPECT_EQ(l.cfg.root.user, nullptr);
        EXPECT_EQ(l.cfg.root.pass, nullptr);
    }
}

TEST(LoadCfg, LongUrls)
{
    std::string u = "http://h/" + std::string(8192 - 9, 'a');
    loaded ok(("{\"URL\":\"" + u + "  \"}").c_str());
    EXPECT_EQ(ok.rc, 0) << ok.cfg.msg;
    loaded bad(("{\"URL\":\"" + u + "a\"}").c_str());
    EXPECT_STREQ(bad.cfg.msg, "URL is longer than 8192 bytes");
}

TEST(LoadCfg, RootAndHints)
{
    struct row {
        const char *json;
        const char *url;
        int has_id, order;
    } rows[] = {
        {"{\"URL\":\"http://h/media\"}", "http://h/media/", 0, KLDLP_ORDER_NONE},
        {"{\"URL\":\"http://h/\",\"ID\":\"a1\",\"DateOrder\":\"mdy\"}", "http://h/", 1, KLDLP_ORDER_MDY},
        {"{\"URL\":\"http://h/\",\"ID\":\"\",\"DateOrder\":\"dmy\"}", "http://h/", 0, KLDLP_ORDER_DMY},
        {"{\"URL\":\"http://h/\",\"ID\":7}", "http://h/", 0, KLDLP_ORDER_NONE},
        {"{\"URL\":\"http://h/\",\"ID\":\"x\",\"ID\":\"\"}", "http://h/", 1, KLDLP_ORDER_NONE},
        {"{\"URL\":\"http://h/\",\"DateOrder\":\"DMY\"}", "http://h/", 0, KLDLP_ORDER_NONE},
        {"{\"URL\":\"http://h/\",\"DateOrder\":\"ymd\"}", "http://h/", 0, KLDLP_ORDER_NONE},
        {"{\"URL\":\"http://h/\",\"DateOrder\":\"\"}", "http://h/", 0, KLDLP_ORDER_NONE},
        {"{\"URL\":\"http://h/\",\"DateOrder\":2}", "http://h/", 0, KLDLP_ORDER_NONE},
        {"{\"URL\":\"http://h/\",\"DateOrder\":\"dmy \"}", "http://h/", 0, KLDLP_ORDER_NONE},
        {"{\"URL\":\"http://h/\",\"DateOrder\":\"dmy\\u0000\"}", "http://h/", 0, KLDLP_ORDER_NONE},
        {"{\"URL\":\"http://h/\",\"dateorder\":\"mdy\",\"id\":\"x\"}", "http://h/", 0, KLDLP_ORDER_NONE},
        {"{\"URL\":\"  http://h/a  \"}", "http://h/a/", 0, KLDLP_ORDER_NONE},
        {"{\"RuntimeType\":\"ASPNET\",\"URL\":\"http://h/\",\"x\":{\"URL\":1}}", "http://h/", 0, KLDLP_ORDER_NONE},
        {"{\"URL\":\"http://h/\",\"URL\":5}", "http://h/", 0, KLDLP_ORDER_NONE},
        {"\n{\"URL\" : \"http://h/\"}\n", "http://h/", 0, KLDLP_ORDER_NONE},
        {"{\"U\\u0052L\":\"http://h/\"}", "http://h/", 0, KLDLP_ORDER_NONE}, // escapes name the same key
    };
    for (const row &r : rows) {
        loaded l(r.json);
        ASSERT_EQ(l.rc, 0) << r.json << ": " << l.cfg.msg;
        EXPECT_STREQ(l.cfg.root.url, r.url) << r.json;
        EXPECT_EQ(l.cfg.root.user, nullptr) << r.json;
        EXPECT_EQ(l.cfg.has_id, r.has_id) << r.json;
        EXPECT_EQ(l.cfg.date_order, r.order) << r.json;
        EXPECT_STREQ(l.cfg.msg, "") << r.json;
    }
}

TEST(LoadCfg, CredentialsComeFromTheUrl)
{
    loaded l("{\"URL\":\"https://ann:p%40ss@H/m\"}");
    ASSERT_EQ(l.rc, 0);
    EXPECT_STREQ(l.cfg.root.url, "https://h/m/");
    EXPECT_STREQ(l.cfg.root.user, "ann");
    EXPECT_STREQ(l.cfg.root.pass, "p@ss");
}

TEST(LoadCfg, FailedLoadStillReadsHints)
{
    loaded l("{\"URL\":\"ftp://h/\",\"ID\":\"a\",\"DateOrder\":\"dmy\"}");
    EXPECT_EQ(l.rc, KLASPNET_E_INVALID);
    EXPECT_EQ(l.cfg.has_id, 1);
    EXPECT_EQ(l.cfg.date_order, KLDLP_ORDER_DMY);
    loaded m("{\"ID\":\"a\",\"DateOrder\":\"mdy\"}");
    EXPECT_STREQ(m.cfg.msg, k_no_url);
    EXPECT_EQ(m.cfg.has_id, 1);
    EXPECT_EQ(m.cfg.date_order, KLDLP_ORDER_MDY);
}

TEST(WipeAllocator, GrowsAndKeepsContent)
{
    // Documents written through it round-trip, including a realloc on growth.
    const yyjson_alc *alc = klaspnet_wipe_alc();
    yyjson_mut_doc *doc = yyjson_mut_doc_new(alc);
    ASSERT_NE(doc, nullptr);
    yyjson_mut_val *arr = yyjson_mut_arr(doc);
    yyjson_mut_doc_set_root(doc, arr);
    std::string big(5000, 'x');
    for (int i = 0; i < 50; i++) ASSERT_TRUE(yyjson_mut_arr_add_strcpy(doc, arr, big.c_str()));
    size_t len = 0;
    char *text = yyjson_mut_write_opts(doc, 0, alc, &len, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(len, 50 * (big.size() + 3) + 1);
    yyjson_doc *back = yyjson_read_opts(text, len, 0, alc, nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(yyjson_arr_size(yyjson_doc_get_root(back)), 50u);
    yyjson_doc_free(back);
    alc->free(alc->ctx, text);
    yyjson_mut_doc_free(doc);
    void *p = alc->realloc(alc->ctx, nullptr, 0, 10);
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "123456789", 10);
    p = alc->realloc(alc->ctx, p, 10, 100000);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(static_cast<char *>(p), "123456789");
    alc->free(alc->ctx, p);
    alc->free(alc->ctx, nullptr);
}

} // namespace
