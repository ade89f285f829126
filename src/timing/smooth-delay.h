#pragma once
/* "Smooth and in sync": pictures and sound on one timeline (the audio
 * clock), both presented a delay after it; the delay is an audio allowance
 * (audio-allowance.h) with the pictures' need added. A plain function of
 * given times (nanoseconds). The rules, and when a picture goes to OBS:
 * docs/timing.md. */

#include "timing/audio-allowance.h"

#include <cstdint>

#define PICTURE_LEAD 10000000LL      /* a picture must be in this long before its time */
#define SMOOTH_CUT_STEP 2000000LL    /* the most one lowering step moves the timeline */
#define SMOOTH_CUT_GAP 100000000ULL  /* at most one lowering step in this time */
#define LATE_RUN_MAX 3               /* pictures in a row shown late before one is given up */
#define TICK_POLL_NS 1000000ULL      /* how often a late tick of OBS's is looked for */
#define OBS_WAIT_MAX ALLOWANCE_BOUND /* how long past its time a picture waits for OBS's late take */

/* The allowance's rules at the mode's pace of lowering. */
inline AudioAllowance smooth_timing()
{
	AudioAllowance a = {};
	a.cut_step = SMOOTH_CUT_STEP;
	a.cut_gap = SMOOTH_CUT_GAP;
	return a;
}

struct SmoothDelay {
	AudioAllowance timing =
		smooth_timing(); /* the delay is timing.allowance; timing.started: sound was handed on */
	bool started = false;    /* a picture or block was handed on */
};

struct SmoothPicture {
	uint64_t present_at; /* OBS time to present the picture at (never before now) */
	bool report;         /* log the delay now */
};

/* A picture whose time on the timeline is `t`, received at `now`. One that
 * would wait past the bound (a jump of the phone's clock the timeline has not
 * followed yet) is presented at once. */
SmoothPicture smooth_delay_picture(SmoothDelay *s, uint64_t t, uint64_t now);

/* A sound block of `frames` at `sample_rate` whose time on the timeline is
 * `t`, received at `now`: handed on at t + shift, after cutting cut_frames
 * from its front. */
AllowanceVerdict smooth_delay_audio(SmoothDelay *s, uint64_t t, uint64_t now, uint32_t frames, uint32_t sample_rate);

/* The pictures handed to OBS so far: when the last one went (0: none yet),
 * how many in a row were shown over half a tick after their time, and
 * whether the last one is behind its tick because OBS took the one before
 * it late. */
struct HandoverState {
	uint64_t last;
	uint32_t late_run;
	bool behind;
	uint32_t behind_run; /* pictures in a row shown late for OBS's lateness */
};

struct Handover {
	uint64_t time; /* when to hand the picture to OBS */
	bool late;     /* it will be shown over half a tick after its time */
	bool obs_late; /* that is OBS's lateness, not the stream's: it counts in no run */
};

/* When a picture whose time is `at` is to be handed to OBS, which shows a
 * source's newest picture at each video tick; ticks fall on `tick` (the
 * latest one, come already) + whole `interval`s. The rule: docs/timing.md
 * ("Handing a picture to OBS"). */
Handover smooth_handover(uint64_t at, const HandoverState *h, uint64_t tick, uint64_t interval, uint64_t now);
/* The picture planned as `plan` went to OBS at `handed`, ticks `interval` apart. */
void smooth_handover_done(HandoverState *h, const Handover &plan, uint64_t handed, uint64_t interval);

/* `behind_run` pictures in a row were shown late for OBS's lateness (ticks
 * `interval` apart): past LATE_RUN_MAX, where a run of the stream's own would
 * give a picture up, the delay grows by a tick instead, by the allowance's
 * rules, as for a picture the network brought late: the pictures after it
 * come with a gap that brings them back to their ticks. True when it grew. */
bool smooth_delay_behind_obs(SmoothDelay *s, uint32_t behind_run, uint64_t interval, uint64_t now);

/* The mode switched on: the delay starts where the allowance is. */
void smooth_delay_start(SmoothDelay *s, const AudioAllowance *a, uint64_t now);
/* The mode switched off: the allowance goes on from the delay. */
void smooth_delay_stop(const SmoothDelay *s, AudioAllowance *a, uint64_t now);
