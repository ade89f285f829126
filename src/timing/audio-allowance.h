#pragma once
/* How far audio handed to OBS runs behind the audio clock, so that packets
 * held up by the network still reach OBS before it mixes them: a plain
 * function of given times (nanoseconds). Why, and the rules these limits
 * belong to: docs/timing.md. "Smooth and in sync" (smooth-delay.h) feeds
 * the rule functions at the end of this file with its pictures' need. */

#include <cstdint>

/* The limits of the rules (docs/timing.md), in ns. */
#define COVER_SLACK 40000000LL      /* late by up to allowance + this: OBS cannot clear the buffer */
#define FIRST_SLACK 5000000LL       /* the first block may be this late before it raises */
#define RAISE_HEADROOM 20000000LL   /* a raise covers the lateness seen plus this */
#define RAISE_ROUND 10000000LL      /* raised values are whole multiples of this */
#define RAISE_MIN_STEP 80000000LL   /* past OBS's 70 ms continuity limit */
#define ALLOWANCE_BOUND 500000000LL /* the allowance never exceeds this */
#define QUIET_NS 20000000000ULL     /* quiet time before the allowance is lowered */
#define LOWER_STEP 20000000LL       /* the most one cut removes, and the least a lowering is worth */
#define CUT_GAP 1000000000ULL       /* at most one cut in this time */
#define REPORT_GAP 5000000000ULL    /* at most one report in this time */
#define SNAP_LIMIT 70000000LL       /* OBS snaps a timestamp this close to the expected one */
#define STEP_FLOOR 10000LL          /* below this a step is rounding of the sender's microseconds */

struct AudioAllowance {
	int64_t allowance;       /* ns added to the audio clock's timestamps */
	int64_t drop_pending;    /* frames still to cut to finish a lowering */
	uint64_t quiet_start;    /* start of the current quiet period */
	int64_t quiet_max_need;  /* largest need (lateness) seen since quiet_start */
	uint64_t last_log;       /* when the allowance was last reported */
	uint64_t dropped_blocks; /* blocks dropped past the bound */
	int64_t lower_to;        /* a lowering under way towards this, or -1 */
	uint64_t last_cut;       /* when the last cut began */
	uint64_t next_pts;       /* where the last block handed on ends */
	bool continuing;         /* next_pts holds (the last block was handed on) */
	bool started;            /* a block was handed on */
	bool dropping;           /* past the bound: dropping until one is in time */
	bool log_pending;        /* a change not reported yet */
	/* The pace of a lowering: at most cut_step (ns) at a time, one step in
	 * cut_gap. */
	int64_t cut_step = LOWER_STEP;
	uint64_t cut_gap = CUT_GAP;
};

/* What to do with one decoded block. */
struct AllowanceVerdict {
	bool deliver;        /* false: drop the block */
	uint32_t cut_frames; /* frames to remove from the front of the block */
	int64_t shift;       /* ns to add to the block's design timestamp */
	bool report;         /* log the allowance now */
};

/* One block of `frames` frames at `sample_rate`, received at `now`, whose
 * timestamp on the audio clock is `pts`. It is handed on at pts + shift; a
 * cut block keeps that timestamp for its first remaining frame. */
AllowanceVerdict audio_allowance_block(AudioAllowance *a, uint64_t pts, uint64_t now, uint32_t frames,
				       uint32_t sample_rate);

/* Forget the stream (a new connection): allowance back to 0. */
void audio_allowance_reset(AudioAllowance *a);

/* The rules one at a time, for a caller with a need of its own (a picture's
 * lateness plus its lead); audio_allowance_block applies them to sound. */

/* Raises by at least `min_step` so that `need` is covered with headroom, and
 * stops a lowering; false when the bound stops it short of that. */
bool allowance_raise(AudioAllowance *a, int64_t need, int64_t min_step);

/* A quiet period starts at `now`: no raise since. */
void allowance_start_quiet(AudioAllowance *a, uint64_t now);

/* A need met within the quiet period; at its end, a lowering to what the
 * period needed starts when it is worth it. */
void allowance_note_need(AudioAllowance *a, int64_t need, uint64_t now);

/* The size of the lowering step due at `now` (at most cut_step, at most one
 * in cut_gap), or 0: the caller takes it out of the allowance. */
int64_t allowance_due_step(AudioAllowance *a, uint64_t now);

/* A change to report, at most one in REPORT_GAP. */
bool allowance_take_report(AudioAllowance *a, uint64_t now);
