// rand_s is declared only when _CRT_RAND_S is defined before the first
// <stdlib.h> of the translation unit, which any header may pull in.
#if defined(_WIN32)
#  define _CRT_RAND_S
#endif

#include "platform/platform.h"

#if defined(_WIN32)
#  include <stdlib.h>
#  include <windows.h>
#else
#  include <sys/mman.h>
#  include <sys/random.h>
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

void prefer_huge_pages(void *, size_t) noexcept {}

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

void prefer_huge_pages(void *p, size_t n) noexcept
{
#  if defined(MADV_HUGEPAGE)
    constexpr uintptr_t huge = uintptr_t{2} << 20;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + huge - 1) & ~(huge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + n) & ~(huge - 1);
    // Refused advice (a kernel without transparent huge pages) changes nothing.
    if (to > from) (void)madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#  else
    (void)p;
    (void)n;
#  endif
}
#endif

} // namespace klaspnet::platform
