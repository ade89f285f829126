#include "timing/audio-allowance.h"

#include <cstdint>

static int64_t round_up(int64_t v, int64_t unit)
{
	return (v + unit - 1) / unit * unit;
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

bool allowance_raise(AudioAllowance *a, int64_t need, int64_t min_step)
{
	int64_t target = round_up(need + RAISE_HEADROOM, RAISE_ROUND);
	if (target < a->allowance + min_step)
		target = a->allowance + min_step;
	bool fits = target <= ALLOWANCE_BOUND;
	if (!fits)
		target = ALLOWANCE_BOUND;
	if (target != a->allowance) {
		a->allowance = target;
		a->log_pending = true;
	}
	a->drop_pending = 0;
	a->lower_to = -1;
	return fits;
}

void allowance_start_quiet(AudioAllowance *a, uint64_t now)
{
	a->quiet_start = now;
	a->quiet_max_need = INT64_MIN;
}

void allowance_note_need(AudioAllowance *a, int64_t need, uint64_t now)
{
	if (need > a->quiet_max_need)
		a->quiet_max_need = need;
	if (!elapsed(now, a->quiet_start, QUIET_NS))
		return;
	/* What the quiet period needed, with the same headroom as a raise. */
	int64_t needed = a->quiet_max_need + RAISE_HEADROOM;
	needed = needed <= 0 ? 0 : round_up(needed, RAISE_ROUND);
	if (needed <= a->allowance - LOWER_STEP)
		a->lower_to = needed;
	allowance_start_quiet(a, now);
}

int64_t allowance_due_step(AudioAllowance *a, uint64_t now)
{
	if (a->lower_to < 0 || a->drop_pending != 0 || (a->last_cut && !elapsed(now, a->last_cut, a->cut_gap)))
		return 0;
	int64_t step = a->allowance - a->lower_to;
	if (step > a->cut_step)
		step = a->cut_step;
	if (step <= 0) {
		a->lower_to = -1;
		return 0;
	}
	a->last_cut = now;
	return step;
}

bool allowance_take_report(AudioAllowance *a, uint64_t now)
{
	if (!a->log_pending || (a->last_log && !elapsed(now, a->last_log, REPORT_GAP)))
		return false;
	a->log_pending = false;
	a->last_log = now;
	return true;
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
		a->log_pending = true;
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
		/* OBS places the first block at its own time: behind its mix, that
		 * raises OBS's audio buffering, whatever came before it. */
		a->lower_to = -1;
		if (lateness > a->allowance + FIRST_SLACK)
			allowance_raise(a, lateness, 0);
		a->started = true;
		allowance_start_quiet(a, now);
	} else if (a->dropping) {
		if (lateness > a->allowance) {
			v.deliver = false;
			a->dropped_blocks++;
		} else {
			a->dropping = false;
			allowance_start_quiet(a, now);
		}
	} else if (lateness > a->allowance + COVER_SLACK) {
		bool covered = allowance_raise(a, lateness, RAISE_MIN_STEP) || lateness <= a->allowance + COVER_SLACK;
		allowance_start_quiet(a, now);
		quiet_goes_on = false;
		if (!covered) {
			a->dropping = true;
			v.deliver = false;
			a->dropped_blocks++;
		}
	}

	if (v.deliver) {
		if (quiet_goes_on)
			allowance_note_need(a, lateness, now);
		int64_t step = allowance_due_step(a, now);
		if (step)
			a->drop_pending = step * (int64_t)sample_rate / 1000000000LL;
		v.shift = a->allowance;
		if (a->drop_pending > 0 && frames > 1) {
			/* Keep at least one frame: the block still carries the timestamp. */
			int64_t cut = a->drop_pending < (int64_t)frames - 1 ? a->drop_pending : (int64_t)frames - 1;
			v.cut_frames = (uint32_t)cut;
			a->drop_pending -= cut;
			a->allowance -= frames_to_ns(cut, sample_rate);
			if (a->allowance < 0)
				a->allowance = 0;
			a->log_pending = true;
		}
		a->next_pts = pts + (uint64_t)v.shift + (uint64_t)frames_to_ns(frames - v.cut_frames, sample_rate);
	}
	a->continuing = v.deliver;
	v.report = allowance_take_report(a, now);
	return v;
}

void audio_allowance_reset(AudioAllowance *a)
{
	*a = AudioAllowance{};
}
