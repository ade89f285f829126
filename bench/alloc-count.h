#pragma once
/* Counts the heap allocations each thread makes. Linking alloc-count.c into a
 * program replaces malloc and its siblings for the whole process (libobs,
 * libavcodec and the C++ library included) with versions that count on the
 * calling thread and then hand over to glibc's own allocator. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calls to malloc, calloc, realloc, posix_memalign, aligned_alloc and
 * memalign made so far on the calling thread. */
uint64_t allocations_on_this_thread(void);

#ifdef __cplusplus
}
#endif
