#include "audio-allowance.h"

#include <cstdint>

static int64_t round_up(int64_t v, int64_t unit)
{
	return (v + unit - 1) / unit * unit;
}

static void start_quiet(AudioAllowance *a, uint64_t now)
{
	a->quiet_start = now;
	a->quiet_max_late = INT64_MIN;
}

static void changed(AudioAllowance *a)
{
	a->log_pending = true;
}

/* Raises so that `lateness` is covered with headroom; false when the bound
 * stops it short of that. */
static bool raise_for(AudioAllowance *a, int64_t lateness, int64_t min_step)
{
	int64_t target = round_up(lateness + RAISE_HEADROOM, RAISE_ROUND);
	if (target < a->allowance + min_step)
		target = a->allowance + min_step;
	bool fits = target <= ALLOWANCE_BOUND;
	if (!fits)
		target = ALLOWANCE_BOUND;
	if (target != a->allowance) {
		a->allowance = target;
		changed(a);
	}
	a->drop_pending = 0;
	a->lower_to = -1;
	return fits;
}

/* Time since `since`; receive times can run backwards across blocks in
 * made-up input, which counts as no time at all. */
static bool elapsed(uint64_t now, uint64_t since, uint64_t span)
{
	return (int64_t)(now - since) >= (int64_t)span;
}

static int64_t frames_to_ns(int64_t frames, uint32_t sample_rate)
{
	return frames * 1000000000LL / (int64_t)sample_rate;
}

/* While raised, a small step of the audio clock goes into the allowance. */
static void absorb_step(AudioAllowance *a, uint64_t pts)
{
	if (!a->continuing || a->allowance <= 0)
		return;
	int64_t step = (int64_t)(pts + (uint64_t)a->allowance - a->next_pts);
	if (step <= -SNAP_LIMIT || step >= SNAP_LIMIT || (step > -STEP_FLOOR && step < STEP_FLOOR))
		return;
	if (a->allowance - step > ALLOWANCE_BOUND)
		return; /* the bound holds: the step reaches OBS as it is */
	a->allowance -= step;
	if (a->allowance <= 0) {
		a->allowance = 0;
		a->drop_pending = 0;
		changed(a);
	}
}

AllowanceVerdict audio_allowance_block(AudioAllowance *a, uint64_t pts, uint64_t now, uint32_t frames,
				       uint32_t sample_rate)
{
	AllowanceVerdict v = {true, 0, 0, false};
	absorb_step(a, pts);
	int64_t lateness = (int64_t)(now - pts);
	bool quiet_goes_on = true; /* false: a quiet period starts after this block */

	if (!a->started) {
		a->lower_to = -1;
		if (lateness > a->allowance + FIRST_SLACK)
			raise_for(a, lateness, 0);
		a->started = true;
		start_quiet(a, now);
	} else if (a->dropping) {
		if (lateness > a->allowance) {
			v.deliver = false;
			a->dropped_blocks++;
		} else {
			a->dropping = false;
			start_quiet(a, now);
		}
	} else if (lateness > a->allowance + COVER_SLACK) {
		bool covered = raise_for(a, lateness, RAISE_MIN_STEP) || lateness <= a->allowance + COVER_SLACK;
		start_quiet(a, now);
		quiet_goes_on = false;
		if (!covered) {
			a->dropping = true;
			v.deliver = false;
			a->dropped_blocks++;
		}
	}

	if (v.deliver) {
		if (quiet_goes_on && lateness > a->quiet_max_late)
			a->quiet_max_late = lateness;
		if (elapsed(now, a->quiet_start, QUIET_NS)) {
			/* What the quiet period needed, with the same headroom as a raise. */
			int64_t needed = a->quiet_max_late + RAISE_HEADROOM;
			needed = needed <= 0 ? 0 : round_up(needed, RAISE_ROUND);
			if (needed <= a->allowance - LOWER_STEP)
				a->lower_to = needed;
			start_quiet(a, now);
		}
		if (a->lower_to >= 0 && a->drop_pending == 0 && (!a->last_cut || elapsed(now, a->last_cut, CUT_GAP))) {
			int64_t step = a->allowance - a->lower_to;
			if (step > LOWER_STEP)
				step = LOWER_STEP;
			if (step > 0) {
				a->drop_pending = step * (int64_t)sample_rate / 1000000000LL;
				a->last_cut = now;
			} else {
				a->lower_to = -1;
			}
		}
		v.shift = a->allowance;
		if (a->drop_pending > 0 && frames > 1) {
			/* Keep at least one frame: the block still carries the timestamp. */
			int64_t cut = a->drop_pending < (int64_t)frames - 1 ? a->drop_pending : (int64_t)frames - 1;
			v.cut_frames = (uint32_t)cut;
			a->drop_pending -= cut;
			a->allowance -= frames_to_ns(cut, sample_rate);
			if (a->allowance < 0)
				a->allowance = 0;
			changed(a);
		}
		a->next_pts = pts + (uint64_t)v.shift + (uint64_t)frames_to_ns(frames - v.cut_frames, sample_rate);
	}
	a->continuing = v.deliver;

	if (a->log_pending && (!a->last_log || elapsed(now, a->last_log, REPORT_GAP))) {
		a->log_pending = false;
		a->last_log = now;
		v.report = true;
	}
	return v;
}

void audio_allowance_reset(AudioAllowance *a)
{
	*a = AudioAllowance{};
}
