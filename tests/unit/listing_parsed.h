// One kldlp_parse of a page held in a heap block of exactly its length (an
// over-read shows under AddressSanitizer), for the listing parser's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "listing/internal.h"
#include "support/exact.h"

namespace listing_test {

struct parsed {
    int rc;
    kldlp_result r;
    explicit parsed(const std::string &page, const char *url = "http://h/m/", const kldlp_opts *o = nullptr)
    {
        memset(&r, 0x5A, sizeof r); // garbage that the parser must overwrite
        // The copy is gone before the result is read: nothing in it may
        // point into the page.
        const ktest::exact_bytes exact(page);
        rc = kldlp_parse(exact.data(), exact.size(), url, o, &r);
    }
    ~parsed() { kldlp_free(&r); }
    parsed(const parsed &) = delete;
    parsed &operator=(const parsed &) = delete;
    // Entries as "name" or "name/" for folders, joined by "|".
    std::string names() const
    {
        std::string s;
        for (uint64_t i = 0; i < r.count; i++) {
            if (i) s += "|";
            s += r.items[i].name;
            if (r.items[i].folder) s += "/";
        }
        return s;
    }
    const kldlp_entry &at(uint64_t i) const { return r.items[i]; }
};

inline bool zeroed(const kldlp_result &r)
{
    return r.dialect == 0 && r.variant == 0 && !r.items && r.count == 0 && r.rejected == 0 && r.skipped == 0 &&
           r.date_order == 0 && r.date_hinted == 0 && !r.index_of && r.capacity == 0;
}

// The folder path the title named: want, or none when want is null.
inline ::testing::AssertionResult index_of_is(const kldlp_result &r, const char *want)
{
    if (!want && !r.index_of) return ::testing::AssertionSuccess();
    if (want && r.index_of && std::strcmp(want, r.index_of) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "index_of " << (r.index_of ? r.index_of : "(none)") << ", wanted "
                                         << (want ? want : "(none)");
}

} // namespace listing_test
