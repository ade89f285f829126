#include "delay-line.h"

#include "monotonic-clock.h"

#include <chrono>

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

static void run_line(DelayLine *line)
{
	std::unique_lock<std::mutex> lock(line->mutex);
	for (;;) {
		if (line->stopping)
			return;
		if (line->queue.empty()) {
			line->wake.wait(lock);
			continue;
		}
		int64_t wait_us = line->queue.front().first - monotonic_us();
		if (wait_us > 0) {
			line->wake.wait_for(lock, std::chrono::microseconds(wait_us));
			continue;
		}
		std::vector<uint8_t> bytes = std::move(line->queue.front().second);
		line->queue.pop_front();
		lock.unlock();
		bool sent = connection_send(line->conn, bytes.data(), bytes.size());
		lock.lock();
		if (!sent)
			return;
	}
}

void delay_line_start(DelayLine &line, const NetDelayOptions &opts)
{
	net_delay_start(&line.delay, opts);
	line.thread = std::thread(run_line, &line);
}

bool delay_line_send(DelayLine &line, std::vector<uint8_t> bytes)
{
	if (!connection_alive(line.conn))
		return false;
	int64_t release = net_delay_release(&line.delay, monotonic_us());
	{
		std::lock_guard<std::mutex> guard(line.mutex);
		line.queue.emplace_back(release, std::move(bytes));
	}
	line.wake.notify_one();
	return true;
}

void delay_line_stop(DelayLine &line)
{
	{
		std::lock_guard<std::mutex> guard(line.mutex);
		line.stopping = true;
		line.queue.clear();
	}
	line.wake.notify_one();
	if (line.thread.joinable())
		line.thread.join();
}
