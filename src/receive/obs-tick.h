#pragma once
/* OBS's video tick as the source itself sees it. At each tick libobs takes an
 * async source's newest picture and then calls the source's video_tick, on
 * its video thread: that callback only stores the tick's time here. A picture
 * handed to OBS before that time has been taken; one handed after it waits
 * for the next take. */

#include <atomic>
#include <cstdint>

struct ObsTick {
	std::atomic<uint64_t> taken = 0; /* the time of the tick that last took a picture; 0: none yet */
};

/* From the source's video_tick, with the tick's time: stores, never waits. */
inline void obs_tick_note(ObsTick *tick, uint64_t tick_time)
{
	tick->taken.store(tick_time, std::memory_order_release);
}

/* The time of the tick that last took a picture, or `fallback` before the first. */
inline uint64_t obs_tick_taken(const ObsTick *tick, uint64_t fallback)
{
	uint64_t taken = tick->taken.load(std::memory_order_acquire);
	return taken ? taken : fallback;
}
