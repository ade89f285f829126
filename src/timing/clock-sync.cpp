#include "timing/clock-sync.h"

#include <cstdint>

#define RESET_DISTANCE 500000000LL /* a jump of more than 500 ms resets or re-anchors */
#define WINDOW_NS 1999999999ULL    /* a window closes once more than this has passed */
#define AUDIO_STEP_LIMIT 4000000LL /* audio moves by at most 4 ms per window */
#define VIDEO_STEP_DOWN 8000000LL  /* video follows a faster transit by up to 8 ms a picture */
#define VIDEO_STEP_UP 4000000LL    /* ... and a slower one by 4 ms every 2 s */

static int64_t wrap_add(int64_t a, int64_t b)
{
	return (int64_t)((uint64_t)a + (uint64_t)b);
}

static int64_t wrap_sub(int64_t a, int64_t b)
{
	return (int64_t)((uint64_t)a - (uint64_t)b);
}

uint64_t sender_time_ns(uint64_t sender_us)
{
	return sender_us * 1000u;
}

int64_t transit_offset(uint64_t now, uint64_t ts)
{
	return (int64_t)(now - ts);
}

bool audio_clock_update(AudioClock *clock, int64_t diff, uint64_t now, int64_t *re_anchor_delta)
{
	if (!clock->clock_anchored) {
		clock->clock_offset = diff;
		clock->offset_min = diff;
		clock->offset_window_start = now;
		clock->clock_anchored = true;
		return false;
	}

	if (diff < clock->offset_min)
		clock->offset_min = diff;
	if (now - clock->offset_window_start <= WINDOW_NS)
		return false;

	bool re_anchored = false;
	int64_t delta = wrap_sub(clock->offset_min, clock->clock_offset);
	if (delta < -RESET_DISTANCE || delta > RESET_DISTANCE) {
		clock->clock_offset = clock->offset_min;
		*re_anchor_delta = delta;
		re_anchored = true;
	} else {
		int64_t step = delta < -AUDIO_STEP_LIMIT  ? -AUDIO_STEP_LIMIT
			       : delta > AUDIO_STEP_LIMIT ? AUDIO_STEP_LIMIT
							  : delta;
		clock->clock_offset = wrap_add(clock->clock_offset, step);
	}
	clock->offset_window_start = now;
	clock->offset_min = INT64_MAX;
	return re_anchored;
}

uint64_t audio_clock_pts(const AudioClock *clock, uint64_t ts)
{
	return ts + (uint64_t)clock->clock_offset;
}

uint64_t video_clock_pts(VideoClock *clock, uint64_t ts, int64_t diff, uint64_t now)
{
	if (!clock->video_offset_valid) {
		clock->video_offset = diff;
		clock->video_offset_time = now;
		clock->video_offset_valid = true;
		return now;
	}

	int64_t gap = wrap_sub(diff, clock->video_offset);
	if (gap > RESET_DISTANCE || gap < -RESET_DISTANCE) {
		clock->video_offset = diff;
		clock->video_offset_time = now;
		return now;
	}

	if (gap < 0) {
		/* The picture came through faster than the offset assumes. */
		clock->video_offset = gap > -VIDEO_STEP_DOWN ? diff : wrap_sub(clock->video_offset, VIDEO_STEP_DOWN);
		clock->video_offset_time = now;
	} else if (now - clock->video_offset_time > WINDOW_NS) {
		/* A fixed step, not limited by diff: an overshoot is taken back on the next picture. */
		clock->video_offset = wrap_add(clock->video_offset, VIDEO_STEP_UP);
		clock->video_offset_time = now;
	}
	return ts + (uint64_t)clock->video_offset;
}
