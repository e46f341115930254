// kldlp_parse on the largest page of each dialect under the 16 MiB page limit
// with at most 100000 entries, each page shaped as its server writes it. Reports MB/s (decimal megabytes of page per
// second) and the time per page.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/pages.h"
#include "listing/kldlp.h"

namespace {

using namespace benchpages;

void run_page(benchmark::State &state, const std::string &page, int entries, const char *url)
{
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

void run(benchmark::State &state, maker make, const char *url)
{
    int entries = 0;
    const std::string &page = largest_cached(make, &entries);
    run_page(state, page, entries, url);
}

// Hash flooding. The name index once hashed names with a fixed function: a
// 16-byte name was two words, each mixed in as h = (h ^ w) * M, h ^= h >> 29,
// then an avalanche. Every step is invertible, so for any first word w1 the
// second word w2 = state(w1) ^ T brings every such name to the same hash:
// a server could list 100000 names sharing one index slot, and each insertion
// would walk past all the names before it. These are such names (both words
// printable, nothing an href or the page's text would need escaped); under
// a key drawn for each parse they must cost what ordinary names cost.
uint64_t fixed_step(uint64_t h, uint64_t w)
{
    h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 29);
}

uint64_t fixed_hash(const char *s)
{
    uint64_t w1, w2;
    memcpy(&w1, s, 8);
    memcpy(&w2, s + 8, 8);
    uint64_t h = fixed_step(fixed_step(0x9E3779B97F4A7C15ull ^ (16 * 0xFF51AFD7ED558CCDull), w1), w2);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
}

bool plain_byte(unsigned char c) { return c >= 0x20 && c < 0x7F && !strchr("/\"%&?#:<>\\'", c); }

const std::vector<std::string> &colliding_names()
{
    static const std::vector<std::string> names = [] {
        static_assert(std::endian::native == std::endian::little, "words are read as little-endian");
        std::vector<std::string> out;
        const uint64_t h0 = 0x9E3779B97F4A7C15ull ^ (16 * 0xFF51AFD7ED558CCDull);
        const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        for (uint64_t i = 0; out.size() < static_cast<size_t>(k_max_entries); ++i) {
            char name[16];
            uint64_t v = i;
            for (int k = 0; k < 8; ++k, v /= 62) name[k] = digits[v % 62];
            uint64_t w1;
            memcpy(&w1, name, 8);
            const uint64_t w2 = fixed_step(h0, w1); // T = 0
            memcpy(name + 8, &w2, 8);
            bool ok = true;
            for (int k = 8; k < 16 && ok; ++k) ok = plain_byte(static_cast<unsigned char>(name[k]));
            if (ok) out.emplace_back(name, 16);
        }
        return out;
    }();
    return names;
}

std::string colliding_name(int i, size_t) { return colliding_names()[static_cast<size_t>(i)]; }

// An ordinary name of the same length: a counter among letters.
std::string ordinary_name(int i, size_t) { return entry_name(i, 17).substr(0, 16); }

void BM_nginx_colliding_names(benchmark::State &s)
{
    static const std::string page = nginx_page_named(16, k_max_entries, colliding_name);
    const std::vector<std::string> &names = colliding_names();
    for (const std::string &n : names) {
        if (fixed_hash(n.data()) != fixed_hash(names[0].data())) {
            s.SkipWithError("the names do not collide under the fixed hash");
            return;
        }
    }
    run_page(s, page, k_max_entries, k_url);
}

void BM_nginx_ordinary_names(benchmark::State &s)
{
    static const std::string page = nginx_page_named(16, k_max_entries, ordinary_name);
    run_page(s, page, k_max_entries, k_url);
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
BENCHMARK(BM_nginx_colliding_names)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_nginx_ordinary_names)->Unit(benchmark::kMillisecond)->MinTime(2.0);
