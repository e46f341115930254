// Throughput of the listing parser's building blocks on inputs of the size
// real servers produce: a 10 MB page for the tokenizer, 100000 sizes, dates
// and links.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "listing/internal.h"

using namespace kldlp::detail;

namespace {

// An Apache FancyIndexing table page of about 10 MB.
const std::string &big_page()
{
    static const std::string page = [] {
        std::string p = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\n<html><head><title>Index of "
                        "/music</title><script>var a = 1 < 2;</script></head><body><h1>Index of /music</h1>"
                        "<table><tr><th><a href=\"?C=N;O=D\">Name</a></th><th>Last modified</th><th>Size</th></tr>\n";
        char row[512];
        for (int i = 0; p.size() < 10u * 1000 * 1000; ++i) {
            snprintf(row, sizeof row,
                     "<tr><td valign=\"top\"><img src=\"/icons/sound2.gif\" alt=\"[SND]\"></td><td><a "
                     "href=\"track%%20%06d.mp3\">track %06d.mp3</a></td><td align=\"right\">2024-01-%02d 12:%02d  "
                     "</td><td align=\"right\">%d.%dM</td></tr>\n<!-- row %d -->\n",
                     i, i, 1 + i % 28, i % 60, 1 + i % 9, i % 10, i);
            p += row;
        }
        p += "</table><address>Apache/2.4.62 Server at h Port 80</address></body></html>\n";
        return p;
    }();
    return page;
}

void BM_Tokenizer(benchmark::State &st)
{
    const std::string &page = big_page();
    size_t tokens = 0;
    for (auto _ : st) {
        html_scan s{page.data(), page.data() + page.size()};
        html_tok t;
        size_t n = 0;
        do {
            next_tok(&s, &t);
            ++n;
        } while (t.kind != TOK_EOF);
        tokens = n;
        benchmark::DoNotOptimize(tokens);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * page.size()));
    st.counters["tokens"] = static_cast<double>(tokens);
}
BENCHMARK(BM_Tokenizer)->Unit(benchmark::kMillisecond);

std::vector<std::string> date_inputs()
{
    const char *fmt[] = {"%02d-Jan-2024 12:%02d", "2024-03-%02d 10:%02d", "%02d/10/2019 2:09:%02d PM +00:00",
                         "2024-01-%02dT12:%02d:00Z", "%02d.03.2024 %02d:00"};
    std::vector<std::string> v;
    char b[64];
    for (int i = 0; i < 100000; ++i) {
        snprintf(b, sizeof b, fmt[i % 5], 1 + i % 28, i % 60);
        v.push_back(b);
    }
    return v;
}

void BM_ParseDate(benchmark::State &st)
{
    const std::vector<std::string> in = date_inputs();
    for (auto _ : st) {
        int64_t sum = 0;
        for (const std::string &s : in) sum += kldlp_parse_date(s.data(), s.size(), KLDLP_ORDER_DMY);
        benchmark::DoNotOptimize(sum);
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * in.size()));
}
BENCHMARK(BM_ParseDate)->Unit(benchmark::kMicrosecond);

void BM_ParseSize(benchmark::State &st)
{
    std::vector<std::string> in;
    char b[64];
    for (int i = 0; i < 100000; ++i) {
        const long long v = 1LL * i * 7919 * (i % 7 + 1);
        switch (i % 4) {
        case 0: snprintf(b, sizeof b, "%lld", v); break;
        case 1: snprintf(b, sizeof b, "%lld,%03d", v / 1000 + 1, i % 1000); break;
        case 2: snprintf(b, sizeof b, " %d\xC2\xA0%03d\xC2\xA0%03d ", 1 + i % 999, i % 1000, (i * 7) % 1000); break;
        default: snprintf(b, sizeof b, "%d.%dM", i % 100, i % 10); break;
        }
        in.push_back(b);
    }
    for (auto _ : st) {
        int64_t sum = 0;
        for (const std::string &s : in) sum += kldlp_parse_size(s.data(), s.size());
        benchmark::DoNotOptimize(sum);
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * in.size()));
}
BENCHMARK(BM_ParseSize)->Unit(benchmark::kMicrosecond);

// 100000 links of one page, as a table pass hands them over: each with its
// raw size and date text, plus the sort and parent links every page carries.
void BM_AddHref(benchmark::State &st)
{
    struct link {
        std::string href, size, date;
    };
    std::vector<link> in;
    char h[128], s[32], d[32];
    for (int i = 0; i < 100000; ++i) {
        if (i % 1000 == 0) {
            in.push_back({"?C=M;O=A", "", ""});
            in.push_back({"../", "", ""});
        }
        snprintf(h, sizeof h, (i % 10 == 0) ? "Folder%%20%06d/" : "track%%20%06d&amp;x.mp3", i);
        snprintf(s, sizeof s, "%d,%03d", 1 + i % 999, i % 1000);
        snprintf(d, sizeof d, "%02d-Jan-2024 12:%02d", 1 + i % 28, i % 60);
        in.push_back({h, s, d});
    }
    const kldlp_limits lim{16777216, 100000, 8192, 1024, 0};
    for (auto _ : st) {
        kldlp_result res{};
        kldlp_ctx c{};
        c.lim = &lim;
        c.page_url = "http://media.example.org/music/albums/";
        c.res = &res;
        for (const link &l : in)
            if (add_href(&c, l.href.data(), l.href.size(), l.size.data(), l.size.size(), l.date.data(), l.date.size()))
                st.SkipWithError("add_href failed");
        benchmark::DoNotOptimize(res.count);
        ctx_release(&c);
        kldlp_free(&res);
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * in.size()));
}
BENCHMARK(BM_AddHref)->Unit(benchmark::kMillisecond);

} // namespace
