// Inserting a name into a parse context the way every extraction pass does:
// a name the rules refuse (none, too long, a bad byte or sequence) counts as
// rejected, the rest goes through add_name.
#pragma once

#include <cstring>
#include <string>

#include "listing/internal.h"

inline int insert_name(kldlp::detail::kldlp_ctx *c, const std::string &name, int folder, int64_t size,
                       const char *date = nullptr)
{
    using namespace kldlp::detail;
    if (name.size() > c->lim->max_name || !name_ok(name.data(), name.size())) {
        c->res->rejected++;
        return 0;
    }
    return add_name(c, name.data(), name.size(), name_hash(c, name.data(), name.size()), folder, size, date,
                    date ? std::strlen(date) : 0);
}

inline int insert_name(kldlp::detail::kldlp_ctx *c, std::nullptr_t, int, int64_t, const char * = nullptr)
{
    c->res->rejected++;
    return 0;
}
