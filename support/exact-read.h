#pragma once
/* Reading exactly n bytes from a socket, for the peers of the socket tests and
 * the reference tools. The bytes are counted as they come, a receive of 0 is
 * the end of the stream, and each way out has its own name. Waits and
 * receives cut short by a signal are repeated. */

#include "loopback.h"

#include <atomic>
#include <cstddef>

enum class ExactRead {
	done,      /* all n bytes have come */
	closed,    /* the peer ended the stream first */
	error,     /* a wait or a receive failed */
	timed_out, /* silence_ms or total_ms ran out first */
	stopped,   /* the stop flag was raised first */
};

struct ExactReadLimits {
	int silence_ms = -1;                     /* the longest wait for more bytes; < 0: no limit */
	int total_ms = -1;                       /* for the whole read; < 0: no limit */
	const std::atomic<bool> *stop = nullptr; /* looked at every few milliseconds */
};

/* Fills buf with n bytes from s. *first_read (when given) gets what the first
 * receive gave, so that a test can see a split write arrive split. */
ExactRead read_exact(plat_socket s, void *buf, size_t n, const ExactReadLimits &limits = {},
		     size_t *first_read = nullptr);
