#pragma once
/* OBS's video thread made late on purpose, as a busy scene makes it: while
 * this lives, a tick callback, which libobs runs at the start of each video
 * tick (after the tick's time is set, before any source takes its picture),
 * sleeps 0 to `most_ms` ms on 30 % of the ticks, drawn from a fixed seed.
 * It also sums the times OBS's video thread stood still for longer than
 * LATE_TICKS_STALL_NS between two ticks (a machine too busy to run it). */

#include <atomic>
#include <cstdint>
#include <random>

#define LATE_TICKS_STALL_NS 100000000ULL

class LateTicks {
public:
	LateTicks(unsigned seed, unsigned most_ms);
	~LateTicks();
	/* OBS's stalls so far, in ns. */
	uint64_t stalled_ns() const { return stalled_.load(); }
	LateTicks(const LateTicks &) = delete;
	LateTicks &operator=(const LateTicks &) = delete;

private:
	static void tick(void *param, float seconds);
	std::mt19937 random_; /* OBS's video thread's alone */
	unsigned most_ms_;
	uint64_t last_tick_ = 0; /* OBS's video thread's alone */
	std::atomic<uint64_t> stalled_ = 0;
};
