// The JSON writer against yyjson's own writer (flags 0): every string, number
// and structure must come out byte for byte as yyjson writes it, and a text
// yyjson refuses as not UTF-8 must come out as yyjson writes its repaired
// form.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <yyjson.h>

#include "common/text.h"
#include "source/json_writer.h"

using namespace klaspnet::detail;

namespace {

// yyjson's text of one string value; empty when it refuses the bytes.
std::string yy_string(const std::string &s)
{
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_doc_set_root(doc, yyjson_mut_strn(doc, s.data(), s.size()));
    char *t = yyjson_mut_write_opts(doc, 0, nullptr, nullptr, nullptr);
    std::string out = t ? t : "";
    std::free(t);
    yyjson_mut_doc_free(doc);
    return out;
}

std::string taken(json_writer &w)
{
    size_t n = 0;
    char *t = w.take(&n);
    EXPECT_NE(t, nullptr);
    std::string out = t ? std::string(t, n) : "";
    if (t) {
        EXPECT_EQ(std::strlen(t), n) << "the text is NUL-terminated at its length";
    }
    std::free(t);
    return out;
}

std::string ours(const std::string &s)
{
    json_writer w;
    w.str(s.data(), s.size());
    return taken(w);
}

// What yyjson writes for s, or for its repaired form when s is not UTF-8.
std::string expected(const std::string &s)
{
    std::string want = yy_string(s);
    if (!want.empty()) return want;
    char *fixed = klaspnet::text::utf8_repaired(s.data(), s.size());
    EXPECT_NE(fixed, nullptr) << "yyjson refused a well-formed text";
    // Each byte that starts no sequence became three; NUL bytes stay inside.
    size_t len = s.size();
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    for (size_t i = 0; i < s.size();) {
        const size_t l = klaspnet::text::utf8_seq_len(p + i, s.size() - i);
        len += l ? 0 : 2;
        i += l ? l : 1;
    }
    want = yy_string(fixed ? std::string(fixed, len) : "");
    std::free(fixed);
    return want;
}

std::string hex(const std::string &s)
{
    std::string h;
    char b[4];
    for (unsigned char c : s) {
        std::snprintf(b, sizeof b, "%02X ", c);
        h += b;
    }
    return h;
}

TEST(JsonWriter, EveryByteAndEveryPairAsYyjson)
{
    for (int a = 0; a < 256; ++a) {
        const std::string one(1, static_cast<char>(a));
        ASSERT_EQ(ours(one), expected(one)) << hex(one);
        for (int b = 0; b < 256; ++b) {
            const std::string two = one + static_cast<char>(b);
            ASSERT_EQ(ours(two), expected(two)) << hex(two);
        }
    }
}

// Strings of pieces that matter to an escaper, at every offset against the
// eight-byte words the writer copies whole: controls, quotes, backslash,
// "/", DEL, U+2028, two- to four-byte characters, and malformed bytes
// (stray continuations, overlong forms, surrogates, code points above
// U+10FFFF, sequences cut short).
TEST(JsonWriter, MixedStringsAsYyjson)
{
    const std::vector<std::string> pieces = {"a",
                                             "Track 0001",
                                             "\"",
                                             "\\",
                                             "/",
                                             "\x7F",
                                             "\x01",
                                             "\x1F",
                                             "\n",
                                             "\r\t",
                                             "\b\f",
                                             std::string(1, '\0'),
                                             "\xE2\x80\xA8",
                                             "\xE2\x80\xA9",
                                             "\xC3\xA9",
                                             "\xF0\x9F\x8E\xA7",
                                             "\xEF\xBF\xBD",
                                             "\xEF\xBB\xBF",
                                             "\x80",
                                             "\xBF",
                                             "\xC0\xAF",
                                             "\xC1\x81",
                                             "\xE0\x80\xAF",
                                             "\xED\xA0\x80",
                                             "\xED\xBF\xBF",
                                             "\xF4\x90\x80\x80",
                                             "\xF8",
                                             "\xFF",
                                             "\xE2\x80",
                                             "\xF0\x9F\x8E",
                                             "\xC3",
                                             "%20",
                                             "<a href=\"x\">",
                                             "0123456789abcdef"};
    std::mt19937 rng(20240601);
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        const int n = static_cast<int>(rng() % 12);
        for (int i = 0; i < n; ++i) s += pieces[rng() % pieces.size()];
        ASSERT_EQ(ours(s), expected(s)) << hex(s);
    }
    // A long plain run with one special byte at each place.
    for (size_t at = 0; at < 40; ++at) {
        for (const char *special : {"\"", "\x02", "\xC3\xA9", "\xFE"}) {
            std::string s(40, 'x');
            s.replace(at, 1, special);
            ASSERT_EQ(ours(s), expected(s)) << hex(s);
        }
    }
}

TEST(JsonWriter, NumbersAsYyjson)
{
    const int64_t values[] = {0,
                              1,
                              -1,
                              9,
                              10,
                              -10,
                              99,
                              100,
                              1704110400000,
                              -1704110400000,
                              INT64_MAX,
                              INT64_MIN,
                              INT32_MAX,
                              INT32_MIN,
                              999999999999999999,
                              1000000000000000000,
                              -999999999999999999};
    for (int64_t v : values) {
        yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
        yyjson_mut_doc_set_root(doc, yyjson_mut_sint(doc, v));
        char *t = yyjson_mut_write_opts(doc, 0, nullptr, nullptr, nullptr);
        json_writer w;
        w.num(v);
        EXPECT_EQ(taken(w), t) << v;
        std::free(t);
        yyjson_mut_doc_free(doc);
    }
}

TEST(JsonWriter, StructureAsYyjson)
{
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_int(doc, root, "first", -3);
    yyjson_mut_obj_add_str(doc, root, "kind", "tree");
    yyjson_mut_val *empty = yyjson_mut_arr(doc);
    yyjson_mut_obj_add_val(doc, root, "none", empty);
    yyjson_mut_val *arr = yyjson_mut_arr(doc);
    for (int i = 0; i < 3; ++i) {
        yyjson_mut_val *o = yyjson_mut_obj(doc);
        yyjson_mut_obj_add_str(doc, o, "name", "a \"b\"");
        yyjson_mut_obj_add_bool(doc, o, "folder", i == 1);
        yyjson_mut_obj_add_val(doc, o, "inner", yyjson_mut_obj(doc));
        yyjson_mut_obj_add_int(doc, o, "size", -i);
        yyjson_mut_arr_append(arr, o);
    }
    yyjson_mut_obj_add_val(doc, root, "items", arr);
    char *t = yyjson_mut_write_opts(doc, 0, nullptr, nullptr, nullptr);
    yyjson_mut_doc_free(doc);

    json_writer w;
    w.obj_begin();
    w.key("first");
    w.num(-3);
    w.key("kind");
    w.str("tree");
    w.key("none");
    w.arr_begin();
    w.arr_end();
    w.key("items");
    w.arr_begin();
    for (int i = 0; i < 3; ++i) {
        w.obj_begin();
        w.key("name");
        w.str("a \"b\"");
        w.key("folder");
        w.boolean(i == 1);
        w.key("inner");
        w.obj_begin();
        w.obj_end();
        w.key("size");
        w.num(-i);
        w.obj_end();
    }
    w.arr_end();
    w.obj_end();
    EXPECT_EQ(taken(w), t);
    std::free(t);
}

// A string written in parts reads as the whole string written at once; a
// span copies what was written, also after the text has grown and moved.
TEST(JsonWriter, PartsAndSpans)
{
    const std::string name = "a b&\"c\"\xC3\xA9/\x01.mp3";
    json_writer w;
    w.arr_begin();
    const json_span at = w.str(name.data(), name.size());
    for (int i = 0; i < 200; ++i) {
        w.str_open();
        w.part_escaped("/x/", 3);
        w.part_escaped(at);
        w.part("\n", 1);
        w.part_pct(name.data(), name.size());
        w.str_close();
    }
    w.arr_end();
    const std::string text = taken(w);
    std::string pct(klaspnet::text::pct_encoded_size(name.data(), name.size(), klaspnet::text::k_keep_unreserved), '?');
    klaspnet::text::pct_encode_to(pct.data(), name.data(), name.size(), klaspnet::text::k_keep_unreserved);
    std::string want = "[" + expected(name);
    for (int i = 0; i < 200; ++i) want += "," + expected("/x/" + name + "\n" + pct);
    EXPECT_EQ(text, want + "]");
}

TEST(JsonWriter, TakeEmptiesTheWriter)
{
    json_writer w;
    w.obj_begin();
    w.obj_end();
    EXPECT_EQ(taken(w), "{}");
    EXPECT_EQ(w.size(), 0u);
    w.arr_begin();
    w.num(1);
    w.arr_end();
    EXPECT_EQ(taken(w), "[1]") << "no comma carried over from the taken text";
}

} // namespace
