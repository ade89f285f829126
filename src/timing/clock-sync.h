#pragma once
/* Moving the sender's timestamps onto OBS's clock. Plain functions of given
 * times (all nanoseconds), so tests drive them with chosen values.
 *
 * Sender timestamps are untrusted: arithmetic on them wraps around (it is
 * done on unsigned values) instead of overflowing. */

#include <cstdint>

/* Audio: follows the smallest transit offset (receive time minus sender time)
 * of each window of at least 2 s, by at most 4 ms per window, and jumps when
 * it is more than 500 ms off. Anchored by the first video packet. */
struct AudioClock {
	int64_t clock_offset;
	int64_t offset_min;
	uint64_t offset_window_start;
	bool clock_anchored;
};

/* Video: follows a faster transit at once (at most 8 ms per picture) and a
 * slower one by 4 ms every 2 s; resets on a jump of more than 500 ms. */
struct VideoClock {
	int64_t video_offset;
	uint64_t video_offset_time;
	bool video_offset_valid;
};

/* ts = sender microseconds x 1000, wrapping. */
uint64_t sender_time_ns(uint64_t sender_us);
/* now - ts as a signed value, wrapping. */
int64_t transit_offset(uint64_t now, uint64_t ts);

/* Feeds one video packet's offset into the audio tracker. Returns true when a
 * window closed with a re-anchor, and then sets *re_anchor_delta (ns). */
bool audio_clock_update(AudioClock *clock, int64_t diff, uint64_t now, int64_t *re_anchor_delta);
/* The OBS time of an audio block with sender time ts. */
uint64_t audio_clock_pts(const AudioClock *clock, uint64_t ts);

/* Feeds one picture into the video tracker and returns its OBS timestamp. */
uint64_t video_clock_pts(VideoClock *clock, uint64_t ts, int64_t diff, uint64_t now);
