// The library's road from page to published JSON on the largest page of each
// dialect: the parse operation (page in memory, listing JSON written, published
// and copied into the caller's buffer) and the list operation through the
// built-in fake transport (body collected, parsed, items with paths and URLs
// written, published). Reports MB/s of page per second.
//
// `bench_pipeline --write-pages DIR` writes the four pages instead, as
// DIR/<dialect>/index.html, and prints one line per page: name, bytes,
// entries. scripts/bench serves them through nginx.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "bench/pages.h"
#include "klaspnet/klaspnet.h"
#include "source/ops.h"

namespace {

using namespace benchpages;

constexpr char k_page_url[] = "http://127.0.0.1/Music/";
// Room for the largest answer: the caller's buffer receives the whole text.
constexpr int32_t k_dst_len = 64 << 20;

char *dst_buffer()
{
    static char *dst = static_cast<char *>(std::malloc(k_dst_len));
    return dst;
}

void report(benchmark::State &state, const std::string &page, int entries)
{
    state.counters["entries"] = entries;
    state.counters["page_MB"] = static_cast<double>(page.size()) / 1e6;
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(page.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void parse_op(benchmark::State &state, maker make)
{
    int entries = 0;
    const std::string &page = largest_cached(make, &entries);
    char *dst = dst_buffer();
    for (auto _ : state) {
        const int32_t rc = klaspnet_parse_page(page.c_str(), k_page_url, dst, k_dst_len);
        if (rc != KLASPNET_OK) {
            state.SkipWithError(klaspnet_last_error_impl());
            return;
        }
        benchmark::DoNotOptimize(dst[0]);
    }
    report(state, page, entries);
}

void list_op(benchmark::State &state, maker make)
{
    int entries = 0;
    const std::string &page = largest_cached(make, &entries);
    klaspnet_use_fake();
    klaspnet_fake_reset();
    klaspnet_fake_set(k_page_url, 200, "Content-Type: text/html", page.c_str());
    char *dst = dst_buffer();
    const char settings[] = "{\"URL\":\"http://127.0.0.1/Music/\"}";
    for (auto _ : state) {
        const int32_t rc = klaspnet_list(settings, "", dst, k_dst_len);
        if (rc != KLASPNET_OK) {
            state.SkipWithError(klaspnet_last_error_impl());
            return;
        }
        benchmark::DoNotOptimize(dst[0]);
    }
    klaspnet_fake_reset();
    report(state, page, entries);
}

int write_pages(const char *dir)
{
    for (const dialect &d : k_dialects) {
        int entries = 0;
        const std::string page = largest(d.make, &entries);
        const std::string folder = std::string(dir) + "/" + d.name;
        mkdir(folder.c_str(), 0755);
        const std::string path = folder + "/index.html";
        FILE *f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(page.data(), 1, page.size(), f) != page.size() || std::fclose(f) != 0) {
            std::fprintf(stderr, "bench_pipeline: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s %zu %d\n", d.name, page.size(), entries);
    }
    return 0;
}

} // namespace

BENCHMARK_CAPTURE(parse_op, nginx_pre, nginx_page)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(parse_op, apache_table, apache_table_page)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(parse_op, apache_pre, apache_pre_page)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(parse_op, aspnet_table, aspnet_page)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(list_op, nginx_pre, nginx_page)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(list_op, apache_table, apache_table_page)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(list_op, apache_pre, apache_pre_page)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(list_op, aspnet_table, aspnet_page)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write-pages") == 0) return write_pages(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
