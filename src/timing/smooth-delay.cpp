#include "timing/smooth-delay.h"

#include <cstdint>

SmoothPicture smooth_delay_picture(SmoothDelay *s, uint64_t t, uint64_t now)
{
	AudioAllowance *a = &s->timing;
	int64_t need = (int64_t)(now - t) + PICTURE_LEAD;
	if (!s->started) {
		s->started = true;
		a->lower_to = -1;
		allowance_start_quiet(a, now);
	}
	if (need > a->allowance) {
		allowance_raise(a, need, a->continuing ? RAISE_MIN_STEP : 0);
		allowance_start_quiet(a, now);
	} else {
		allowance_note_need(a, need, now);
	}
	/* Without sound the timeline moves at once; with sound, as it is cut. */
	if (!a->continuing) {
		int64_t step = allowance_due_step(a, now);
		if (step) {
			a->allowance -= step;
			a->log_pending = true;
		}
	}

	/* Never before it came; never further ahead than the bound (the phone's
	 * clock jumped, and the timeline has not followed yet). */
	uint64_t at = t + (uint64_t)a->allowance;
	if ((int64_t)(at - now) < 0 || (int64_t)(at - now) > ALLOWANCE_BOUND)
		at = now;
	return {at, allowance_take_report(a, now)};
}

AllowanceVerdict smooth_delay_audio(SmoothDelay *s, uint64_t t, uint64_t now, uint32_t frames, uint32_t sample_rate)
{
	s->started = true;
	return audio_allowance_block(&s->timing, t, now, frames, sample_rate);
}

/* The first tick at or after `t` that is still to come (`tick` has come). */
static uint64_t tick_from(uint64_t t, uint64_t tick, uint64_t interval)
{
	if ((int64_t)(t - tick) <= 0)
		return tick + interval;
	return tick + ((t - tick - 1) / interval + 1) * interval;
}

Handover smooth_handover(uint64_t at, const HandoverState *h, uint64_t tick, uint64_t interval, uint64_t now)
{
	if (!interval)
		return {at, false, false};
	uint64_t half = interval / 2;
	uint64_t own = tick_from(at - half, tick, interval); /* the nearest tick to `at` still to come */
	Handover plan = {own - half, (int64_t)(own - at) > (int64_t)half, false};
	if (!h->last || (int64_t)(h->last - tick) < 0)
		return plan; /* OBS has taken the picture before */
	uint64_t before = tick_from(h->last + 1, tick, interval);
	/* It has this one's tick too, or a later one (this one is overdue):
	 * this one the tick after it, unless that makes too long a run of late
	 * pictures; one behind for OBS's lateness counts in no run. */
	if ((int64_t)(before - own) >= 0 && (h->behind || h->late_run < LATE_RUN_MAX))
		plan = {before + interval - half, true, h->behind};
	/* OBS is late with the take of the picture before: this one waits for
	 * that take, so as not to replace it. */
	uint64_t aim = plan.time + half;
	if ((int64_t)(before - aim) < 0 && (int64_t)(now - plan.time) >= 0 && (int64_t)(now - at) < OBS_WAIT_MAX)
		return {now + TICK_POLL_NS, plan.late || (int64_t)(now + TICK_POLL_NS - aim) > 0, true};
	return plan;
}

void smooth_handover_done(HandoverState *h, const Handover &plan, uint64_t handed, uint64_t interval)
{
	h->last = handed;
	if (!plan.obs_late)
		h->late_run = plan.late ? h->late_run + 1 : 0;
	h->behind_run = plan.obs_late ? h->behind_run + 1 : 0;
	/* Handed on over half a tick after its plan: it waited for OBS. */
	h->behind = plan.obs_late || (plan.time && (int64_t)(handed - plan.time) > (int64_t)(interval / 2));
}

bool smooth_delay_behind_obs(SmoothDelay *s, uint32_t behind_run, uint64_t interval, uint64_t now)
{
	if (behind_run <= LATE_RUN_MAX)
		return false;
	AudioAllowance *a = &s->timing;
	int64_t before = a->allowance;
	allowance_raise(a, a->allowance + (int64_t)interval, a->continuing ? RAISE_MIN_STEP : 0);
	allowance_start_quiet(a, now);
	return a->allowance > before;
}

void smooth_delay_start(SmoothDelay *s, const AudioAllowance *a, uint64_t now)
{
	*s = SmoothDelay{};
	AudioAllowance *d = &s->timing;
	d->allowance = a->allowance;
	d->lower_to = -1;
	d->next_pts = a->next_pts;
	d->continuing = a->continuing;
	d->started = a->started;
	d->log_pending = true;
	allowance_start_quiet(d, now);
	s->started = a->started;
}

void smooth_delay_stop(const SmoothDelay *s, AudioAllowance *a, uint64_t now)
{
	const AudioAllowance *d = &s->timing;
	a->allowance = d->allowance;
	a->drop_pending = 0;
	a->lower_to = -1;
	a->next_pts = d->next_pts;
	a->continuing = d->continuing;
	a->started = d->started;
	a->dropping = false;
	a->log_pending = true;
	allowance_start_quiet(a, now);
}
