// A parse context built by hand around a page URL, with the limits
// kldlp_parse uses by default, for tests that feed the entry table and the
// link steps directly; it releases everything it collected.
#pragma once

#include <string>

#include "listing/internal.h"

// The date text kept for entry i, or "(none)".
inline std::string date_at(const kldlp::detail::kldlp_ctx &c, uint64_t i)
{
    return c.dates[i].p ? std::string(c.dates[i].p, c.dates[i].n) : "(none)";
}

struct parse_ctx {
    using kldlp_limits = kldlp::detail::kldlp_limits;
    using kldlp_ctx = kldlp::detail::kldlp_ctx;
    kldlp_limits lim{16777216, 100000, 8192, 1024, 0};
    kldlp_result res{};
    kldlp_ctx c{};
    explicit parse_ctx(const char *page_url)
    {
        c.lim = &lim;
        c.page_url = page_url;
        c.res = &res;
    }
    ~parse_ctx()
    {
        kldlp::detail::ctx_release(&c);
        kldlp_free(&res);
    }
    parse_ctx(const parse_ctx &) = delete;
    parse_ctx &operator=(const parse_ctx &) = delete;
};
