/* libobs's allocator, for the Windows test programs, which run without
 * obs.dll: memory from bmalloc is released with bfree, bfree takes null, and a
 * failed allocation ends the program as libobs's does. */

#include <util/bmem.h>

#include <cstdio>
#include <cstdlib>

void *bmalloc(size_t size)
{
	void *ptr = malloc(size ? size : 1);
	if (!ptr) {
		fprintf(stderr, "bmalloc: out of memory allocating %zu bytes\n", size);
		abort();
	}
	return ptr;
}

void *brealloc(void *ptr, size_t size)
{
	void *moved = realloc(ptr, size ? size : 1);
	if (!moved) {
		fprintf(stderr, "brealloc: out of memory allocating %zu bytes\n", size);
		abort();
	}
	return moved;
}

void bfree(void *ptr)
{
	free(ptr);
}
