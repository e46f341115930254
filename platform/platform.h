// Platform layer: the only code that touches operating-system interfaces.
// An exclusive lock that is constant-initialised (usable from static storage
// without constructors running at load), a cryptographically secure source
// of 32-bit random values, and advice on how to back large blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#if !defined(_WIN32)
#  include <mutex>
#endif

namespace klaspnet::platform {

struct lock {
#if defined(_WIN32)
    void *srw = nullptr; // storage of an SRWLOCK; SRWLOCK_INIT is all zero
#else
    std::mutex m; // constexpr constructor, trivial destructor
#endif
};

void lock_acquire(lock *l) noexcept;
void lock_release(lock *l) noexcept;

// RAII holder of a lock; never copied.
class guard {
public:
    explicit guard(lock &l) noexcept : l_(l) { lock_acquire(&l_); }
    ~guard() { lock_release(&l_); }
    guard(const guard &) = delete;
    guard &operator=(const guard &) = delete;

private:
    lock &l_;
};

// One value from the platform's secure generator. The value is preset to 0
// and the generator's status is not examined: a failed draw yields 0.
uint32_t rand32() noexcept;

// Asks the system to back the block [p, p + n), not yet touched, with huge
// pages where it can (Linux: the 2 MiB-aligned part, madvise MADV_HUGEPAGE;
// elsewhere nothing). Each page a process touches first costs a fault in the
// kernel, which zeroes it; a listing page of 16 MiB and the JSON written
// from it touch some 11000 pages of 4 KiB, or a few dozen huge ones. Advice
// only: nothing changes when it is not taken.
void prefer_huge_pages(void *p, size_t n) noexcept;

} // namespace klaspnet::platform
