#include "tools/answer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "common/wipe.h"
#include "klaspnet/klaspnet.h"

namespace klaspnet::tool {

namespace {

constexpr size_t k_first = size_t{256} << 10;
constexpr size_t k_max = 0x7FFFFFFF; // dst_len is a signed 32-bit int

// klaspnet_last_error hands out one shared slot that its next call from
// any thread overwrites: the tool's threads take turns reading it.
std::mutex g_last_error_lock;

} // namespace

answer_buffer::~answer_buffer()
{
    if (data_) klaspnet_wipe(data_, cap_);
    std::free(data_);
}

size_t answer_buffer::needed()
{
    std::lock_guard<std::mutex> g(g_last_error_lock);
    size_t need = 0;
    if (std::sscanf(klaspnet_last_error(), "output buffer too small: %zu bytes needed", &need) != 1) need = 0;
    return need;
}

bool answer_buffer::grow(size_t need)
{
    if (cap_ >= k_max) return false;
    size_t want = data_ ? std::max(cap_ * 2, need + need / 8) : k_first;
    want = std::min(want, k_max);
    char *p = static_cast<char *>(std::malloc(want));
    if (!p) return false;
    if (data_) klaspnet_wipe(data_, cap_);
    std::free(data_);
    data_ = p;
    cap_ = want;
    data_[0] = '\0';
    return true;
}

} // namespace klaspnet::tool
