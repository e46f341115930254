// The tool's connection options against real servers: TLS with a
// certificate made for the run, servers that never answer or accept, one
// that answers 503 before it answers 200, the word on a terminal while a
// request takes long, and Ctrl-C.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "harness.h"
#include "tool_support.h"

namespace {

using tt::tool;

std::string listing_page()
{
    return tt::nginx_page("/", {"a.mp3", "b.flac"}); // served at /
}

TEST(ToolTls, ASelfSignedCertificateIsRefusedWithAHint)
{
    TT_REQUIRE_TOOL_SERVERS(s);
    const std::string url = "https://127.0.0.1:" + std::to_string(s->https) + "/media/";
    tt::ran r = tool({"list", url});
    EXPECT_EQ(r.status, 14) << r.err;
    EXPECT_NE(r.err.find("certificate"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--cacert"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(ToolTls, TrustComesFromOptionsOrTheEnvironmentAsCurlTakesIt)
{
    TT_REQUIRE_TOOL_SERVERS(s);
    const std::string url = "https://127.0.0.1:" + std::to_string(s->https) + "/media/";
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> env;
    } cases[] = {
        {{"-k"}, {}},
        {{"--insecure"}, {}},
        {{"--cacert", s->cert}, {}},
        {{"--cacert=" + s->cert}, {}},
        {{"--capath", s->cert_dir}, {}},
        {{}, {"SSL_CERT_FILE=" + s->cert}},
        {{}, {"CURL_CA_BUNDLE=" + s->cert}},
        {{}, {"SSL_CERT_DIR=" + s->cert_dir}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"list"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(url);
        tt::run_opts o;
        o.env = c.env;
        tt::ran r = tool(args, o);
        EXPECT_EQ(r.status, 0) << (c.args.empty() ? c.env[0] : c.args[0]) << ": " << r.err;
        EXPECT_NE(r.out.find("big.bin"), std::string::npos) << r.out;
    }
    // The Range probe goes over TLS as well; an explicit --cacert wins over
    // an environment that names a wrong file.
    tt::run_opts wrong;
    wrong.env = {"CURL_CA_BUNDLE=/nonexistent.pem"};
    tt::ran r = tool({"validate", "--cacert", s->cert, url}, wrong);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("seek: supported (HTTP 206)"), std::string::npos) << r.out;
    EXPECT_EQ(tool({"list", url}, wrong).status, 14);
    // stream-url --curl carries the same trust into its command.
    r = tool({"stream-url", "--curl", "-k", url, "big.bin"});
    EXPECT_NE(r.out.find("curl --fail --location --insecure 'https://"), std::string::npos) << r.out;
}

TEST(ToolTimeLimits, AServerThatNeverAnswersEndsAtMaxTimeWithoutWordsOffATerminal)
{
    tt::tiny_server silent([](const std::string &, int) { return tt::tiny_server::reply{200, "", "", true}; });
    tt::ran r = tool({"list", "--max-time", "1.5", silent.url()});
    EXPECT_EQ(r.status, 14) << r.err;
    EXPECT_GE(r.seconds, 1.4);
    EXPECT_LT(r.seconds, 10);
    EXPECT_NE(r.err.find("timed out"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("waiting"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
}

TEST(ToolTimeLimits, ConnectTimeoutEndsAConnectionTheServerNeverAccepts)
{
    tt::full_listener full;
    tt::ran r = tool({"list", "--connect-timeout=1", full.url()});
    EXPECT_EQ(r.status, 14) << r.err;
    EXPECT_LT(r.seconds, 10);
    EXPECT_NE(r.err.find("Timeout was reached (see --connect-timeout, --max-time and --retry)"), std::string::npos)
        << r.err;
}

TEST(ToolTimeLimits, OnATerminalTheWaitIsToldAndThenErased)
{
    tt::tiny_server silent([](const std::string &, int) { return tt::tiny_server::reply{200, "", "", true}; });
    tt::ran r = tt::tool_on_terminal({"list", "--max-time", "3.5", silent.url()});
    EXPECT_EQ(r.status, 14) << r.err;
    const std::string where = silent.url().substr(7, silent.url().size() - 8); // 127.0.0.1:PORT
    EXPECT_NE(r.err.find("klaspnet: waiting for an answer from " + where), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\r\033[K"), std::string::npos) << r.err;

    // A page that takes long to arrive: how much came, and how fast.
    tt::tiny_server slow([](const std::string &, int) {
        tt::tiny_server::reply rep;
        rep.body = tt::nginx_page("/", std::vector<std::string>(400, "x")) + std::string(200000, ' ');
        rep.trickle_seconds = 4;
        return rep;
    });
    r = tt::tool_on_terminal({"list", "--max-time", "30", slow.url()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("klaspnet: receiving " + slow.url().substr(7)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" KiB/s"), std::string::npos) << r.err;
}

TEST(ToolRetry, A503IsTriedAgainAfterTheWaitItAsksFor)
{
    auto handler = [](const std::string &, int nth) {
        if (nth == 1) return tt::tiny_server::reply{503, "Retry-After: 1\r\n", "busy", false};
        return tt::tiny_server::reply{200, "", listing_page(), false};
    };
    {
        tt::tiny_server once(handler);
        tt::ran r = tool({"list", once.url()});
        EXPECT_EQ(r.status, 14) << r.err;
        EXPECT_NE(r.err.find("HTTP 503"), std::string::npos) << r.err;
        EXPECT_EQ(once.requests(), 1);
    }
    for (const char *road : {"", "--plain-io"}) {
        tt::tiny_server twice(handler);
        std::vector<std::string> args = {"list", "--retry", "2", twice.url()};
        if (*road) args.push_back(road);
        tt::ran r = tool(args);
        EXPECT_EQ(r.status, 0) << road << r.err;
        EXPECT_NE(r.out.find("b.flac"), std::string::npos) << r.out;
        EXPECT_GE(r.seconds, 0.9);
        EXPECT_EQ(twice.requests(), 2);
        EXPECT_NE(r.err.find("HTTP 503; trying again in 1 s (attempt 2 of 3)"), std::string::npos) << r.err;
    }
    tt::tiny_server quiet(handler);
    tt::ran r = tool({"list", "-q", "--retry=1", quiet.url()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST(ToolRetry, RateLimitsAndRefusedConnectionsAreTriedAgainToo)
{
    tt::tiny_server limited([](const std::string &, int nth) {
        if (nth == 1) return tt::tiny_server::reply{429, "Retry-After: 0\r\n", "", false};
        return tt::tiny_server::reply{200, "", listing_page(), false};
    });
    EXPECT_EQ(tool({"list", "--retry", "1", limited.url()}).status, 0);
    tt::tiny_server always([](const std::string &, int) { return tt::tiny_server::reply{429, "", "", false}; });
    tt::ran r = tool({"list", "--retry", "1", always.url()});
    EXPECT_EQ(r.status, 13) << r.err;
    EXPECT_EQ(always.requests(), 2);

    std::string url;
    {
        tt::tiny_server gone([](const std::string &, int) { return tt::tiny_server::reply{}; });
        url = gone.url();
    } // nobody listens there now
    r = tool({"list", "--retry", "1", url});
    EXPECT_EQ(r.status, 14);
    EXPECT_GE(r.seconds, 0.9);
    EXPECT_NE(r.err.find("trying again in 1 s (attempt 2 of 2)"), std::string::npos) << r.err;
}

TEST(ToolRetry, CtrlCEndsTheToolAtOnce)
{
    tt::tiny_server silent([](const std::string &, int) { return tt::tiny_server::reply{200, "", "", true}; });
    tt::run_opts o;
    o.interrupt_after = 1;
    tt::ran r = tool({"list", "--retry", "5", "--max-time", "60", silent.url()}, o);
    EXPECT_EQ(r.signal, SIGINT);
    EXPECT_LT(r.seconds, 3);
}

} // namespace
