/* The sender's drifting clock: phases of a rate, repeated; this machine's
 * time to the phone's and back. */

#include "drift-clock.h"

#include <gtest/gtest.h>

namespace {

DriftClock clock_of(const char *phases, int64_t origin_us = 1000000)
{
	DriftClock clock;
	clock.origin_us = origin_us;
	EXPECT_TRUE(drift_parse(phases, &clock.phases)) << phases;
	return clock;
}

} // namespace

TEST(DriftClock, ParsesPhasesAndRefusesMalformedLists)
{
	std::vector<DriftPhase> phases;
	ASSERT_TRUE(drift_parse("2000:120,-2000:60.5", &phases));
	ASSERT_EQ(phases.size(), 2u);
	EXPECT_EQ(phases[0].ppm, 2000);
	EXPECT_DOUBLE_EQ(phases[0].seconds, 120);
	EXPECT_EQ(phases[1].ppm, -2000);
	EXPECT_DOUBLE_EQ(phases[1].seconds, 60.5);

	for (const char *bad : {"", "2000", "2000:", ":120", "2000:0", "2000:-5", "2000:120,", "x:1", "200001:1",
				"2000:120;-2000:120", "2000:1s"}) {
		std::vector<DriftPhase> untouched = {{7, 7}};
		EXPECT_FALSE(drift_parse(bad, &untouched)) << bad;
		ASSERT_EQ(untouched.size(), 1u) << bad;
		EXPECT_EQ(untouched[0].ppm, 7) << bad;
	}
}

TEST(DriftClock, WithoutPhasesItIsThisMachinesClock)
{
	DriftClock clock;
	clock.origin_us = 5;
	EXPECT_EQ(drift_phone_us(clock, 123456789), 123456789);
	EXPECT_EQ(drift_real_us(clock, 123456789), 123456789);
}

TEST(DriftClock, GainsAndLosesAtEachPhasesRate)
{
	/* 0.2 % fast for 10 s, then 0.2 % slow for 10 s, from t = 1 s. */
	DriftClock clock = clock_of("2000:10,-2000:10");
	const int64_t o = clock.origin_us;
	EXPECT_EQ(drift_phone_us(clock, o - 500), o - 500); /* before the first phase */
	EXPECT_EQ(drift_phone_us(clock, o), o);
	EXPECT_EQ(drift_phone_us(clock, o + 5000000), o + 5010000);   /* 5 s fast: +10 ms */
	EXPECT_EQ(drift_phone_us(clock, o + 10000000), o + 10020000); /* end of the fast phase: +20 ms */
	EXPECT_EQ(drift_phone_us(clock, o + 15000000), o + 15010000); /* 5 s slow: back 10 ms */
	EXPECT_EQ(drift_phone_us(clock, o + 20000000), o + 20000000); /* a whole cycle: even */
	EXPECT_EQ(drift_phone_us(clock, o + 25000000), o + 25010000); /* the cycle again */
}

TEST(DriftClock, RunsOnAfterACycleThatDoesNotEvenOut)
{
	DriftClock clock = clock_of("100000:1"); /* 10 % fast, for ever */
	const int64_t o = clock.origin_us;
	EXPECT_EQ(drift_phone_us(clock, o + 1000000), o + 1100000);
	EXPECT_EQ(drift_phone_us(clock, o + 3500000), o + 3850000);
}

TEST(DriftClock, PhoneTimeMapsBackToThisMachinesTime)
{
	DriftClock clock = clock_of("2000:10,-3000:7,0:2");
	const int64_t o = clock.origin_us;
	for (int64_t real = o; real < o + 100000000; real += 1234567) {
		int64_t phone = drift_phone_us(clock, real);
		EXPECT_LE(std::llabs(drift_real_us(clock, phone) - real), 1) << real;
	}
	/* Later on the phone's clock is always later on ours. */
	for (int64_t phone = o; phone < o + 50000000; phone += 999999)
		EXPECT_LT(drift_real_us(clock, phone), drift_real_us(clock, phone + 1000));
}
