// Sizes and dates read from arbitrary texts:
//  - a size is -1 or exactly the number its digits spell;
//  - a date is -1 or whole seconds between 1970 and the end of 9999;
//  - orders other than day-first (2) and month-first (3) read alike, and a
//    date that the two read differently is unreadable under the others.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "listing/kldlp.h"
#include "props.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Exact-size copy: a read past the text is caught.
    std::vector<char> text(data, data + size);
    const char *p = text.empty() ? "" : text.data();

    int64_t sz = kldlp_parse_size(p, text.size());
    std::string show(text.begin(), text.end());
    PROP(sz >= -1, "size " + std::to_string(sz) + " of [" + show + "]");
    if (sz >= 0) {
        std::string digits;
        for (char c : text)
            if (c >= '0' && c <= '9') digits += c;
        PROP(!digits.empty(), "[" + show + "]");
        // Grouped sizes may carry leading zeros past 19 digits ("05.030.…");
        // what counts is the value, which fits in 63 bits.
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
        PROP(digits.size() <= 19, "[" + show + "]");
        PROP(std::to_string(sz) == std::to_string(std::stoull(digits)), "[" + show + "] read as " + std::to_string(sz));
    }

    int64_t d[5];
    for (int order = 0; order < 5; ++order) {
        d[order] = kldlp_parse_date(p, text.size(), order);
        // 9999-12-31 23:59:59 read with the largest negative offset (-14:00).
        const int64_t last = (253402300799LL + 14 * 3600) * 1000;
        PROP(d[order] == -1 || (d[order] >= 0 && d[order] <= last && d[order] % 1000 == 0),
             "[" + show + "] order " + std::to_string(order) + " -> " + std::to_string(d[order]));
    }
    PROP(d[0] == d[1] && d[1] == d[4], "orders 0, 1 and 4 differ on [" + show + "]");
    if (d[2] != d[3]) PROP(d[0] == -1, "[" + show + "] read by order 2 and 3 differently, and by the others");
    PROP(kldlp_parse_date(nullptr, 0, 1) == -1 && kldlp_parse_size(nullptr, 0) == -1, "null text");
    return 0;
}
