#include "net-delay.h"

#include <climits>

bool net_delay_enabled(const NetDelayOptions &o)
{
	return o.jitter_ms > 0 || (o.spike_percent > 0 && o.spike_max_ms > 0);
}

/* splitmix64: the same numbers from the same seed everywhere. */
static uint64_t next_random(uint64_t *state)
{
	uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
	z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
	z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
	return z ^ (z >> 31);
}

/* Uniform in [0, 1). */
static double next_unit(uint64_t *state)
{
	return (double)(next_random(state) >> 11) / 9007199254740992.0;
}

void net_delay_start(NetDelay *d, const NetDelayOptions &opts)
{
	d->opts = opts;
	d->state = opts.seed;
	d->last_release_us = INT64_MIN;
}

int64_t net_delay_release(NetDelay *d, int64_t sent_us)
{
	const NetDelayOptions &o = d->opts;
	double delay_us = next_unit(&d->state) * o.jitter_ms * 1000.0;
	/* Both draws are made for every packet, so the spikes do not shift
	 * the jitter when the share changes. */
	double spike_draw = next_unit(&d->state);
	double spike_size = next_unit(&d->state);
	if (spike_draw * 100.0 < o.spike_percent)
		delay_us += (o.spike_min_ms + spike_size * (o.spike_max_ms - o.spike_min_ms)) * 1000.0;
	int64_t release = sent_us + (int64_t)delay_us;
	if (release < d->last_release_us)
		release = d->last_release_us;
	d->last_release_us = release;
	return release;
}
