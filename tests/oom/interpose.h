/* Allocation-failure injection for the out-of-memory tests. The executable
   defines malloc and its relatives itself, so that every allocation of the
   process (the library, yyjson's shared library, the C++ runtime) passes
   through here and can be made to fail on request. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Fail the nth allocation counted from now (1-based). With sticky nonzero,
   every later allocation fails as well, until oom_disarm(). */
void oom_arm(uint64_t nth, int sticky);
void oom_disarm(void);
/* Allocations requested since the last oom_arm(). */
uint64_t oom_seen(void);
/* Nonzero when an allocation has been refused since the last oom_arm(). */
int oom_hit(void);
/* Blocks currently allocated in the whole process (successful allocations
   minus releases); two readings that differ show a leak. */
int64_t oom_live(void);

#ifdef __cplusplus
}
#endif
