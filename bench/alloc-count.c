#include "alloc-count.h"

#include <errno.h>
#include <stddef.h>

/* glibc's allocator under its own names; free stays glibc's and takes back
 * every block handed out here. */
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *ptr, size_t size);
void *__libc_memalign(size_t alignment, size_t size);

/* Initial-exec TLS in the executable itself: reading it never allocates. */
static __thread uint64_t allocations;

uint64_t allocations_on_this_thread(void)
{
	return allocations;
}

void *malloc(size_t size)
{
	allocations++;
	return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
	allocations++;
	return __libc_calloc(count, size);
}

void *realloc(void *ptr, size_t size)
{
	allocations++;
	return __libc_realloc(ptr, size);
}

void *memalign(size_t alignment, size_t size)
{
	allocations++;
	return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
	allocations++;
	return __libc_memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
	if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0)
		return EINVAL;
	allocations++;
	void *ptr = __libc_memalign(alignment, size);
	if (!ptr)
		return ENOMEM;
	*out = ptr;
	return 0;
}
