// rand_s is declared only when _CRT_RAND_S is defined before the first
// <stdlib.h> of the translation unit, which any header may pull in.
#if defined(_WIN32)
#  define _CRT_RAND_S
#endif

#include "platform/platform.h"

#include <cstdint>
#include <cstdlib>

#if defined(_WIN32)
#  include <stdlib.h>
#  include <windows.h>
#else
#  include <sys/mman.h>
#  include <sys/random.h>
#  include <unistd.h>
#endif

namespace klaspnet::platform {

#if defined(_WIN32)

static_assert(sizeof(SRWLOCK) == sizeof(void *), "SRWLOCK fits its storage");

void lock_acquire(lock *l) noexcept { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&l->srw)); }
void lock_release(lock *l) noexcept { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&l->srw)); }

uint32_t rand32() noexcept
{
    unsigned int v = 0;
    (void)rand_s(&v);
    return v;
}

void *alloc_block(size_t n, size_t *cap) noexcept
{
    void *p = malloc(n ? n : 1);
    if (p) *cap = n;
    return p;
}

void release_pages(void *, size_t) noexcept {}

#else
void lock_acquire(lock *l) noexcept { l->m.lock(); }
void lock_release(lock *l) noexcept { l->m.unlock(); }

uint32_t rand32() noexcept
{
    uint32_t v = 0;
    // getrandom on the urandom pool blocks only before the pool is seeded at boot;
    // a short or failed read leaves the value 0, as the contract allows.
    (void)getrandom(&v, sizeof v, 0);
    return v;
}

void *alloc_block(size_t n, size_t *cap) noexcept
{
#  if defined(MADV_HUGEPAGE)
    constexpr size_t huge = size_t{2} << 20;
    if (n >= large_block_min && n <= SIZE_MAX - huge) {
        const size_t size = (n + huge - 1) & ~(huge - 1);
        void *p = aligned_alloc(huge, size);
        if (!p) return nullptr;
        // Refused advice (a kernel without transparent huge pages) changes nothing.
        (void)madvise(p, size, MADV_HUGEPAGE);
        *cap = size;
        return p;
    }
#  endif
    void *p = malloc(n ? n : 1);
    if (p) *cap = n;
    return p;
}

void release_pages(void *p, size_t n) noexcept
{
    static const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
    if (to > from) (void)madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
}
#endif

} // namespace klaspnet::platform
