#include "net-delay.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int64_t ms = 1000;

/* Release times of `count` packets written every `gap_us`. */
std::vector<int64_t> schedule(const NetDelayOptions &o, int count, int64_t gap_us)
{
	NetDelay d;
	net_delay_start(&d, o);
	std::vector<int64_t> out;
	for (int i = 0; i < count; i++)
		out.push_back(net_delay_release(&d, 1000000 * ms + i * gap_us));
	return out;
}

NetDelayOptions wifi(double share, int lo, int hi, uint64_t seed = 7)
{
	NetDelayOptions o;
	o.jitter_ms = 20;
	o.spike_percent = share;
	o.spike_min_ms = lo;
	o.spike_max_ms = hi;
	o.seed = seed;
	return o;
}

} // namespace

TEST(NetDelay, EnabledByJitterOrBySpikesThatDelay)
{
	NetDelayOptions o;
	EXPECT_FALSE(net_delay_enabled(o));
	o.jitter_ms = 1;
	EXPECT_TRUE(net_delay_enabled(o));
	EXPECT_TRUE(net_delay_enabled(wifi(3, 50, 100)));
	NetDelayOptions spikes_of_nothing = wifi(3, 0, 0);
	spikes_of_nothing.jitter_ms = 0;
	EXPECT_FALSE(net_delay_enabled(spikes_of_nothing));
}

TEST(NetDelay, SameSeedReplaysTheSameNetwork)
{
	EXPECT_EQ(schedule(wifi(3, 100, 200), 2000, 13 * ms), schedule(wifi(3, 100, 200), 2000, 13 * ms));
	EXPECT_NE(schedule(wifi(3, 100, 200, 7), 2000, 13 * ms), schedule(wifi(3, 100, 200, 8), 2000, 13 * ms));
}

TEST(NetDelay, DelaysStayInTheirRangesAndPacketsInOrder)
{
	/* Packets far apart: none is held up by the one before. */
	const int64_t gap = 1000 * ms;
	struct Row {
		NetDelayOptions o;
		int64_t lo, hi;              /* every delay within */
		double min_share, max_share; /* of delays beyond the jitter */
	};
	const Row rows[] = {
		{wifi(0, 50, 100), 0, 20 * ms, 0, 0},
		{wifi(3, 50, 100), 0, 120 * ms, 0.025, 0.035},
		{wifi(100, 100, 200), 100 * ms, 220 * ms, 1, 1},
		{wifi(100, 100, 100), 100 * ms, 120 * ms, 1, 1},
	};
	for (const Row &r : rows) {
		std::vector<int64_t> out = schedule(r.o, 20000, gap);
		int spikes = 0;
		int64_t longest = 0;
		for (size_t i = 0; i < out.size(); i++) {
			int64_t delay = out[i] - (1000000 * ms + (int64_t)i * gap);
			ASSERT_GE(delay, r.lo);
			ASSERT_LE(delay, r.hi);
			spikes += delay > 20 * ms;
			longest = std::max(longest, delay);
		}
		double share = spikes / 20000.0;
		EXPECT_GE(share, r.min_share) << r.o.spike_percent;
		EXPECT_LE(share, r.max_share) << r.o.spike_percent;
		/* The range is used to near its top. */
		EXPECT_GE(longest, r.hi - 2 * ms) << r.o.spike_percent;
	}

	/* Packets close together: a late one holds the next back, never reorders. */
	std::vector<int64_t> close = schedule(wifi(3, 100, 200), 20000, 1 * ms);
	int held = 0;
	for (size_t i = 1; i < close.size(); i++) {
		ASSERT_GE(close[i], close[i - 1]);
		held += close[i] == close[i - 1];
	}
	EXPECT_GT(held, 1000);
}
