#pragma once
/* OBS's video thread made late on purpose, as a busy scene makes it: while
 * this lives, a tick callback, which libobs runs at the start of each video
 * tick (after the tick's time is set, before any source takes its picture),
 * sleeps 0 to `most_ms` ms on 30 % of the ticks, drawn from a fixed seed. */

#include <random>

class LateTicks {
public:
	LateTicks(unsigned seed, unsigned most_ms);
	~LateTicks();
	LateTicks(const LateTicks &) = delete;
	LateTicks &operator=(const LateTicks &) = delete;

private:
	static void tick(void *param, float seconds);
	std::mt19937 random_; /* OBS's video thread's alone */
	unsigned most_ms_;
};
