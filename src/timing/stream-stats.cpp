#include "timing/stream-stats.h"

#include <limits>

#define STATS_WINDOW_NS 4999999999ULL
#define LATENCY_LIMIT_NS 999999999ULL

void stats_start(StreamStats *stats, uint64_t now)
{
	*stats = StreamStats{};
	stats->window_start = now;
}

void stats_add_picture(StreamStats *stats, uint64_t decode_ns, uint64_t t, uint64_t ts)
{
	stats->decode_sum += decode_ns;
	if (decode_ns > stats->decode_max)
		stats->decode_max = decode_ns;

	/* Latencies of zero or less, or of a second and more, say more about the
	 * two clocks than about delivery: they are left out. */
	if (ts < t && t - ts <= LATENCY_LIMIT_NS) {
		uint64_t latency = t - ts;
		stats->latency_sum += latency;
		stats->latency_count++;
		if (latency > stats->latency_max)
			stats->latency_max = latency;
	}
	stats->pictures++;
}

void stats_add_bytes(StreamStats *stats, uint64_t bytes)
{
	stats->bytes += bytes;
}

bool stats_window_due(const StreamStats *stats, uint64_t now)
{
	return now - stats->window_start > STATS_WINDOW_NS;
}

static int32_t to_int32(double value)
{
	const double hi = (double)std::numeric_limits<int32_t>::max();
	const double lo = (double)std::numeric_limits<int32_t>::min();
	return value >= hi   ? std::numeric_limits<int32_t>::max()
	       : value <= lo ? std::numeric_limits<int32_t>::min()
			     : (int32_t)value;
}

StatsReport stats_report(const StreamStats *stats, uint64_t now)
{
	StatsReport r = {};
	double secs = (double)(now - stats->window_start) / 1e9;
	r.fps = (double)stats->pictures / secs;
	r.bits_per_sec = (double)stats->bytes * 8.0 / secs;
	r.stat_fps = to_int32(r.fps + 0.5);
	r.stat_kbps = to_int32(r.bits_per_sec / 1000.0);
	r.decode_avg_ms = stats->pictures ? (double)stats->decode_sum / (double)stats->pictures / 1e6 : 0.0;
	r.decode_max_ms = (double)stats->decode_max / 1e6;
	r.latency_count = stats->latency_count;
	if (stats->latency_count) {
		r.latency_avg_ms = (double)stats->latency_sum / (double)stats->latency_count / 1e6;
		r.latency_max_ms = (double)stats->latency_max / 1e6;
	}
	return r;
}
