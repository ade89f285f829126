#include "timing/clock-sync.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr uint64_t ms = 1000000ull;
constexpr uint64_t sec = 1000000000ull;

/* Feeds pictures through both trackers at the test's own receive times. */
struct Feed {
	VideoClock video = {};
	AudioClock audio = {};
	uint64_t now = 1000 * sec;

	uint64_t picture(uint64_t sender_ns, int64_t *re_anchor = nullptr, bool *re = nullptr)
	{
		uint64_t ts = sender_ns;
		int64_t diff = transit_offset(now, ts);
		int64_t delta = 0;
		bool r = audio_clock_update(&audio, diff, now, &delta);
		if (re)
			*re = r;
		if (re_anchor)
			*re_anchor = delta;
		return video_clock_pts(&video, ts, diff, now);
	}
};

} // namespace

TEST(VideoClock, FirstPictureGetsReceiveTime)
{
	Feed f;
	EXPECT_EQ(f.picture(5 * sec), f.now);
	EXPECT_TRUE(f.video.video_offset_valid);
	EXPECT_TRUE(f.audio.clock_anchored);
	EXPECT_EQ(f.audio.clock_offset, (int64_t)(f.now - 5 * sec));
}

TEST(VideoClock, FasterTransitStepsDownByAtMost8ms)
{
	Feed f;
	uint64_t sender = 5 * sec;
	f.picture(sender);
	int64_t start = f.video.video_offset;

	/* diff falls by 20 ms and stays: 8, 8, then the last 4 ms. */
	int64_t expected[] = {start - 8 * (int64_t)ms, start - 16 * (int64_t)ms, start - 20 * (int64_t)ms,
			      start - 20 * (int64_t)ms};
	for (int64_t want : expected) {
		sender += 33 * ms;
		f.now += 33 * ms - 20 * ms;
		uint64_t pts = f.picture(sender);
		f.now += 20 * ms;
		EXPECT_EQ(f.video.video_offset, want);
		EXPECT_EQ(pts, sender + (uint64_t)want);
	}
}

TEST(VideoClock, SlowerTransitRisesBy4msEvery2s)
{
	Feed f;
	uint64_t sender = 5 * sec;
	f.picture(sender);
	int64_t start = f.video.video_offset;

	/* diff sits 10 ms above the offset from now on. */
	auto step = [&](uint64_t dt) {
		sender += dt;
		f.now += dt;
		return f.picture(sender - 10 * ms);
	};
	step(1 * sec);
	step(1 * sec - 1);
	EXPECT_EQ(f.video.video_offset, start); /* 1,999,999,999 ns: no step yet */
	step(1);
	EXPECT_EQ(f.video.video_offset, start + 4 * (int64_t)ms); /* 2 s: the step */
	step(2 * sec + 1);
	EXPECT_EQ(f.video.video_offset, start + 8 * (int64_t)ms);
	step(2 * sec + 1);
	EXPECT_EQ(f.video.video_offset, start + 12 * (int64_t)ms); /* past diff now */
	step(33 * ms);
	EXPECT_EQ(f.video.video_offset, start + 10 * (int64_t)ms); /* taken back to diff */
	/* That faster picture started the 2 s anew. */
	step(2 * sec - 23 * ms);
	EXPECT_EQ(f.video.video_offset, start + 10 * (int64_t)ms);
	step(23 * ms);
	EXPECT_EQ(f.video.video_offset, start + 14 * (int64_t)ms);
}

TEST(VideoClock, JumpOfMoreThan500msResets)
{
	Feed f;
	uint64_t sender = 5 * sec;
	f.picture(sender);

	/* The sender clock jumps forward by 600 ms: diff falls by 600 ms. */
	sender += 33 * ms + 600 * ms;
	f.now += 33 * ms;
	EXPECT_EQ(f.picture(sender), f.now);
	EXPECT_EQ(f.video.video_offset, transit_offset(f.now, sender));

	/* Exactly 500 ms away is not a reset. */
	sender += 33 * ms - 500 * ms;
	f.now += 33 * ms;
	int64_t before = f.video.video_offset;
	uint64_t pts = f.picture(sender);
	EXPECT_EQ(f.video.video_offset, before);
	EXPECT_EQ(pts, sender + (uint64_t)before);
}

TEST(AudioClock, MovesAtMost4msPerWindowAndReAnchorsBeyond500ms)
{
	AudioClock c = {};
	int64_t delta = 0;
	const uint64_t t0 = 100 * sec;
	EXPECT_FALSE(audio_clock_update(&c, 50 * ms, t0, &delta));
	EXPECT_EQ(c.clock_offset, 50 * (int64_t)ms);

	/* A window whose minimum is 30 ms lower moves the offset by only 4 ms,
	 * and only once 2 s have passed. */
	EXPECT_FALSE(audio_clock_update(&c, 20 * ms, t0 + 1 * sec, &delta));
	EXPECT_FALSE(audio_clock_update(&c, 40 * ms, t0 + 2 * sec - 1, &delta));
	EXPECT_EQ(c.clock_offset, 50 * (int64_t)ms);
	EXPECT_FALSE(audio_clock_update(&c, 40 * ms, t0 + 2 * sec, &delta));
	EXPECT_EQ(c.clock_offset, 46 * (int64_t)ms);
	EXPECT_EQ(c.offset_min, INT64_MAX);

	/* A minimum exactly 500 ms away does not re-anchor: it moves 4 ms. */
	EXPECT_FALSE(audio_clock_update(&c, 546 * ms, t0 + 4 * sec, &delta));
	EXPECT_EQ(c.clock_offset, 50 * (int64_t)ms);

	/* 600 ms lower: a re-anchor with the signed difference. */
	EXPECT_TRUE(audio_clock_update(&c, -550 * (int64_t)ms, t0 + 6 * sec, &delta));
	EXPECT_EQ(delta, -600 * (int64_t)ms);
	EXPECT_EQ(c.clock_offset, -550 * (int64_t)ms);
	EXPECT_EQ(audio_clock_pts(&c, 10 * sec), 10 * sec - 550 * ms);
}

TEST(ClockSync, UntrustedTimestampsNeverOverflow)
{
	/* Timestamps far past 2^63/1000 microseconds: the arithmetic wraps and
	 * the sanitizer build would stop on any signed overflow. */
	Feed f;
	uint64_t huge[] = {UINT64_MAX, UINT64_MAX / 2, (UINT64_MAX / 1000) + 1, 0, 1, UINT64_MAX - 12345};
	for (uint64_t us : huge) {
		f.now += 40 * ms;
		f.picture(sender_time_ns(us));
		f.now += 3 * sec;
		f.picture(sender_time_ns(us) + 3 * sec);
		(void)audio_clock_pts(&f.audio, sender_time_ns(us));
	}
	EXPECT_TRUE(f.video.video_offset_valid);
	EXPECT_EQ(sender_time_ns(UINT64_MAX), UINT64_MAX * 1000u);

	/* An offset at the bottom of its range, then a picture 100 ms faster:
	 * the 8 ms step down wraps instead of overflowing. */
	VideoClock video = {};
	int64_t low = INT64_MIN + 1000;
	(void)video_clock_pts(&video, 0, low, 0);
	int64_t faster = (int64_t)((uint64_t)low - 100 * ms);
	(void)video_clock_pts(&video, 0, faster, 40 * ms);
	EXPECT_EQ(video.video_offset, (int64_t)((uint64_t)low - 8 * ms));
}
