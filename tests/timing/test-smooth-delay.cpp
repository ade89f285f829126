#include "timing/smooth-delay.h"

#include "helpers/sound-steps.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr int64_t ms = 1000000;
constexpr uint64_t sec = 1000000000ull;

/* Pictures at 30 fps and sound blocks of 1024 frames at 48 kHz on one sender
 * timeline, each received at a chosen lateness, fed in the order of their
 * times. Records what is handed to OBS: sound timestamps (after cuts) and
 * picture presentation times. */
struct Stream {
	SmoothDelay s = {};
	uint32_t rate = 48000;
	uint32_t frames = 1024;
	uint64_t t0 = 1000 * sec;
	uint64_t pic = 0;  /* pictures fed */
	uint64_t blk = 0;  /* blocks fed */
	int64_t clock = 0; /* a step of the audio clock, added to every time from now on */
	bool sound = true; /* feed sound blocks too */
	uint64_t now = 0;

	struct Sound {
		uint64_t t; /* its time on the timeline (before the clock step) */
		uint64_t pts;
		uint32_t frames;
	};
	struct Picture {
		uint64_t t;
		uint64_t at;
	};
	std::vector<Sound> sounds;
	std::vector<Picture> pictures;

	uint64_t pic_time(uint64_t i) const { return t0 + i * sec / 30; }
	uint64_t blk_time(uint64_t i) const { return t0 + i * frames * sec / rate; }

	SmoothPicture picture(int64_t lateness)
	{
		uint64_t t = pic_time(pic++) + (uint64_t)clock;
		now = t + (uint64_t)lateness;
		SmoothPicture p = smooth_delay_picture(&s, t, now);
		pictures.push_back({t - (uint64_t)clock, p.present_at});
		return p;
	}

	AllowanceVerdict block(int64_t lateness)
	{
		uint64_t t = blk_time(blk++) + (uint64_t)clock;
		now = t + (uint64_t)lateness;
		AllowanceVerdict v = smooth_delay_audio(&s, t, now, frames, rate);
		if (v.deliver)
			sounds.push_back({t - (uint64_t)clock, t + (uint64_t)v.shift, frames - v.cut_frames});
		return v;
	}

	/* Pictures and blocks in time order, at `pic_late` and `blk_late`,
	 * until the timeline has moved on by `span`. */
	void run(int64_t pic_late, int64_t blk_late, uint64_t span)
	{
		uint64_t end = (sound ? blk_time(blk) : pic_time(pic)) + span;
		for (;;) {
			bool next_pic = !sound || pic_time(pic) <= blk_time(blk);
			uint64_t t = next_pic ? pic_time(pic) : blk_time(blk);
			if (t >= end)
				return;
			if (next_pic)
				picture(pic_late);
			else
				block(blk_late);
		}
	}

	size_t handed_count() const { return sounds.size(); }

	/* Signed step between the end of handed block i-1 and the start of i. */
	int64_t step(size_t i) const
	{
		const Sound &p = sounds[i - 1];
		return (int64_t)(sounds[i].pts - (p.pts + (uint64_t)p.frames * sec / rate));
	}

	/* Where OBS plays the sound that was taken at timeline time t, from the
	 * last block handed on that holds it (a cut block starts later). */
	int64_t sound_offset(uint64_t t) const
	{
		for (size_t i = sounds.size(); i-- > 0;) {
			const Sound &b = sounds[i];
			uint64_t len = (uint64_t)frames * sec / rate;
			if (t >= b.t && t < b.t + len) {
				uint64_t cut_ns = (uint64_t)(frames - b.frames) * sec / rate;
				return (int64_t)(b.pts - cut_ns - b.t);
			}
		}
		return INT64_MIN;
	}
};

/* Each picture is presented at its time plus the same delay as the sound
 * taken at its time, within `slack`, from picture `from` on. */
void expect_in_sync(const Stream &st, size_t from, int64_t slack)
{
	for (size_t i = from; i < st.pictures.size(); i++) {
		const Stream::Picture &p = st.pictures[i];
		int64_t sound = st.sound_offset(p.t);
		if (sound == INT64_MIN)
			continue;
		EXPECT_LE(std::llabs((int64_t)(p.at - p.t) - sound), slack) << "picture " << i;
	}
}

} // namespace

TEST(SmoothDelay, PicturesAndSoundShareOneTimeline)
{
	/* Sound comes 60 ms late (encoded after the pictures), pictures 5 ms. */
	Stream st;
	st.run(5 * ms, 60 * ms, 30 * sec);
	ASSERT_FALSE(st.sounds.empty());
	/* The first picture raised the delay to 5 + 10 + 20 ms, rounded up; the
	 * first block, which OBS places at its own time, to 60 + 20 ms; every
	 * picture after it follows. */
	EXPECT_EQ(st.s.timing.allowance, 80 * ms);
	EXPECT_EQ(st.pictures[0].at, st.pictures[0].t + (uint64_t)40 * ms);
	for (size_t i = 1; i < st.pictures.size(); i++)
		ASSERT_EQ(st.pictures[i].at, st.pictures[i].t + (uint64_t)80 * ms) << i;
	expect_in_sync(st, 1, 0);
	expect_continuous(st, 1);
	/* Quiet for 20 s, but 60 + 20 ms needs all of it: no lowering. */
	EXPECT_EQ(st.s.timing.lower_to, -1);
}

TEST(SmoothDelay, PictureRaiseLimitsAndSizes)
{
	/* Delay set to 100 ms by a first block 80 ms late (or taken over from an
	 * allowance, no block handed on); then one picture at `late`. */
	struct Row {
		bool sound_before; /* a block handed on before: the 80 ms minimum step */
		int64_t late;
		int64_t expect;
	};
	const Row rows[] = {
		{true, 90 * ms, 100 * ms},       /* lateness + 10 ms covered exactly */
		{true, 90 * ms + 1, 180 * ms},   /* just past: 130 ms, at least 80 ms more */
		{false, 90 * ms + 1, 130 * ms},  /* no sound yet: no minimum step */
		{false, 120 * ms, 150 * ms},     /* lateness + 10 + 20, already whole */
		{true, 470 * ms, 500 * ms},      /* the bound exactly */
		{true, 700 * ms, 500 * ms},      /* held at the bound, shown at once */
		{true, -400 * ms, 100 * ms},     /* 500 ms ahead of its arrival: waits */
		{true, -400 * ms - 1, 100 * ms}, /* further: the clock jumped, at once */
	};
	for (const Row &r : rows) {
		Stream st;
		if (r.sound_before) {
			st.block(80 * ms);
		} else {
			st.sound = false;
			AudioAllowance a = {};
			a.allowance = 100 * ms;
			a.started = true;
			smooth_delay_start(&st.s, &a, 0);
		}
		ASSERT_EQ(st.s.timing.allowance, 100 * ms);
		SmoothPicture p = st.picture(r.late);
		EXPECT_EQ(st.s.timing.allowance, r.expect) << r.sound_before << " " << r.late;
		/* At its time + delay, never before it was received. */
		uint64_t want = st.pictures.back().t + (uint64_t)r.expect;
		if (want < st.now || want - st.now > 500 * ms)
			want = st.now;
		EXPECT_EQ(p.present_at, want) << r.late;
	}
}
TEST(SmoothDelay, FirstBlockAfterPicturesKeepsTheFirstBlocksSlack)
{
	/* A picture came first (30 ms for it) and its sound trails it, as from
	 * a phone that encodes its sound after its pictures. */
	struct Row {
		int64_t late;
		int64_t expect;
	} rows[] = {
		{35 * ms, 30 * ms},
		{35 * ms + 1, 60 * ms},
	};
	for (const Row &r : rows) {
		Stream st;
		st.picture(0);
		AllowanceVerdict v = st.block(r.late);
		EXPECT_EQ(st.s.timing.allowance, r.expect) << r.late;
		EXPECT_EQ(v.shift, r.expect) << r.late;
	}
}
TEST(SmoothDelay, RaiseKeepsPicturesInOrderAndSoundWithThem)
{
	Stream st;
	st.run(0, 20 * ms, 3 * sec);
	size_t p0 = st.pictures.size();
	size_t at = st.sounds.size();
	st.block(150 * ms); /* a spike */
	st.run(0, 20 * ms, 3 * sec);
	EXPECT_EQ(st.s.timing.allowance, 170 * ms); /* 150 + 20, more than 30 + 80 */
	/* The raised block jumps past OBS's continuity limit; the sound goes on
	 * continuous after it. */
	EXPECT_GE(st.step(at), SNAP_LIMIT);
	expect_continuous(st, 1, {at});
	for (size_t i = 1; i < st.pictures.size(); i++)
		EXPECT_GT(st.pictures[i].at, st.pictures[i - 1].at) << i;
	expect_in_sync(st, p0 + 1, 0);
}

TEST(SmoothDelay, LowersGraduallyAfterTwentyQuietSeconds)
{
	/* Raised to 150 ms by a spike; then pictures and sound at `late` for
	 * `wait`. Needs: sound late, picture late + 10 ms; then + 20, rounded. */
	struct Row {
		int64_t late;
		uint64_t wait;
		int64_t expect;
	};
	const Row rows[] = {
		{20 * ms, 20 * sec - 50 * ms, 150 * ms}, /* not yet 20 s quiet */
		{20 * ms, 40 * sec, 50 * ms},            /* 20 + 10 + 20 */
		{100 * ms, 40 * sec, 130 * ms},          /* 130 <= 150 - 20: worth it */
		{100 * ms + 1, 40 * sec, 150 * ms},      /* 140 is not */
	};
	for (const Row &r : rows) {
		Stream st;
		st.block(0);
		st.block(130 * ms);
		ASSERT_EQ(st.s.timing.allowance, 150 * ms);
		st.pic = 2; /* the first picture after those two blocks */
		size_t b0 = st.sounds.size();
		size_t p0 = st.pictures.size();
		st.run(r.late, r.late, r.wait);
		EXPECT_EQ(st.s.timing.allowance, r.expect) << r.late << " " << r.wait;
		/* Timestamps continuous, no cut over 2 ms, no picture over 2 ms
		 * early against the one before, sound and pictures together within
		 * 2 ms all along. */
		expect_continuous(st, b0 + 1);
		for (size_t i = b0; i < st.sounds.size(); i++)
			ASSERT_LE(st.frames - st.sounds[i].frames, (uint32_t)(SMOOTH_CUT_STEP * st.rate / sec)) << i;
		for (size_t i = p0 + 1; i < st.pictures.size(); i++) {
			int64_t gap = (int64_t)(st.pictures[i].at - st.pictures[i - 1].at);
			ASSERT_GE(gap, (int64_t)(sec / 30) - SMOOTH_CUT_STEP - 1000) << i;
		}
		expect_in_sync(st, p0, SMOOTH_CUT_STEP);
	}
}

TEST(SmoothDelay, WithoutSoundPicturesLowerTheDelayThemselves)
{
	Stream st;
	st.sound = false;
	st.picture(190 * ms); /* 190 + 10 + 20 */
	ASSERT_EQ(st.s.timing.allowance, 220 * ms);
	st.run(0, 0, 40 * sec);
	EXPECT_EQ(st.s.timing.allowance, 30 * ms); /* 0 + 10 + 20 */
	for (size_t i = 2; i < st.pictures.size(); i++) {
		int64_t gap = (int64_t)(st.pictures[i].at - st.pictures[i - 1].at);
		ASSERT_GE(gap, (int64_t)(sec / 30) - SMOOTH_CUT_STEP - 1) << i;
	}
}

TEST(SmoothDelay, ClockStepsMoveTheDelayNotTheSound)
{
	struct Row {
		int64_t clock_step;
		int64_t expect_delay;
		int64_t expect_step;
	};
	const Row rows[] = {
		{4 * ms, 96 * ms, 0},                       /* taken into the delay */
		{-4 * ms, 104 * ms, 0},                     /* either way */
		{59 * ms, 41 * ms, 0},                      /* sound then still covered */
		{70 * ms, 100 * ms, 70 * ms},               /* OBS places it: goes through */
		{STEP_FLOOR - 2, 100 * ms, STEP_FLOOR - 2}, /* rounding of microseconds */
		{150 * ms, 100 * ms, 150 * ms},             /* past the snap: goes through */
	};
	for (const Row &r : rows) {
		Stream st;
		st.block(80 * ms);
		st.run(0, 80 * ms, 1 * sec);
		ASSERT_EQ(st.s.timing.allowance, 100 * ms);
		st.clock += r.clock_step;
		size_t i = st.sounds.size();
		size_t p = st.pictures.size();
		st.run(0, 80 * ms, 1 * sec);
		EXPECT_NEAR(st.s.timing.allowance, r.expect_delay, 2) << r.clock_step;
		EXPECT_NEAR(st.step(i), r.expect_step, 2) << r.clock_step;
		/* The step reaches the pictures with the next block. */
		if (r.expect_step == 0)
			expect_in_sync(st, p + 1, 2);
	}
}

TEST(SmoothDelay, SwitchMidStreamKeepsTheSoundContinuous)
{
	/* The allowance at 110 ms, as over a jittering link. */
	AudioAllowance a = {};
	uint64_t t0 = 1000 * sec, len = 1024 * sec / 48000;
	uint64_t last_end = 0;
	auto feed = [&](uint64_t i, int64_t late) {
		AllowanceVerdict v =
			audio_allowance_block(&a, t0 + i * len, t0 + i * len + (uint64_t)late, 1024, 48000);
		last_end = t0 + i * len + (uint64_t)v.shift + len;
	};
	feed(0, 0);
	feed(1, 90 * ms);
	for (uint64_t i = 2; i < 100; i++)
		feed(i, 20 * ms);
	ASSERT_EQ(a.allowance, 110 * ms);

	/* On: the same delay, the next block exactly where the last one ended. */
	Stream st;
	st.t0 = t0;
	st.blk = 100;
	st.pic = (100 * len) * 30 / sec + 1;
	smooth_delay_start(&st.s, &a, t0 + 100 * len);
	EXPECT_EQ(st.s.timing.allowance, 110 * ms);
	AllowanceVerdict v = st.block(20 * ms);
	EXPECT_NEAR((int64_t)(st.sounds.back().pts - last_end), 0, 1000);
	EXPECT_TRUE(v.report); /* the panel and log learn the delay */
	st.run(0, 20 * ms, 2 * sec);
	expect_in_sync(st, 0, 0);

	/* Off: the allowance goes on from there, continuous too. */
	AudioAllowance back = a;
	smooth_delay_stop(&st.s, &back, st.now);
	EXPECT_EQ(back.allowance, st.s.timing.allowance);
	const Stream::Sound &last = st.sounds.back();
	uint64_t i = st.blk;
	AllowanceVerdict w = audio_allowance_block(&back, t0 + i * len, t0 + i * len + (uint64_t)20 * ms, 1024, 48000);
	EXPECT_NEAR((int64_t)(t0 + i * len + (uint64_t)w.shift - (last.pts + len)), 0, 1000);
	EXPECT_EQ(back.lower_to, -1);
	EXPECT_FALSE(back.dropping);

	/* Off before any sound: the allowance's first block is still a first. */
	Stream pictures_only;
	pictures_only.picture(0);
	AudioAllowance fresh = {};
	smooth_delay_stop(&pictures_only.s, &fresh, pictures_only.now);
	EXPECT_FALSE(fresh.started);
}

TEST(SmoothDelay, HandoverAimsAtTheNearestTickAfterTheLastPicture)
{
	const uint64_t tick = 1000 * sec, iv = 33333333, half = iv / 2;
	const uint64_t t1 = tick + iv, t2 = tick + 2 * iv; /* the ticks to come */
	const uint64_t poll = TICK_POLL_NS;
	const uint32_t run = LATE_RUN_MAX;
	const uint64_t wait = OBS_WAIT_MAX;
	struct Row {
		uint64_t at, last;
		uint32_t late_run;
		uint64_t now;
		Handover expect;
		bool behind = false;
	};
	const Row rows[] = {
		{t1 + 5 * ms, 0, 0, tick, {t1 - half, false}},        /* nothing handed on yet */
		{t1 + half, 0, 0, tick, {t1 - half, false}},          /* half a tick after a tick: that tick */
		{t1 + half + 1, 0, 0, tick, {t2 - half, false}},      /* just past it: the next */
		{tick + half, 0, 0, tick, {t1 - half, true}},         /* its tick has come: the next, late */
		{tick + half + 1, 0, 0, tick, {t1 - half, false}},    /* the next is its own */
		{t1 + 5 * ms, tick - 1, 0, tick, {t1 - half, false}}, /* the picture before went at the tick */
		{t1 + 5 * ms, tick, 0, tick, {t2 - half, true}},      /* handed on at the tick: it has t1 */
		{t1 + 5 * ms, tick + 5 * ms, run - 1, tick, {t2 - half, true}},     /* late, the run goes on */
		{t1 + 5 * ms, tick + 5 * ms, run, t1 - half, {t1 - half, false}},   /* a run too long: its own tick */
		{t1 + 5 * ms, t1 + 1, 0, t1 - half, {t2 + iv - half, true}},        /* ticks not seen yet: it has t2 */
		{t2 + 5 * ms, tick + 5 * ms, 0, t2 - half - 1, {t2 - half, false}}, /* the picture before has t1 */
		{t2 + 5 * ms, tick + 5 * ms, 0, t2 - half, {t2 - half + poll, false}}, /* t1 late: it waits */
		{t2 + 5 * ms, tick + 5 * ms, 0, t2 - poll, {t2, false}},               /* in time for its tick */
		{t2 + 5 * ms, tick + 5 * ms, 0, t2 - poll + 1, {t2 + 1, true}},        /* past it: late */
		{t2 + 5 * ms,
		 tick + 5 * ms,
		 0,
		 t2 + 5 * ms + wait - 1,
		 {t2 + 5 * ms + wait - 1 + poll, true}},                                 /* up to the most */
		{t2 + 5 * ms, tick + 5 * ms, 0, t2 + 5 * ms + wait, {t2 - half, false}}, /* then no more waiting */
		{t1 + 5 * ms,
		 tick + 5 * ms,
		 run,
		 t1 - half,
		 {t2 - half, true},
		 true}, /* behind for OBS: a tick late, any run */
	};
	for (const Row &r : rows) {
		HandoverState h = {r.last, r.late_run, r.behind, 0};
		Handover got = smooth_handover(r.at, &h, tick, iv, r.now);
		EXPECT_EQ(got.time, r.expect.time) << (int64_t)(r.at - tick) << " " << r.last << " " << r.now;
		EXPECT_EQ(got.late, r.expect.late) << (int64_t)(r.at - tick) << " " << r.last << " " << r.now;
	}
	/* A run behind OBS's late ticks longer than a run of the stream's own
	 * may be grows the delay by a tick, by the rules of a raise. */
	for (uint32_t behind_run : {run, run + 1}) {
		SmoothDelay s;
		s.timing.allowance = 60 * ms;
		s.timing.continuing = true;
		EXPECT_EQ(smooth_delay_behind_obs(&s, behind_run, iv, tick), behind_run > run) << behind_run;
		EXPECT_EQ(s.timing.allowance, behind_run > run ? 140 * ms : 60 * ms) << behind_run;
	}
	HandoverState none = {tick + 5 * ms, 0, false, 0};
	EXPECT_EQ(smooth_handover(tick + 10 * ms, &none, tick, 0, tick).time, tick + 10 * ms); /* no tick known */

	/* The run counts pictures shown late in a row, but for OBS's lateness; a
	 * picture handed on over half a tick after its plan waited for OBS. */
	HandoverState h = {0, 2, false, 0};
	smooth_handover_done(&h, Handover{t1, true, false}, t1 + 5, iv);
	EXPECT_EQ(h.last, t1 + 5);
	EXPECT_EQ(h.late_run, 3u);
	EXPECT_FALSE(h.behind);
	smooth_handover_done(&h, Handover{t1, false, false}, t1 + half + 1, iv);
	EXPECT_EQ(h.late_run, 0u);
	EXPECT_TRUE(h.behind);
	smooth_handover_done(&h, Handover{t1, true, true}, t1 + half, iv);
	EXPECT_EQ(h.late_run, 0u);
	EXPECT_TRUE(h.behind);
	EXPECT_EQ(h.behind_run, 1u);
}
