// Parses the largest page of one dialect a given number of times (once by
// default) and nothing else: the program that bench/count-instructions runs
// under callgrind, where a benchmark's repetitions and timers would only add
// noise to the count.
//   parse_once DIALECT [TIMES]     DIALECT: nginx_pre, apache_table, apache_pre, aspnet_table
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/pages.h"
#include "listing/kldlp.h"

int main(int argc, char **argv)
{
    using namespace benchpages;
    const dialect *d = nullptr;
    for (const dialect &k : k_dialects)
        if (argc > 1 && std::strcmp(argv[1], k.name) == 0) d = &k;
    if (!d) {
        std::fprintf(stderr, "usage: parse_once nginx_pre|apache_table|apache_pre|aspnet_table [times]\n");
        return 2;
    }
    int entries = 0;
    const std::string page = largest(d->make, &entries);
    const int times = argc > 2 ? std::atoi(argv[2]) : 1;
    int rc = 0;
    uint64_t count = 0;
    for (int i = 0; i < times; i++) {
        kldlp_result r;
        rc = kldlp_parse(page.data(), page.size(), k_url, nullptr, &r);
        count = r.count;
        kldlp_free(&r);
    }
    std::printf("%s: %zu bytes, status %d, %llu of %d entries\n", d->name, page.size(), rc,
                static_cast<unsigned long long>(count), entries);
    return rc == 0 && count == static_cast<uint64_t>(entries) ? 0 : 1;
}
