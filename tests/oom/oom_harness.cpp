#include "oom_harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "interpose.h"
#include "klaspnet/klaspnet.h"
#include "support/texts.h"

namespace oomt {

namespace {

char g_dst[k_dst_len];
// Copies taken between the armed run and the settling, where nothing may
// allocate: fixed buffers rather than strings. A published result may be
// the JSON of a large page, some MiB (only the pages it fills are touched).
char g_err_copy[512];
char g_res_copy[8 << 20];
char g_out_copy[k_dst_len];

void copy_text(char *to, size_t size, const char *from)
{
    size_t n = std::strlen(from);
    if (n >= size) n = size - 1;
    std::memcpy(to, from, n);
    to[n] = '\0';
}

run one(const op_case &c, uint64_t nth, bool sticky)
{
    run r;
    r.nth = nth;
    r.sticky = sticky;
    c.settle();
    (void)klaspnet_result_json();
    (void)klaspnet_last_error();
    std::memset(g_dst, '#', 64);
    g_dst[64] = '\0';
    int64_t before = oom_live();

    oom_arm(nth, sticky);
    try {
        r.rc = c.op();
    } catch (...) {
        r.threw = true;
    }
    oom_disarm();
    r.hit = oom_hit() != 0;
    r.seen = oom_seen();

    copy_text(g_err_copy, sizeof g_err_copy, klaspnet_last_error());
    copy_text(g_res_copy, sizeof g_res_copy, klaspnet_result_json());
    copy_text(g_out_copy, sizeof g_out_copy, g_dst);
    if (c.inspect) {
        // What the inspection leaves behind, the settling clears.
        run view = r;
        view.err = g_err_copy;
        view.res = g_res_copy;
        view.out = g_out_copy;
        c.inspect(view);
    }
    c.settle();
    (void)klaspnet_result_json();
    (void)klaspnet_last_error();
    r.leaked = oom_live() - before;

    r.err = g_err_copy;
    r.res = g_res_copy;
    r.out = g_out_copy;
    return r;
}

// Glob match: '*' stands for any run of bytes.
bool matches(const std::string &pattern, const std::string &text)
{
    size_t p = 0, t = 0, star = std::string::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string label(const op_case &c, const run &r)
{
    char b[160];
    std::snprintf(b, sizeof b, "%s: allocation %llu refused%s", c.name.c_str(), static_cast<unsigned long long>(r.nth),
                  r.sticky ? " and every later one" : "");
    return b;
}

void check_run(const op_case &c, const run &r, const run &ref, summary &s)
{
    SCOPED_TRACE(label(c, r));
    EXPECT_FALSE(r.threw) << "an exception left the library";
    EXPECT_EQ(r.leaked, c.kept ? c.kept(r) : 0) << "blocks left allocated";
    if (c.publishes) {
        if (r.rc == KLASPNET_E_BUFFER) {
            // A success that did not fit: nothing in the buffer, the result
            // published all the same (or "{}" when its copy failed).
            EXPECT_TRUE(matches("output buffer too small: * bytes needed", r.err)) << r.err;
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(r.res == "{}" || ktest::json_ok(r.res)) << r.res;
        } else if (r.rc == 0) {
            EXPECT_EQ(r.err, "");
            EXPECT_TRUE(ktest::json_ok(r.out)) << r.out;
            EXPECT_TRUE(r.res == "{}" || ktest::json_ok(r.res)) << r.res;
            if (c.publishes_output) {
                EXPECT_TRUE(r.res == "{}" || r.res == r.out) << r.res << "\n" << r.out;
            }
            if (c.whole_output) {
                EXPECT_EQ(c.comparable(r.out), c.comparable(ref.out)) << label(c, r);
            }
            if (c.comparable(r.out) != c.comparable(ref.out)) {
                ++s.degraded;
                if (std::getenv("KLASPNET_OOM_VERBOSE"))
                    std::printf("[ oom ] degraded %s:\n   %s\n   %s\n", label(c, r).c_str(), r.out.c_str(),
                                ref.out.c_str());
            }
        } else {
            bool code_ok = false;
            for (int k : c.codes) code_ok |= k == r.rc;
            EXPECT_TRUE(code_ok) << "status " << r.rc << " message " << r.err;
            bool msg_ok = r.err.find("out of memory") != std::string::npos;
            for (const std::string &m : c.messages) msg_ok |= matches(m, r.err);
            EXPECT_TRUE(msg_ok) << "status " << r.rc << " message " << r.err;
            std::string ej = ktest::error_json(r.err, r.rc);
            EXPECT_TRUE(r.out.empty() || r.out == ej) << r.out;
            EXPECT_TRUE(r.res == "{}" || r.res == ej) << r.res;
        }
    }
    if (r.rc != 0) ++s.codes[r.rc];
    if (c.check) c.check(r);
}

} // namespace

char *dst() { return g_dst; }

run clean(const op_case &c)
{
    c.settle(); // the first run may create lasting state (fake records)
    run r = one(c, 0, false);
    EXPECT_FALSE(r.threw) << c.name;
    EXPECT_EQ(r.leaked, c.kept ? c.kept(r) : 0) << c.name;
    return r;
}

summary sweep(const op_case &c)
{
    summary s;
    const ::testing::TestResult *tr = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    const int parts_before = tr->total_part_count();
    auto failed = [&] { return tr->total_part_count() > parts_before; };
    run ref = clean(c);
    for (int sticky = 0; sticky < 2; ++sticky) {
        for (uint64_t n = 1;; ++n) {
            run r = one(c, n, sticky != 0);
            ++s.runs;
            if (!r.hit) {
                // The operation ended before reaching the refusal: it ran
                // clean, as the reference run did.
                EXPECT_EQ(r.rc, ref.rc) << c.name << " after " << n - 1 << " refusals";
                EXPECT_EQ(c.comparable(r.out), c.comparable(ref.out)) << c.name;
                if (!sticky) s.points = r.seen;
                break;
            }
            check_run(c, r, ref, s);
            if (failed() || n > 200000) break;
        }
        if (failed()) break;
    }
    std::string codes;
    for (auto &kv : s.codes) codes += " " + std::to_string(kv.first) + "x" + std::to_string(kv.second);
    std::printf("[ oom ] %-28s %5llu allocation points, %5llu runs, %4llu degraded successes, failures:%s\n",
                c.name.c_str(), static_cast<unsigned long long>(s.points), static_cast<unsigned long long>(s.runs),
                static_cast<unsigned long long>(s.degraded), codes.c_str());
    return s;
}

} // namespace oomt
