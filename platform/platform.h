// Platform layer: the only code that touches operating-system interfaces.
// An exclusive lock that is constant-initialised (usable from static storage
// without constructors running at load) and a cryptographically secure source
// of 32-bit random values.
#pragma once

#include <cstdint>

#if !defined(_WIN32)
#  include <mutex>
#endif

struct kl_lock {
#if defined(_WIN32)
    void *srw = nullptr; // storage of an SRWLOCK; SRWLOCK_INIT is all zero
#else
    std::mutex m; // constexpr constructor, trivial destructor
#endif
};

void kl_lock_acquire(kl_lock *l) noexcept;
void kl_lock_release(kl_lock *l) noexcept;

// RAII holder for a kl_lock; never copied.
class kl_guard {
public:
    explicit kl_guard(kl_lock &l) noexcept : l_(l) { kl_lock_acquire(&l_); }
    ~kl_guard() { kl_lock_release(&l_); }
    kl_guard(const kl_guard &) = delete;
    kl_guard &operator=(const kl_guard &) = delete;

private:
    kl_lock &l_;
};

// One value from the platform's secure generator. The value is preset to 0
// and the generator's status is not examined: a failed draw yields 0.
uint32_t kl_rand32() noexcept;
