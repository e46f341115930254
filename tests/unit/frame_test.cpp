// put_out / fail / done and the published state, through the internal library.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "klaspnet/klaspnet.h"
#include "source/frame.h"
#include "source/ops.h"

using namespace klaspnet::detail;

namespace {

// Fill a buffer with a pattern so that a write of "" (one NUL) and a partial
// copy can be told apart.
struct poisoned {
    char b[256];
    poisoned() { std::memset(b, '#', sizeof b); }
};

TEST(PutOut, WholeTextOrNothing)
{
    const std::string text = "{\"a\":1}"; // 7 bytes, needs 8
    struct row {
        int32_t len;
        int rc;
        bool whole;
    } rows[] = {{8, 0, true}, {9, 0, true}, {7, KLASPNET_E_BUFFER, false}, {1, KLASPNET_E_BUFFER, false}};
    for (const row &r : rows) {
        poisoned p;
        EXPECT_EQ(put_out(p.b, r.len, text.c_str()), r.rc) << r.len;
        if (r.whole) {
            EXPECT_EQ(text, p.b);
        } else {
            EXPECT_EQ(p.b[0], '\0') << r.len;
            EXPECT_EQ(p.b[1], '#') << r.len;
        }
    }
    EXPECT_EQ(put_out(nullptr, 100, "x"), KLASPNET_E_BUFFER);
    poisoned p;
    EXPECT_EQ(put_out(p.b, 0, "x"), KLASPNET_E_BUFFER);
    EXPECT_EQ(p.b[0], '#'); // unusable buffer is never touched
    EXPECT_EQ(put_out(p.b, -1, nullptr), KLASPNET_E_BUFFER);
    EXPECT_EQ(put_out(p.b, 1, nullptr), 0);
    EXPECT_EQ(p.b[0], '\0');
}

TEST(Done, ExactFitAndOneShort)
{
    const std::string json = "{\"items\":[]}";
    poisoned p;
    EXPECT_EQ(done(p.b, static_cast<int32_t>(json.size() + 1), json.c_str(), nullptr), 0);
    EXPECT_EQ(json, p.b);
    EXPECT_STREQ(klaspnet_last_error_impl(), "");
    EXPECT_EQ(json, klaspnet_result_json_impl());

    poisoned q;
    EXPECT_EQ(done(q.b, static_cast<int32_t>(json.size()), json.c_str(), "{\"full\":true}"), KLASPNET_E_BUFFER);
    EXPECT_EQ(q.b[0], '\0');
    EXPECT_EQ(std::string(klaspnet_last_error_impl()),
              "output buffer too small: " + std::to_string(json.size() + 1) + " bytes needed");
    EXPECT_STREQ(klaspnet_result_json_impl(), "{\"full\":true}");
}

TEST(Done, NoBufferStillPublishes)
{
    EXPECT_EQ(done(nullptr, 0, "{\"x\":\"abc\"}", nullptr), KLASPNET_E_BUFFER);
    EXPECT_STREQ(klaspnet_last_error_impl(), "output buffer too small: 12 bytes needed");
    EXPECT_STREQ(klaspnet_result_json_impl(), "{\"x\":\"abc\"}");
    // A later success clears the error.
    char b[64];
    EXPECT_EQ(done(b, sizeof b, "{}", nullptr), 0);
    EXPECT_STREQ(klaspnet_last_error_impl(), "");
}

TEST(Fail, ErrorJsonAndPublication)
{
    poisoned p;
    EXPECT_EQ(fail(p.b, sizeof p.b, KLASPNET_E_INVALID, "settings JSON is NULL"), KLASPNET_E_INVALID);
    EXPECT_STREQ(p.b, "{\"error\":\"settings JSON is NULL\",\"code\":-8}");
    EXPECT_STREQ(klaspnet_last_error_impl(), "settings JSON is NULL");
    EXPECT_STREQ(klaspnet_result_json_impl(), "{\"error\":\"settings JSON is NULL\",\"code\":-8}");
}

TEST(Fail, EscapesTheMessage)
{
    char b[128];
    fail(b, sizeof b, KLASPNET_E_INVALID, "entry has no \"path\" string\n\\");
    EXPECT_STREQ(b, "{\"error\":\"entry has no \\\"path\\\" string\\n\\\\\",\"code\":-8}");
}

TEST(Fail, LongMessageWholeInJsonCutInLastError)
{
    std::string msg(600, 'm');
    msg[510] = 'X';
    msg[511] = 'Y';
    std::string big(1024, '\0');
    EXPECT_EQ(fail(big.data(), static_cast<int32_t>(big.size()), KLASPNET_E_FAILED, msg.c_str()), KLASPNET_E_FAILED);
    std::string want = "{\"error\":\"" + msg + "\",\"code\":-5}";
    EXPECT_EQ(want, big.c_str());
    std::string last = klaspnet_last_error_impl();
    EXPECT_EQ(last.size(), 511u);
    EXPECT_EQ(last.back(), 'X');
    EXPECT_EQ(want, klaspnet_result_json_impl());
}

TEST(Fail, ShortBufferKeepsCode)
{
    poisoned p;
    EXPECT_EQ(fail(p.b, 5, KLASPNET_E_NOT_FOUND, "nope"), KLASPNET_E_NOT_FOUND);
    EXPECT_EQ(p.b[0], '\0');
    EXPECT_EQ(fail(nullptr, 0, KLASPNET_E_NOT_FOUND, "nope"), KLASPNET_E_NOT_FOUND);
    EXPECT_STREQ(klaspnet_last_error_impl(), "nope");
}

// The published text with an answer that is a part of it: the caller's
// buffer gets head, part and tail whole or nothing, the text is published
// whole either way.
TEST(DoneJson, AnswerPartOfThePublishedText)
{
    const std::string full = "{\"op\":\"x\",\"items\":[1,2]}";
    const std::string answer = "{\"items\":[1,2]}";
    for (size_t room : {answer.size() + 1, answer.size()}) {
        json_writer w;
        w.obj_begin();
        w.key("op");
        w.str("x");
        w.key("items");
        const size_t from = w.size();
        w.arr_begin();
        w.num(1);
        w.num(2);
        w.arr_end();
        const size_t len = w.size() - from;
        w.obj_end();
        poisoned p;
        const int rc = done_json(p.b, static_cast<int32_t>(room), w, "oom", {from, len, "{\"items\":", "}"});
        if (room > answer.size()) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(answer, p.b);
            EXPECT_STREQ(klaspnet_last_error_impl(), "");
        } else {
            EXPECT_EQ(rc, KLASPNET_E_BUFFER);
            EXPECT_EQ(p.b[0], '\0');
            EXPECT_EQ(std::string(klaspnet_last_error_impl()),
                      "output buffer too small: " + std::to_string(answer.size() + 1) + " bytes needed");
        }
        EXPECT_EQ(full, klaspnet_result_json_impl());
    }
}

// klaspnet_result_json hands out the published text itself: it must stay
// valid and unchanged until the next call, however many publications come in
// between (under AddressSanitizer a released text would show here).
TEST(ResultJson, HandedOutTextOutlivesLaterPublications)
{
    klaspnet_publish("", "{\"a\":1}");
    const char *first = klaspnet_result_json_impl();
    klaspnet_publish("", "{\"b\":2}");
    klaspnet_publish_owned("", nullptr);
    klaspnet_publish("", "{\"c\":3}");
    EXPECT_STREQ(first, "{\"a\":1}");
    const char *now = klaspnet_result_json_impl();
    EXPECT_STREQ(now, "{\"c\":3}");
    EXPECT_STREQ(klaspnet_result_json_impl(), "{\"c\":3}") << "asked twice without a publication";
    klaspnet_publish_owned("", nullptr);
    EXPECT_STREQ(now, "{\"c\":3}");
    EXPECT_STREQ(klaspnet_result_json_impl(), "{}");
}

TEST(Publish, NullResultBecomesEmptyObject)
{
    klaspnet_publish("m", nullptr);
    EXPECT_STREQ(klaspnet_result_json_impl(), "{}");
    EXPECT_STREQ(klaspnet_last_error_impl(), "m");
    klaspnet_publish(nullptr, "{\"a\":1}");
    EXPECT_STREQ(klaspnet_last_error_impl(), "");
}

} // namespace
