// Shared helpers for the network operations' unit tests: listing pages shaped
// as nginx writes them, the scripted fake transport (reset per test), a plain
// velkaron_io record that reaches the same script without the HTTP extension,
// a poisoned output buffer, and a fixture for the operations that write one.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "klaspnet/klaspnet.h"
#include "source/frame.h"
#include "source/ops.h"
#include "support/texts.h"
#include "transport/fake.h"

using namespace klaspnet::detail;

namespace netfix {

struct row {
    std::string href; // as the server writes it (percent-encoded)
    std::string date; // two words, e.g. "11-Dec-2021 23:59"
    std::string size; // "1234", or "-" for a folder
};

// An nginx autoindex page; title "" leaves the title out (no "Index of").
inline std::string nginx_page(const std::string &title, const std::vector<row> &rows)
{
    std::string p = "<html>\r\n<head>";
    if (!title.empty()) p += "<title>Index of " + title + "</title>";
    p += "</head>\r\n<body>\r\n<h1>Index of " + (title.empty() ? std::string("/") : title) +
         "</h1><hr><pre><a href=\"../\">../</a>\r\n";
    for (const row &r : rows) {
        p += "<a href=\"" + r.href + "\">" + r.href + "</a>";
        p += std::string(r.href.size() < 50 ? 51 - r.href.size() : 1, ' ');
        p += r.date;
        p += std::string(r.size.size() < 20 ? 20 - r.size.size() : 1, ' ');
        p += r.size + "\r\n";
    }
    p += "</pre><hr></body>\r\n</html>\r\n";
    return p;
}

inline row file(const std::string &href, const std::string &size = "1234",
                const std::string &date = "11-Dec-2021 23:59")
{
    return {href, date, size};
}

inline row dir(const std::string &href, const std::string &date = "11-Dec-2021 23:59") { return {href, date, "-"}; }

inline void set(const std::string &url, int status, const char *headers, const std::string &body)
{
    ASSERT_EQ(klaspnet_fake_set_impl(url.c_str(), status, headers, body.c_str()), 0) << url;
}

inline void redirect(const std::string &from, int status, const std::string &to)
{
    std::string h = "Location: " + to;
    set(from, status, h.c_str(), "");
}

inline const velkaron_io *fake_io() { return klaspnet_io_fake(); }

// The fake's own GET behind a different ctx: the same script, reached as a
// host transport without any HTTP extension (the velkaron_io v1 road).
inline const velkaron_io *plain_io()
{
    static int marker;
    static velkaron_io io{};
    io.ctx = &marker;
    io.get = klaspnet_io_fake()->get;
    io.post = klaspnet_io_fake()->post;
    io.free = klaspnet_io_fake()->free;
    return &io;
}

// Output buffer filled with a pattern, so that "whole text or empty" shows.
struct out {
    char b[16384];
    out() { std::memset(b, '#', sizeof b); }
    int32_t len() const { return static_cast<int32_t>(sizeof b); }
    std::string str() const { return std::string(b); }
};

inline std::string last_error() { return klaspnet_last_error_impl(); }
inline std::string published() { return klaspnet_result_json_impl(); }

using ktest::error_json;

// A version-4 UUID text: 8-4-4-4-12 lower-case hex digits, "4" as the
// version digit and one of "89ab" as the variant digit.
inline bool is_guid(const std::string &s)
{
    if (s.size() != 36) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return s[14] == '4' && std::string("89ab").find(s[19]) != std::string::npos;
}

// Every test starts with an empty script.
class net_test : public ::testing::Test {
protected:
    void SetUp() override { klaspnet_fake_reset_impl(); }
    void TearDown() override { klaspnet_fake_reset_impl(); }
};

// An operation writing into o: a failure writes its error JSON there, and
// publishes the same text beside the message as the last error.
class op_test : public net_test {
protected:
    out o;
    void expect_fail(int rc, int code, const std::string &message)
    {
        EXPECT_EQ(rc, code) << message;
        EXPECT_EQ(o.str(), error_json(message, code));
        EXPECT_EQ(last_error(), message);
        EXPECT_EQ(published(), error_json(message, code));
    }
};

} // namespace netfix
