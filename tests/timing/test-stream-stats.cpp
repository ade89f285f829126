#include "timing/stream-stats.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr uint64_t ms = 1000000ull;
constexpr uint64_t sec = 1000000000ull;

} // namespace

TEST(StreamStats, WindowFiguresAndLatencyRules)
{
	StreamStats s;
	uint64_t start = 50 * sec;
	stats_start(&s, start);
	for (int i = 0; i < 150; i++) {
		uint64_t t = start + (uint64_t)i * 33 * ms;
		stats_add_picture(&s, 2 * ms, t, t - 40 * ms);
		stats_add_bytes(&s, 25000);
	}
	/* Left out: a zero latency, a negative one and one of a second or more. */
	stats_add_picture(&s, 6 * ms, start + sec, start + sec);
	stats_add_picture(&s, 1 * ms, start + sec, start + 2 * sec);
	stats_add_picture(&s, 1 * ms, start + 2 * sec, start + sec);

	EXPECT_FALSE(stats_window_due(&s, start + 5 * sec - 1));
	ASSERT_TRUE(stats_window_due(&s, start + 5 * sec));

	StatsReport r = stats_report(&s, start + 5 * sec);
	EXPECT_DOUBLE_EQ(r.fps, 153 / 5.0);
	EXPECT_EQ(r.stat_fps, 31); /* 30.6 rounded */
	EXPECT_DOUBLE_EQ(r.bits_per_sec, 150 * 25000 * 8 / 5.0);
	EXPECT_EQ(r.stat_kbps, 6000);
	EXPECT_NEAR(r.decode_avg_ms, (150 * 2 + 6 + 1 + 1) / 153.0, 1e-9);
	EXPECT_DOUBLE_EQ(r.decode_max_ms, 6.0);
	EXPECT_EQ(r.latency_count, 150u);
	EXPECT_DOUBLE_EQ(r.latency_avg_ms, 40.0);
	EXPECT_DOUBLE_EQ(r.latency_max_ms, 40.0);
	/* 999,999,999 ns, just under a second, still counts. */
	stats_add_picture(&s, 0, start + 3 * sec, start + 2 * sec + 1);
	EXPECT_EQ(stats_report(&s, start + 5 * sec).latency_count, 151u);
}

TEST(StreamStats, EmptyWindowReportsZeroDecodeTime)
{
	StreamStats s;
	stats_start(&s, 10 * sec);
	stats_add_bytes(&s, 1000);
	StatsReport r = stats_report(&s, 15 * sec + 1);
	EXPECT_EQ(r.decode_avg_ms, 0.0);
	EXPECT_EQ(r.stat_fps, 0);
	EXPECT_EQ(r.latency_count, 0u);
}
