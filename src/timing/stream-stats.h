#pragma once
/* The five-second statistics window of one stream: frame rate, bit rate,
 * decode time and delivery latency. Plain arithmetic on given times (ns). */

#include <cstdint>

struct StreamStats {
	uint64_t window_start;
	uint64_t pictures;
	uint64_t bytes;
	uint64_t decode_sum;
	uint64_t decode_max;
	uint64_t latency_sum;
	uint64_t latency_count;
	uint64_t latency_max;
};

struct StatsReport {
	double fps;
	double bits_per_sec;
	double decode_avg_ms;
	double decode_max_ms;
	int32_t stat_fps;
	int32_t stat_kbps;
	uint64_t latency_count;
	double latency_avg_ms;
	double latency_max_ms;
};

void stats_start(StreamStats *stats, uint64_t now);
/* A picture handed to OBS at t, decoded in decode_ns, sent by the phone at ts. */
void stats_add_picture(StreamStats *stats, uint64_t decode_ns, uint64_t t, uint64_t ts);
void stats_add_bytes(StreamStats *stats, uint64_t bytes);
bool stats_window_due(const StreamStats *stats, uint64_t now);
StatsReport stats_report(const StreamStats *stats, uint64_t now);
