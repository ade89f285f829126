#include "timing/audio-allowance.h"
#include "timing/smooth-delay.h"

#include "helpers/sound-steps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr int64_t ms = 1000000;
constexpr uint64_t sec = 1000000000ull;

/* The two entry points of the rules for sound: the allowance itself, and
 * "Smooth and in sync", which differs only in its pace of lowering. */
enum class Entry { allowance, sync };

/* A stream of audio blocks at chosen lateness, recording what would be handed
 * to OBS: timestamp (design time + shift) and the frames left after a cut. */
struct Stream {
	explicit Stream(Entry e = Entry::allowance) : entry(e) {}
	Stream(const Stream &) = delete;

	Entry entry;
	AudioAllowance own = {};
	SmoothDelay sync = {};
	/* The rules' record, whichever entry point feeds it. */
	AudioAllowance &a = entry == Entry::sync ? sync.timing : own;
	uint32_t rate = 48000;
	uint32_t frames = 1024;
	uint64_t t0 = 1000 * sec;
	uint64_t index = 0;
	uint64_t now = 0;
	int64_t clock = 0; /* a step of the audio clock, added to every design time from now on */

	struct Handed {
		uint64_t pts;
		uint32_t frames;
	};
	std::vector<Handed> handed;

	uint64_t design_time(uint64_t i) const { return t0 + i * frames * sec / rate; }

	AllowanceVerdict block(int64_t lateness)
	{
		uint64_t design = design_time(index++) + (uint64_t)clock;
		now = design + (uint64_t)lateness;
		AllowanceVerdict v = entry == Entry::sync ? smooth_delay_audio(&sync, design, now, frames, rate)
							  : audio_allowance_block(&a, design, now, frames, rate);
		if (v.deliver)
			handed.push_back({design + (uint64_t)v.shift, frames - v.cut_frames});
		return v;
	}

	/* Blocks at `lateness` until the stream's time has moved on by `span`. */
	void run(int64_t lateness, uint64_t span)
	{
		uint64_t end = design_time(index) + span;
		while (design_time(index) < end)
			block(lateness);
	}

	size_t handed_count() const { return handed.size(); }

	/* Signed step between the end of handed block i-1 and the start of i. */
	int64_t step(size_t i) const
	{
		const Handed &p = handed[i - 1];
		return (int64_t)(handed[i].pts - (p.pts + (uint64_t)p.frames * sec / rate));
	}
};

/* The pace of lowering each entry point must keep: 20 ms a second either way,
 * the mode's in small steps (each picture moves by at most one). */
struct Pace {
	int64_t step;
	uint64_t gap;
};
Pace pace_of(Entry e)
{
	return e == Entry::sync ? Pace{2 * ms, sec / 10} : Pace{20 * ms, sec};
}

/* Each rule for sound, through both entry points. */
class AllowanceRules : public ::testing::TestWithParam<Entry> {};

} // namespace

INSTANTIATE_TEST_SUITE_P(BothEntryPoints, AllowanceRules, ::testing::Values(Entry::allowance, Entry::sync),
			 [](const ::testing::TestParamInfo<Entry> &i) {
				 return std::string(i.param == Entry::sync ? "SmoothSync" : "Allowance");
			 });

TEST_P(AllowanceRules, SteadyStreamKeepsTodaysTiming)
{
	Stream s(GetParam());
	/* Small wobble either way, and once late by all the slack allows. */
	for (int i = 0; i < 3000; i++) {
		int64_t late = (i % 7) * ms - 3 * ms;
		if (i == 1500)
			late = 40 * ms;
		AllowanceVerdict v = s.block(late);
		ASSERT_TRUE(v.deliver);
		ASSERT_EQ(v.shift, 0);
		ASSERT_EQ(v.cut_frames, 0u);
		ASSERT_FALSE(v.report);
	}
	EXPECT_EQ(s.a.allowance, 0);
	EXPECT_EQ(s.handed.size(), 3000u);
	expect_continuous(s, 1);
}

TEST_P(AllowanceRules, FirstBlockLateBeyondFiveMsRaises)
{
	Stream in(GetParam());
	in.block(5 * ms);
	EXPECT_EQ(in.a.allowance, 0);

	Stream out(GetParam());
	AllowanceVerdict v = out.block(5 * ms + 1);
	/* 25 ms rounded up to 10 ms; the first block needs no minimum step. */
	EXPECT_EQ(out.a.allowance, 30 * ms);
	EXPECT_EQ(v.shift, 30 * ms);
	EXPECT_TRUE(v.report);
}

TEST_P(AllowanceRules, RaiseLimitsAndSizes)
{
	struct Row {
		int64_t before_late; /* lateness of a block that sets the allowance first (0: none) */
		int64_t late;
		int64_t expect;
	};
	const Row rows[] = {
		{0, 40 * ms, 0},                    /* covered exactly */
		{0, 40 * ms + 1, 80 * ms},          /* just past: the minimum step */
		{0, 150 * ms, 170 * ms},            /* lateness + headroom, already whole */
		{0, 150 * ms + 1, 180 * ms},        /* rounded up */
		{150 * ms, 210 * ms, 170 * ms},     /* covered by 170 + 40 */
		{150 * ms, 210 * ms + 1, 250 * ms}, /* 240 would be a step under 80 */
		{150 * ms, 260 * ms, 280 * ms},     /* a step over 80 */
		{0, 480 * ms, 500 * ms},            /* the bound exactly */
		{0, 480 * ms + 1, 500 * ms},        /* held at the bound */
	};
	for (const Row &r : rows) {
		Stream s(GetParam());
		s.block(0);
		if (r.before_late)
			s.block(r.before_late);
		AllowanceVerdict v = s.block(r.late);
		EXPECT_TRUE(v.deliver) << r.late;
		EXPECT_EQ(s.a.allowance, r.expect) << r.late;
		EXPECT_EQ(v.shift, r.expect) << r.late;
	}
}

TEST_P(AllowanceRules, RaiseJumpsPastObsContinuityLimitAheadOfArrival)
{
	Stream s(GetParam());
	s.run(0, 2 * sec);
	size_t at = s.handed.size();
	s.block(60 * ms);
	s.run(0, 1 * sec);
	/* OBS places a block whose timestamp moves by 70 ms or more from the
	 * expected one; the raised one starts after its own arrival. */
	EXPECT_EQ(s.step(at), 80 * ms);
	EXPECT_GE(s.design_time(at) + (uint64_t)s.a.allowance, s.design_time(at) + 60 * ms + 20 * ms);
	expect_continuous(s, 1, {at});
}

TEST_P(AllowanceRules, PastTheBoundBlocksAreDroppedUntilOneIsInTime)
{
	Stream s(GetParam());
	s.block(0);
	EXPECT_TRUE(s.block(540 * ms).deliver); /* bound + slack */
	EXPECT_EQ(s.a.allowance, 500 * ms);

	Stream t(GetParam());
	t.block(0);
	AllowanceVerdict v = t.block(540 * ms + 1);
	EXPECT_FALSE(v.deliver);
	EXPECT_EQ(t.a.allowance, 500 * ms);
	EXPECT_FALSE(t.block(500 * ms + 1).deliver); /* still behind */
	EXPECT_TRUE(t.block(500 * ms).deliver);
	EXPECT_TRUE(t.block(520 * ms).deliver); /* back to the usual slack */
	EXPECT_EQ(t.a.dropped_blocks, 2u);
	EXPECT_EQ(t.a.allowance, 500 * ms);
}

TEST_P(AllowanceRules, ClockStepsNeverTakeItPastTheBound)
{
	struct Row {
		int64_t clock_step;
		int64_t expect_allowance;
		int64_t expect_step;
	};
	const Row rows[] = {
		{-20 * ms, 500 * ms, 0},                /* up to the bound exactly: absorbed */
		{-20 * ms - 1, 480 * ms, -20 * ms - 1}, /* just past it: goes through */
	};
	for (const Row &r : rows) {
		Stream s(GetParam());
		s.block(0);
		s.block(460 * ms); /* to 480 ms */
		ASSERT_EQ(s.a.allowance, 480 * ms);
		s.clock += r.clock_step;
		size_t i = s.handed.size();
		s.block(0);
		EXPECT_NEAR(s.a.allowance, r.expect_allowance, 2) << r.clock_step;
		EXPECT_NEAR(s.step(i), r.expect_step, 2) << r.clock_step;
	}
}

TEST_P(AllowanceRules, LowersOnlyAfterTwentyQuietSeconds)
{
	/* Raised to 100 ms; then blocks late by `quiet_late` until `wait`; the
	 * lowering that starts then, at the entry point's pace (-1: none). */
	struct Row {
		int64_t quiet_late;
		uint64_t wait;
		int64_t expect_target;
	};
	const Row rows[] = {
		{60 * ms, 20 * sec, 80 * ms}, /* needed 60 + 20: lowered by 20 */
		{60 * ms + 1, 20 * sec, -1},  /* needed 90: not worth a cut, kept */
		{60 * ms, 20 * sec - 1, -1},  /* not quiet for long enough */
	};
	for (const Row &r : rows) {
		Stream s(GetParam());
		s.block(0);
		s.block(80 * ms);
		ASSERT_EQ(s.a.allowance, 100 * ms);
		uint64_t raised_at = s.now;
		/* Blocks whose arrival stays before raised_at + wait. */
		while (s.design_time(s.index) + (uint64_t)r.quiet_late < raised_at + r.wait)
			s.block(r.quiet_late);
		/* One more block arriving exactly at raised_at + wait. */
		uint64_t design = s.design_time(s.index);
		int64_t late = (int64_t)(raised_at + r.wait - design);
		if (late <= r.quiet_late)
			s.block(late);
		EXPECT_EQ(s.a.lower_to, r.expect_target) << r.quiet_late << " " << r.wait;
		int64_t first_step =
			r.expect_target < 0 ? 0 : std::min(pace_of(GetParam()).step, 100 * ms - r.expect_target);
		EXPECT_EQ(s.a.allowance, 100 * ms - first_step) << r.quiet_late << " " << r.wait;
	}
}

TEST_P(AllowanceRules, LoweringCutsAudioAtItsPaceAndKeepsTimestampsContinuous)
{
	Stream s(GetParam());
	s.run(0, 1 * sec);
	size_t raised = s.handed.size();
	s.block(190 * ms); /* to 210 ms */
	ASSERT_EQ(s.a.allowance, 210 * ms);
	uint64_t raised_at = s.now;
	const Pace pace = pace_of(GetParam());
	const uint32_t step_frames = (uint32_t)(pace.step * s.rate / (int64_t)sec);
	std::vector<uint64_t> cut_times;
	uint32_t cut = 0;
	while (s.design_time(s.index) < raised_at + 40 * sec) {
		AllowanceVerdict v = s.block(0);
		if (v.cut_frames) {
			EXPECT_LE(v.cut_frames, step_frames);
			cut_times.push_back(s.now);
		}
		cut += v.cut_frames;
	}
	/* 20 s quiet needed 0 + 20 ms: 190 ms cut, a step at a time. */
	EXPECT_EQ(s.a.allowance, 20 * ms);
	EXPECT_EQ(cut, 190u * 48u);
	ASSERT_EQ(cut_times.size(), (size_t)((190 * ms + pace.step - 1) / pace.step));
	EXPECT_GE(cut_times[0], raised_at + 20 * sec);
	for (size_t i = 1; i < cut_times.size(); i++)
		EXPECT_GE(cut_times[i] - cut_times[i - 1], pace.gap);
	expect_continuous(s, 1, {raised});

	/* Early blocks bring it back to 0, today's timing, and it stays there. */
	s.run(-30 * ms, 45 * sec);
	EXPECT_EQ(s.a.allowance, 0);
	size_t at_zero = s.handed.size();
	s.run(0, 30 * sec);
	EXPECT_EQ(s.a.allowance, 0);
	for (size_t i = at_zero; i < s.handed.size(); i++)
		EXPECT_EQ(s.handed[i].frames, s.frames);
}

TEST_P(AllowanceRules, ARaiseStopsALoweringUnderWay)
{
	/* Raised to 210 ms, then quiet: 2 s into the lowering towards 20 ms, one
	 * block late by `over` past the allowance of that moment; then 19 s of
	 * blocks in time. */
	struct Row {
		int64_t over;
		bool raises;
	};
	const Row rows[] = {
		{COVER_SLACK, false},    /* covered: the lowering goes on to its end */
		{COVER_SLACK + 1, true}, /* a raise: the lowering is over, the raised allowance kept */
	};
	for (const Row &r : rows) {
		Stream s(GetParam());
		s.block(0);
		s.block(190 * ms);
		ASSERT_EQ(s.a.allowance, 210 * ms);
		s.run(0, 22 * sec);
		const int64_t during = s.a.allowance;
		ASSERT_LT(during, 210 * ms);
		ASSERT_GT(during, 20 * ms);
		s.block(during + r.over);
		size_t after = s.handed.size();
		s.run(0, 19 * sec);
		EXPECT_EQ(s.a.allowance, r.raises ? during + RAISE_MIN_STEP : 20 * ms) << r.over;
		if (!r.raises)
			continue;
		for (size_t i = after; i < s.handed.size(); i++)
			ASSERT_EQ(s.handed[i].frames, s.frames) << i;
		/* What raised it is covered now. */
		s.block(during + r.over);
		EXPECT_EQ(s.a.allowance, during + RAISE_MIN_STEP);
	}
}

TEST(AudioAllowance, LoweringSpreadsOverBlocksShorterThanTheStep)
{
	Stream s;
	s.frames = 256;
	s.block(0);
	s.block(80 * ms);
	s.run(0, 20 * sec + 200 * ms);
	EXPECT_EQ(s.a.allowance, 80 * ms);
	uint32_t cut = 0;
	for (const Stream::Handed &h : s.handed) {
		EXPECT_GE(h.frames, 1u);
		cut += s.frames - h.frames;
	}
	EXPECT_EQ(cut, 960u);
	expect_continuous(s, 2);
}

TEST_P(AllowanceRules, ReportsAChangeAtMostOnceInFiveSeconds)
{
	Stream s(GetParam());
	s.block(0);
	EXPECT_TRUE(s.block(60 * ms).report);
	uint64_t reported = s.now;
	/* A second change soon after waits for the gap to pass. */
	bool early = false;
	while (s.design_time(s.index) < reported + 2 * sec)
		early |= s.block(0).report;
	early |= s.block(150 * ms).report;
	while (s.design_time(s.index) + 1 < reported + 5 * sec)
		early |= s.block(0).report;
	EXPECT_FALSE(early);
	/* A block arriving exactly 5 s after the report brings it. */
	uint64_t design = s.design_time(s.index);
	EXPECT_TRUE(s.block((int64_t)(reported + 5 * sec - design)).report);
	EXPECT_FALSE(s.block(0).report);
}

TEST(AudioAllowance, ResetForgetsTheStream)
{
	Stream s;
	s.block(0);
	s.block(300 * ms);
	audio_allowance_reset(&s.a);
	EXPECT_EQ(s.a.allowance, 0);
	EXPECT_FALSE(s.a.started);
	EXPECT_EQ(s.block(4 * ms).shift, 0);
}

TEST_P(AllowanceRules, ClockStepsGoIntoTheAllowanceOnlyWhileItIsRaised)
{
	Stream s(GetParam());
	s.run(0, 1 * sec);
	/* At 0 the audio clock's step reaches OBS as it is. */
	size_t at = s.handed.size();
	s.clock -= 4 * ms;
	s.block(0);
	EXPECT_EQ(s.step(at), -4 * ms);
	EXPECT_EQ(s.a.allowance, 0);

	s.block(60 * ms);
	ASSERT_EQ(s.a.allowance, 80 * ms);
	size_t raised = s.handed.size();
	struct Row {
		int64_t clock_step;
		int64_t expect_allowance;
		int64_t expect_step; /* in the handed timestamps */
	};
	constexpr int64_t us = 1000;
	const Row rows[] = {
		{-4 * ms, 84 * ms, 0},                   /* 1: absorbed */
		{70 * ms - 1, 14 * ms + 1, 0},           /* 2: just inside OBS's snap */
		{70 * ms, 14 * ms + 1, 70 * ms},         /* 3: just outside: OBS places it, kept */
		{-70 * ms + 1, 84 * ms, 0},              /* 4: the same downwards */
		{-70 * ms, 84 * ms, -70 * ms},           /* 5 */
		{10 * us - 2, 84 * ms, 10 * us - 2},     /* 6: rounding of microseconds, left */
		{10 * us + 2, 84 * ms - 10 * us - 2, 0}, /* 7: a step */
		{60 * ms, 24 * ms - 10 * us - 2, 0},     /* 8 */
		{24 * ms - 11 * us, 1 * us - 2, 0},      /* 9: down to just above 0 */
		{1 * ms, 0, 1 * ms - 1 * us + 2},        /* 10: past 0: stops there, the rest goes through */
		{-3 * ms, 0, -3 * ms},                   /* 11: at 0: untouched */
	};
	for (const Row &r : rows) {
		s.clock += r.clock_step;
		size_t i = s.handed.size();
		s.block(0);
		/* Design times are whole nanoseconds: each may be 1 ns off. */
		EXPECT_NEAR(s.a.allowance, r.expect_allowance, 2) << r.clock_step;
		EXPECT_NEAR(s.step(i), r.expect_step, 2) << r.clock_step;
	}
	/* Row k is handed block raised + k - 1. */
	expect_continuous(s, raised, {raised + 2, raised + 4, raised + 5, raised + 9, raised + 10});
}
