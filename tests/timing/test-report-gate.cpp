#include "timing/report-gate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr uint64_t sec = 1000000000ull;

} // namespace

TEST(ReportGate, OncePerThirtySecondsOverASimulatedMinute)
{
	/* Attempts every 4 s (3 s connect limit + 1 s pause) for 60 s. */
	uint64_t last = 0;
	int reported = 0;
	std::vector<uint64_t> when;
	for (uint64_t t = 1 * sec; t <= 61 * sec; t += 4 * sec) {
		if (report_gate_open(last, t)) {
			last = t;
			reported++;
			when.push_back(t);
		}
	}
	ASSERT_EQ(reported, 2);
	EXPECT_EQ(when[0], 1 * sec);
	EXPECT_EQ(when[1], 33 * sec); /* the first attempt at least 30 s after the logged one */

	EXPECT_TRUE(report_gate_open(0, 5));
	EXPECT_FALSE(report_gate_open(10 * sec, 40 * sec - 1));
	EXPECT_TRUE(report_gate_open(10 * sec, 40 * sec));
}
