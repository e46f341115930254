/* Replacement of the C allocator on top of glibc's own entry points
   (__libc_malloc and friends). glibc lets a program define malloc, free,
   calloc and realloc itself; the dynamic linker then binds every shared
   library's calls (yyjson, libstdc++'s operator new) to the program's
   definitions, so their allocations are counted and can fail as well.
   Building on the __libc_ entry points avoids looking the real functions up
   with dlsym, which itself allocates. Written in C so that the definitions
   match the C library's declarations exactly. */
#define _GNU_SOURCE
#include "interpose.h"

#include <errno.h>
#include <stdatomic.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

extern void *__libc_malloc(size_t);
extern void *__libc_calloc(size_t, size_t);
extern void *__libc_realloc(void *, size_t);
extern void __libc_free(void *);
extern void *__libc_memalign(size_t, size_t);

static atomic_int g_armed;
static atomic_int g_sticky;
static atomic_int g_hit;
static atomic_uint_fast64_t g_target;
static atomic_uint_fast64_t g_seen;
static atomic_int_fast64_t g_live;

/* Nonzero when this allocation request is to be refused. */
static int refuse(void)
{
    if (!atomic_load_explicit(&g_armed, memory_order_relaxed)) return 0;
    uint64_t n = atomic_fetch_add_explicit(&g_seen, 1, memory_order_relaxed) + 1;
    uint64_t t = atomic_load_explicit(&g_target, memory_order_relaxed);
    if (n == t || (n > t && atomic_load_explicit(&g_sticky, memory_order_relaxed))) {
        atomic_store_explicit(&g_hit, 1, memory_order_relaxed);
        errno = ENOMEM;
        return 1;
    }
    return 0;
}

static void *counted(void *p)
{
    if (p) atomic_fetch_add_explicit(&g_live, 1, memory_order_relaxed);
    return p;
}

void oom_arm(uint64_t nth, int sticky)
{
    atomic_store(&g_seen, 0);
    atomic_store(&g_hit, 0);
    atomic_store(&g_target, nth);
    atomic_store(&g_sticky, sticky);
    atomic_store(&g_armed, nth != 0);
}

void oom_disarm(void) { atomic_store(&g_armed, 0); }
uint64_t oom_seen(void) { return atomic_load(&g_seen); }
int oom_hit(void) { return atomic_load(&g_hit); }
int64_t oom_live(void) { return atomic_load(&g_live); }

void *malloc(size_t n)
{
    if (refuse()) return NULL;
    return counted(__libc_malloc(n));
}

void *calloc(size_t n, size_t m)
{
    if (refuse()) return NULL;
    return counted(__libc_calloc(n, m));
}

void free(void *p)
{
    if (!p) return;
    atomic_fetch_sub_explicit(&g_live, 1, memory_order_relaxed);
    __libc_free(p);
}

void *realloc(void *p, size_t n)
{
    if (!p) return malloc(n);
    if (n == 0) {
        /* glibc releases the block and answers null */
        free(p);
        return NULL;
    }
    if (refuse()) return NULL; /* the old block stays valid */
    return __libc_realloc(p, n);
}

void *reallocarray(void *p, size_t n, size_t m)
{
    if (m && n > SIZE_MAX / m) {
        errno = ENOMEM;
        return NULL;
    }
    return realloc(p, n * m);
}

char *strdup(const char *s)
{
    size_t n = strlen(s) + 1;
    char *p = malloc(n);
    if (p) memcpy(p, s, n);
    return p;
}

char *strndup(const char *s, size_t n)
{
    size_t len = strnlen(s, n);
    char *p = malloc(len + 1);
    if (p) {
        memcpy(p, s, len);
        p[len] = '\0';
    }
    return p;
}

int posix_memalign(void **out, size_t align, size_t n)
{
    if (align < sizeof(void *) || (align & (align - 1)) != 0) return EINVAL;
    if (refuse()) return ENOMEM;
    void *p = counted(__libc_memalign(align, n));
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

void *aligned_alloc(size_t align, size_t n)
{
    if (refuse()) return NULL;
    return counted(__libc_memalign(align, n));
}

void *memalign(size_t align, size_t n) { return aligned_alloc(align, n); }
