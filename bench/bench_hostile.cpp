// kldlp_parse on hostile pages of 1, 2, 4, 8 and 16 MiB: the tokenizer's
// stall patterns (stray "<", quotes that never close, comments that never
// close), many closed comments, rows of 10000 cells, and links climbing
// thousands of folders. The bytes_per_second column must stay flat as the
// page grows: a pattern whose rate falls with size has gone quadratic.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "listing/kldlp.h"
#include "tests/unit/hostile_pages.h"

namespace {

void run(benchmark::State &state, const std::function<std::string(size_t)> &make)
{
    const size_t size = static_cast<size_t>(state.range(0)) * hostile::k_mib;
    const std::string page = make(size);
    int rc = 0;
    uint64_t count = 0;
    for (auto _ : state) {
        kldlp_result r;
        rc = kldlp_parse(page.data(), page.size(), "http://h/m/", nullptr, &r);
        count = r.count;
        benchmark::DoNotOptimize(r.items);
        kldlp_free(&r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
    state.counters["status"] = rc;
    state.counters["entries"] = static_cast<double>(count);
}

void lt_only(benchmark::State &s) { run(s, hostile::lt_only); }
void lt_listing(benchmark::State &s) { run(s, hostile::lt_listing); }
void nested_quotes(benchmark::State &s) { run(s, hostile::nested_quotes); }
void open_comments(benchmark::State &s) { run(s, hostile::open_comments); }
void closed_comments(benchmark::State &s) { run(s, hostile::closed_comments); }
void wide_rows(benchmark::State &s)
{
    run(s, [](size_t n) { return hostile::wide_rows(10000, n); });
}
void dot_dot_links(benchmark::State &s)
{
    // Lines of some 16300 bytes (href and link text) around hrefs of 8101
    // bytes, each resolved and found to climb out of the folder.
    run(s, [](size_t n) { return hostile::dot_dot_chain(2700, n / 16400); });
}
void duplicates(benchmark::State &s)
{
    // About 90 bytes per line: 1 MiB holds some 11650 copies of one entry.
    run(s, [](size_t n) { return hostile::duplicate_entries(n / 90); });
}
void distinct(benchmark::State &s)
{
    // Up to the entry limit: 16 MiB would need more than 100000 entries.
    run(s, [](size_t n) { return hostile::distinct_entries(n / 90 > 100000 ? 100000 : n / 90); });
}

} // namespace

#define SIZES RangeMultiplier(2)->Range(1, 16)->Unit(benchmark::kMillisecond)
BENCHMARK(lt_only)->SIZES;
BENCHMARK(lt_listing)->SIZES;
BENCHMARK(nested_quotes)->SIZES;
BENCHMARK(open_comments)->SIZES;
BENCHMARK(closed_comments)->SIZES;
BENCHMARK(wide_rows)->SIZES;
BENCHMARK(dot_dot_links)->SIZES;
BENCHMARK(duplicates)->SIZES;
BENCHMARK(distinct)->SIZES;
