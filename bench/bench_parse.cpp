// kldlp_parse on the largest page of each dialect under the 16 MiB page limit
// with at most 100000 entries, each page shaped as its server writes it. Reports MB/s (decimal megabytes of page per
// second) and the time per page.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/pages.h"
#include "listing/kldlp.h"

namespace {

using namespace benchpages;

void run(benchmark::State &state, maker make, const char *url)
{
    int entries = 0;
    const std::string &page = largest_cached(make, &entries);
    kldlp_result r;
    int rc = kldlp_parse(page.data(), page.size(), url, nullptr, &r);
    if (rc != KLDLP_OK || r.count != static_cast<uint64_t>(entries)) {
        state.SkipWithError("the generated page does not parse to its entries");
        kldlp_free(&r);
        return;
    }
    kldlp_free(&r);
    for (auto _ : state) {
        rc = kldlp_parse(page.data(), page.size(), url, nullptr, &r);
        benchmark::DoNotOptimize(rc);
        kldlp_free(&r);
    }
    state.counters["entries"] = entries;
    state.counters["page_MB"] = static_cast<double>(page.size()) / 1e6;
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(page.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_nginx_pre(benchmark::State &s) { run(s, nginx_page, k_url); }
void BM_apache_table(benchmark::State &s) { run(s, apache_table_page, k_url); }
void BM_apache_pre(benchmark::State &s) { run(s, apache_pre_page, k_url); }
void BM_aspnet_table(benchmark::State &s) { run(s, aspnet_page, k_url); }

} // namespace

BENCHMARK(BM_nginx_pre)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_apache_table)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_apache_pre)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_aspnet_table)->Unit(benchmark::kMillisecond)->MinTime(2.0);
