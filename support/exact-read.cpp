#include "exact-read.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

using Clock = std::chrono::steady_clock;

/* How often a wait looks at the stop flag. */
static constexpr int stop_poll_ms = 20;

/* Milliseconds left of limit_ms counted from since; no limit: -1. */
static int64_t left_ms(int limit_ms, Clock::time_point since, Clock::time_point now)
{
	if (limit_ms < 0)
		return -1;
	auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(now - since).count();
	return std::max<int64_t>(0, limit_ms - spent);
}

/* The shorter of two waits, where -1 is no limit. */
static int64_t shorter(int64_t a, int64_t b)
{
	if (a < 0)
		return b;
	if (b < 0)
		return a;
	return std::min(a, b);
}

ExactRead read_exact(plat_socket s, void *buf, size_t n, const ExactReadLimits &limits, size_t *first_read)
{
	uint8_t *into = static_cast<uint8_t *>(buf);
	const Clock::time_point start = Clock::now();
	Clock::time_point last_data = start;
	size_t have = 0;
	while (have < n) {
		if (limits.stop && limits.stop->load())
			return ExactRead::stopped;
		Clock::time_point now = Clock::now();
		int64_t wait_ms =
			shorter(left_ms(limits.silence_ms, last_data, now), left_ms(limits.total_ms, start, now));
		if (wait_ms == 0)
			return ExactRead::timed_out;
		if (limits.stop)
			wait_ms = shorter(wait_ms, stop_poll_ms);

		int ready = loopback_poll_readable(s, (int)wait_ms);
		if (ready < 0 && !loopback_interrupted())
			return ExactRead::error;
		if (ready <= 0)
			continue;
		long got = loopback_recv(s, into + have, n - have);
		if (got == 0)
			return ExactRead::closed;
		if (got < 0 && loopback_interrupted())
			continue;
		if (got < 0)
			return ExactRead::error;
		if (have == 0 && first_read)
			*first_read = (size_t)got;
		have += (size_t)got;
		last_data = Clock::now();
	}
	return ExactRead::done;
}
