// Platform layer: the only code that touches operating-system interfaces.
// An exclusive lock that is constant-initialised (usable from static storage
// without constructors running at load), a cryptographically secure source
// of 32-bit random values, and the allocation of large blocks.
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

// Blocks from this size on take whole huge pages (Linux).
constexpr size_t large_block_min = size_t{1} << 20;

// A block of at least n bytes, released with free(); *cap receives its
// usable size (n or more). Every page a process touches first costs a fault
// in the kernel, which zeroes it: a listing page of 16 MiB, the JSON written
// from it and the entry table and names of its folder touch some 15000
// pages of 4 KiB, and under a hypervisor a fault costs as much as zeroing
// 50 such pages. So a block of large_block_min bytes or more is, on Linux,
// whole huge pages of 2 MiB (its size rounded up to them, its start on one)
// advised for transparent huge pages: a few dozen faults instead. Smaller
// blocks, and every block elsewhere, are plain malloc blocks. Null when
// memory runs out.
void *alloc_block(size_t n, size_t *cap) noexcept;

// Tells the system that the bytes [p, p + n) of a block will not be read
// again: the whole pages among them go back to it (Linux) while the block
// stays allocated, and read as zeros if touched later. Elsewhere nothing.
void release_pages(void *p, size_t n) noexcept;

} // namespace klaspnet::platform
