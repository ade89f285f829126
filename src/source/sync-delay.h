#pragma once
/* "Smooth and in sync": pictures and sound on one timeline, both presented
 * a delay after it. A plain function of given times (nanoseconds), like the
 * audio allowance whose rules it follows.
 *
 * The timeline is the audio clock: a picture with sender time ts and a sound
 * block with sender time ts both map to ts + the same clock offset. Each is
 * presented at that time + the delay:
 * - pictures: a picture received `lateness` after its time needs
 *   lateness + 10 ms (its decode and hand-over) of delay;
 * - sound: a block needs what the allowance's rules give it (covered up to
 *   delay + 40 ms, the first block up to delay + 5 ms, even when pictures
 *   came before it).
 * The delay is the larger of the two needs, with the allowance's rules:
 * - raise at once to the need + 20 ms, rounded up to 10 ms, by at least
 *   80 ms once sound is being handed on (so that its timestamps jump past
 *   OBS's 70 ms continuity limit and OBS places them, with silence before);
 * - never above 500 ms: sound later than that + 40 ms is dropped until a
 *   block is in time; a picture later than its time is presented at once;
 * - lower after 20 s without a raise, to what those 20 s needed (both kinds)
 *   + 20 ms, when that is at least 20 ms less; gradually: 2 ms at a time, at
 *   most every 100 ms (20 ms a second, as the allowance), so each picture
 *   comes at most 2 ms early against the one before and each cut of sound is
 *   2 ms at most;
 * - while sound is handed on, a step of the audio clock that OBS would snap
 *   (within 70 ms) is taken into the delay, so the sound stays continuous and
 *   the pictures stay on the same timeline as the sound.
 * Switching the mode on takes over the allowance (same delay, same end of the
 * last block: no jump in the sound); switching it off hands the delay back. */

#include "audio-allowance.h"

#include <cstdint>

#define PICTURE_LEAD 10000000LL   /* a picture must be in this long before its time */
#define SYNC_CUT_STEP 2000000LL   /* the most one lowering step moves the timeline */
#define SYNC_CUT_GAP 100000000ULL /* at most one lowering step in this time */
#define HANDOVER_SHARE 4          /* a quarter of a tick after the tick, in case OBS runs it late */

struct SyncDelay {
	int64_t delay;           /* ns added to the timeline, for pictures and sound */
	int64_t drop_pending;    /* frames of sound still to cut for the current step */
	uint64_t quiet_start;    /* start of the current quiet period */
	int64_t quiet_max_need;  /* largest need (lateness, or lateness + lead) since quiet_start */
	int64_t lower_to;        /* a lowering under way towards this, or -1 */
	uint64_t last_cut;       /* when the last lowering step began */
	uint64_t next_pts;       /* where the last sound block handed on ends */
	uint64_t last_log;       /* when the delay was last reported */
	uint64_t dropped_blocks; /* sound blocks dropped past the bound */
	bool continuing;         /* next_pts holds (the last block was handed on) */
	bool started;            /* a picture or block was handed on */
	bool sound_started;      /* a block was handed on */
	bool dropping;           /* past the bound: dropping sound until one is in time */
	bool log_pending;        /* a change not reported yet */
};

struct SyncPicture {
	uint64_t present_at; /* OBS time to present the picture at (never before now) */
	bool report;         /* log the delay now */
};

/* A picture whose time on the timeline is `t`, received at `now`. One that
 * would wait past the bound (a jump of the phone's clock the timeline has not
 * followed yet) is presented at once. */
SyncPicture sync_delay_picture(SyncDelay *s, uint64_t t, uint64_t now);

/* A sound block of `frames` at `sample_rate` whose time on the timeline is
 * `t`, received at `now`: handed on at t + shift, after cutting cut_frames
 * from its front. */
AllowanceVerdict sync_delay_audio(SyncDelay *s, uint64_t t, uint64_t now, uint32_t frames, uint32_t sample_rate);

/* When a picture due at `due` is to be handed to OBS, which takes a source's
 * newest picture at each video tick: a quarter of a tick after the first tick
 * past `last` (the handing over of the picture before, 0 for none), so that
 * OBS has taken that one even when its tick runs a little late. Ticks fall on `tick` (the latest one known) + whole `interval`s. A
 * picture that would wait an interval or more goes at its time instead (a
 * stream faster than OBS's frame rate loses pictures, not time). */
uint64_t sync_handover_time(uint64_t due, uint64_t last, uint64_t tick, uint64_t interval);

/* The mode switched on: the delay starts where the allowance is. */
void sync_delay_start(SyncDelay *s, const AudioAllowance *a, uint64_t now);
/* The mode switched off: the allowance goes on from the delay. */
void sync_delay_stop(const SyncDelay *s, AudioAllowance *a, uint64_t now);
