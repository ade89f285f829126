#include "sync-delay.h"

#include <cstdint>

static int64_t round_up(int64_t v, int64_t unit)
{
	return (v + unit - 1) / unit * unit;
}

/* Receive times can run backwards in made-up input: no time at all. */
static bool elapsed(uint64_t now, uint64_t since, uint64_t span)
{
	return (int64_t)(now - since) >= (int64_t)span;
}

static int64_t frames_to_ns(int64_t frames, uint32_t sample_rate)
{
	return frames * 1000000000LL / (int64_t)sample_rate;
}

static void start_quiet(SyncDelay *s, uint64_t now)
{
	s->quiet_start = now;
	s->quiet_max_need = INT64_MIN;
}

static void note_need(SyncDelay *s, int64_t need)
{
	if (need > s->quiet_max_need)
		s->quiet_max_need = need;
}

/* Raises so that `need` is covered with headroom; false when the bound stops
 * it short of that. */
static bool raise_for(SyncDelay *s, int64_t need)
{
	int64_t target = round_up(need + RAISE_HEADROOM, RAISE_ROUND);
	int64_t min_step = s->continuing ? RAISE_MIN_STEP : 0;
	if (target < s->delay + min_step)
		target = s->delay + min_step;
	bool fits = target <= ALLOWANCE_BOUND;
	if (!fits)
		target = ALLOWANCE_BOUND;
	if (target != s->delay) {
		s->delay = target;
		s->log_pending = true;
	}
	s->drop_pending = 0;
	s->lower_to = -1;
	return fits;
}

/* At the end of a quiet period: lower to what it needed, if worth it. */
static void check_quiet(SyncDelay *s, uint64_t now)
{
	if (!elapsed(now, s->quiet_start, QUIET_NS))
		return;
	int64_t needed = s->quiet_max_need + RAISE_HEADROOM;
	needed = needed <= 0 ? 0 : round_up(needed, RAISE_ROUND);
	if (needed <= s->delay - LOWER_STEP)
		s->lower_to = needed;
	start_quiet(s, now);
}

/* The size of the next lowering step, when one is due now; else 0. */
static int64_t due_step(SyncDelay *s, uint64_t now)
{
	if (s->lower_to < 0 || s->drop_pending != 0 || (s->last_cut && !elapsed(now, s->last_cut, SYNC_CUT_GAP)))
		return 0;
	int64_t step = s->delay - s->lower_to;
	if (step > SYNC_CUT_STEP)
		step = SYNC_CUT_STEP;
	if (step <= 0) {
		s->lower_to = -1;
		return 0;
	}
	s->last_cut = now;
	return step;
}

static bool take_report(SyncDelay *s, uint64_t now)
{
	if (!s->log_pending || (s->last_log && !elapsed(now, s->last_log, REPORT_GAP)))
		return false;
	s->log_pending = false;
	s->last_log = now;
	return true;
}

SyncPicture sync_delay_picture(SyncDelay *s, uint64_t t, uint64_t now)
{
	int64_t need = (int64_t)(now - t) + PICTURE_LEAD;
	if (!s->started) {
		s->started = true;
		s->lower_to = -1;
		start_quiet(s, now);
	}
	if (need > s->delay) {
		raise_for(s, need);
		start_quiet(s, now);
	} else {
		note_need(s, need);
		check_quiet(s, now);
	}
	/* Without sound the timeline moves at once; with sound, as it is cut. */
	if (!s->continuing) {
		int64_t step = due_step(s, now);
		if (step) {
			s->delay -= step;
			s->log_pending = true;
		}
	}

	/* Never before it came; never further ahead than the bound (the phone's
	 * clock jumped, and the timeline has not followed yet). */
	uint64_t at = t + (uint64_t)s->delay;
	if ((int64_t)(at - now) < 0 || (int64_t)(at - now) > ALLOWANCE_BOUND)
		at = now;
	return {at, take_report(s, now)};
}

/* A small step of the audio clock goes into the delay. */
static void absorb_step(SyncDelay *s, uint64_t t)
{
	if (!s->continuing)
		return;
	int64_t step = (int64_t)(t + (uint64_t)s->delay - s->next_pts);
	if (step <= -SNAP_LIMIT || step >= SNAP_LIMIT || (step > -STEP_FLOOR && step < STEP_FLOOR))
		return;
	if (s->delay - step > ALLOWANCE_BOUND)
		return; /* the bound holds: the step reaches OBS as it is */
	s->delay -= step;
	if (s->delay < 0) {
		s->delay = 0;
		s->drop_pending = 0;
		s->log_pending = true;
	}
}

AllowanceVerdict sync_delay_audio(SyncDelay *s, uint64_t t, uint64_t now, uint32_t frames, uint32_t sample_rate)
{
	AllowanceVerdict v = {true, 0, 0, false};
	absorb_step(s, t);
	int64_t lateness = (int64_t)(now - t);
	bool quiet_goes_on = true;

	if (!s->sound_started) {
		/* OBS places the first block at its own time: behind its mix, that
		 * raises OBS's audio buffering, whatever the pictures needed. */
		s->lower_to = -1;
		if (lateness > s->delay + FIRST_SLACK)
			raise_for(s, lateness);
		s->started = true;
		s->sound_started = true;
		start_quiet(s, now);
	} else if (s->dropping) {
		if (lateness > s->delay) {
			v.deliver = false;
			s->dropped_blocks++;
		} else {
			s->dropping = false;
			start_quiet(s, now);
		}
	} else if (lateness > s->delay + COVER_SLACK) {
		bool covered = raise_for(s, lateness) || lateness <= s->delay + COVER_SLACK;
		start_quiet(s, now);
		quiet_goes_on = false;
		if (!covered) {
			s->dropping = true;
			v.deliver = false;
			s->dropped_blocks++;
		}
	}

	if (v.deliver) {
		if (quiet_goes_on)
			note_need(s, lateness);
		check_quiet(s, now);
		int64_t step = due_step(s, now);
		if (step)
			s->drop_pending = step * (int64_t)sample_rate / 1000000000LL;
		v.shift = s->delay;
		if (s->drop_pending > 0 && frames > 1) {
			/* Keep at least one frame: the block still carries the timestamp. */
			int64_t cut = s->drop_pending < (int64_t)frames - 1 ? s->drop_pending : (int64_t)frames - 1;
			v.cut_frames = (uint32_t)cut;
			s->drop_pending -= cut;
			s->delay -= frames_to_ns(cut, sample_rate);
			if (s->delay < 0)
				s->delay = 0;
			s->log_pending = true;
		}
		s->next_pts = t + (uint64_t)v.shift + (uint64_t)frames_to_ns(frames - v.cut_frames, sample_rate);
	}
	s->continuing = v.deliver;
	v.report = take_report(s, now);
	return v;
}

uint64_t sync_handover_time(uint64_t due, uint64_t last, uint64_t tick, uint64_t interval)
{
	if (!last || !interval || (int64_t)(last - tick) < 0)
		return due; /* a tick has come since */
	uint64_t next = tick + ((last - tick) / interval + 1) * interval + interval / HANDOVER_SHARE;
	if ((int64_t)(next - due) <= 0 || next - due >= interval)
		return due;
	return next;
}

void sync_delay_start(SyncDelay *s, const AudioAllowance *a, uint64_t now)
{
	*s = SyncDelay{};
	s->delay = a->allowance;
	s->lower_to = -1;
	s->next_pts = a->next_pts;
	s->continuing = a->continuing;
	s->started = a->started;
	s->sound_started = a->started;
	s->log_pending = true;
	start_quiet(s, now);
}

void sync_delay_stop(const SyncDelay *s, AudioAllowance *a, uint64_t now)
{
	a->allowance = s->delay;
	a->drop_pending = 0;
	a->lower_to = -1;
	a->next_pts = s->next_pts;
	a->continuing = s->continuing;
	a->started = s->sound_started;
	a->dropping = false;
	a->log_pending = true;
	a->quiet_start = now;
	a->quiet_max_late = INT64_MIN;
}
