#include "helpers/receive-fixture.h"
#include "receive/held-pictures.h"

#include <algorithm>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
/* The sanitizers' allocator keeps its own count (GCC ships no header for it). */
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#else
#include <malloc.h>
#endif

namespace {

/* Bytes the process has allocated and not freed. */
size_t allocated_bytes()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
	return __sanitizer_get_current_allocated_bytes();
#else
	struct mallinfo2 info = mallinfo2();
	return info.uordblks + info.hblkhd;
#endif
}

/* "Smooth and in sync" in the receive loop: pictures held until their time
 * and handed to OBS so that its tick shows them. */
class SmoothPacingTest : public ReceiveFixture {};

class SmoothReconnectTest : public ReceiveFixture, public ::testing::WithParamInterface<size_t> {
public:
	void TearDown() override
	{
		smooth_pacing_decoded_hook = nullptr;
		ReceiveFixture::TearDown();
	}
	void leave_held_picture();
	void leave_decoded_picture();
	void leave_late_run();

	std::vector<media::Bytes> old = media::access_unit_payloads(media::read_fixture("yuv444.h264"));
};

} // namespace

/* With smooth and in sync on, a phone sending pictures near the size limit
 * cannot make the plug-in hold more than the held pictures' budget: the
 * oldest go to OBS early instead. Switched off mid-stream, every picture
 * still held goes to the decoder and OBS at once, in order. */
TEST_F(SmoothPacingTest, SmoothSyncHoldsLargePicturesWithinTheBudgetAndShowsEachOneInOrder)
{
	/* Ten of 3 MiB, then 7 MiB ones: room for one of those takes more than
	 * one small picture gone. A first small picture sets the clock, so the
	 * large ones are due 100 to 400 ms on. */
	const size_t count = 16;
	std::vector<media::Bytes> packets;
	uint64_t t = peer::now_us();
	packets.push_back(peer::packet(0x00, t, video[0]));
	for (size_t i = 0; i < count; i++) /* within the delay's bound */
		packets.push_back(peer::packet(0x00, t + 100000 + i * 20000,
					       padded(video[i % video.size()], (i < 10 ? 3u : 7u) << 20)));
	switch_smooth_sync(true);

	std::atomic<bool> sampling = true;
	size_t baseline = allocated_bytes(), peak = baseline;
	std::thread sampler([&] {
		while (sampling) {
			peak = std::max(peak, allocated_bytes());
			std::this_thread::sleep_for(1ms);
		}
	});
	for (const auto &packet : packets)
		ASSERT_TRUE(phone.send(packet));
	sync_with_caps();
	sampling = false;
	sampler.join();
	switch_smooth_sync(false); /* what was still held has gone to OBS */

	/* The held pictures' budget, the packet being read, the decoder's copy
	 * and parse of one packet, and one more for everything else; without the
	 * budget most of the sixteen large pictures were held at once here. */
	EXPECT_LE(peak - baseline, HELD_PICTURES_BUDGET + 4 * STREAM_MAX_PAYLOAD);
	/* Every picture went through the decoder to OBS; OBS shows at most one
	 * per tick, so the recorder sees them in order, some passed over. */
	EXPECT_EQ(status.frames_decoded, 1 + count);
	std::this_thread::sleep_for(1000ms);
	auto frames = recorder.frames();
	EXPECT_GE(frames.size(), count / 2);
	/* The known picture sequence: Y = 40 + 3n, after the first picture. */
	std::vector<uint8_t> sent = {40};
	for (size_t i = 0; i < count; i++)
		sent.push_back((uint8_t)(40 + 3 * (i % video.size())));
	size_t next = 0;
	for (size_t i = 0; i < frames.size(); i++) {
		while (next < sent.size() && frames[i].first_sample[0] != sent[next])
			next++;
		EXPECT_LT(next++, sent.size()) << "picture " << i << " out of order";
		if (i > 0) {
			EXPECT_GT(frames[i].timestamp, frames[i - 1].timestamp);
		}
	}
}

/* What one phone's connection leaves behind is none of the next one's: after
 * a reconnect OBS gets each of the new phone's pictures, and those only. */
struct Leftover {
	const char *name;
	void (*leave)(SmoothReconnectTest *test);
};

void SmoothReconnectTest::leave_held_picture()
{
	uint64_t t = peer::now_us();
	ASSERT_TRUE(send_video(old[0], t));
	ASSERT_TRUE(send_video(old[1], t + 400000)); /* held for about 400 ms */
	sync_with_caps();
	ASSERT_TRUE(recorder.wait_frames(1, 5000ms));
	phone.close();
	ASSERT_EQ(recorder.frames().size(), 1u) << "the second picture was to be held still";
}

/* The connection ends (a stop here) between a picture's decode and its
 * hand-over. */
void SmoothReconnectTest::leave_decoded_picture()
{
	smooth_pacing_decoded_hook = [](Receiver *decoding) {
		smooth_pacing_decoded_hook = nullptr;
		decoding->conn->running = false;
		plat_stop_raise(decoding->conn->stop);
	};
	ASSERT_TRUE(send_video(old[0], peer::now_us()));
	ASSERT_TRUE(wait_ended(5000ms));
	ASSERT_EQ(status.frames_decoded, 0u) << "the picture was to be decoded, not handed over";
}

/* Four pictures of one time: each after the first is shown a tick late. */
void SmoothReconnectTest::leave_late_run()
{
	uint64_t t = peer::now_us();
	for (size_t i = 0; i < 4; i++)
		ASSERT_TRUE(send_video(old[i % old.size()], t));
	ASSERT_TRUE(wait_until([&] { return status.frames_decoded == 4; }, 5000ms));
	std::this_thread::sleep_for(300ms); /* the last one's tick has come */
	phone.close();
}

const Leftover leftovers[] = {
	{"HeldPicture",
	 [](SmoothReconnectTest *test) {
		 test->leave_held_picture();
	 }},
	{"DecodedPicture",
	 [](SmoothReconnectTest *test) {
		 test->leave_decoded_picture();
	 }},
	{"LateRun",
	 [](SmoothReconnectTest *test) {
		 test->leave_late_run();
	 }},
};

TEST_P(SmoothReconnectTest, TheNextPhoneGetsNoneOfIt)
{
	ASSERT_EQ(old.size(), 2u);
	obs_source_set_async_unbuffered(sink, true); /* as the plug-in's sources are */
	/* Ticks 100 ms apart: OBS late by a whole one, which passes a picture
	 * over, is far from likely even on a busy machine. */
	reset_frame_rate(10);
	switch_smooth_sync(true);
	leftovers[GetParam()].leave(this);
	if (HasFatalFailure())
		return;
	reconnect();
	size_t before = recorder.frames().size();
	uint64_t decoded_before = status.frames_decoded;

	/* The first two of one time: both are shown, the second a tick late;
	 * the others two ticks apart. The first comes just after a tick of
	 * OBS's, so that it too is shown over half a tick after its time, as
	 * any picture can be. */
	uint64_t tick = obs_get_video_frame_time();
	ASSERT_TRUE(wait_until([&] { return obs_get_video_frame_time() != tick; }, 2000ms));
	uint64_t t = peer::now_us();
	ASSERT_TRUE(send_video(video[0], t));
	for (size_t i = 1; i < video.size(); i++) {
		ASSERT_TRUE(send_video(video[i], t + (i - 1) * 200000));
		std::this_thread::sleep_for(200ms);
	}
	switch_smooth_sync(false);
	ASSERT_TRUE(recorder.wait_frames(before + video.size(), 5000ms));
	std::this_thread::sleep_for(600ms); /* past the old pictures' time */
	EXPECT_EQ(status.frames_decoded, decoded_before + video.size()) << "pictures handed to OBS after the reconnect";
	auto frames = recorder.frames();
	ASSERT_EQ(frames.size(), before + video.size());
	for (size_t i = before; i < frames.size(); i++) {
		EXPECT_EQ(frames[i].format, VIDEO_FORMAT_I420) << "an old 4:4:4 picture after the reconnect";
		EXPECT_EQ(frames[i].first_sample[0], 40 + 3 * (i - before)) << "picture " << i - before;
	}
}

INSTANTIATE_TEST_SUITE_P(Leftovers, SmoothReconnectTest, ::testing::Range<size_t>(0, std::size(leftovers)),
			 [](const ::testing::TestParamInfo<size_t> &row) { return leftovers[row.param].name; });

/* A large picture that trickles in over a slow link holds back none of the
 * pictures held before it: each is shown at its time. */
TEST_F(SmoothPacingTest, PicturesDueWhileALargeOneTricklesInAreShownOnTime)
{
	switch_smooth_sync(true);
	uint64_t t = peer::now_us();
	ASSERT_TRUE(send_video(video[0], t));
	for (size_t i = 1; i <= 3; i++) /* held for 100, 200 and 300 ms */
		ASSERT_TRUE(send_video(video[i], t + i * 100000));
	/* 1 MiB over about 1.5 s, a piece every 10 ms. */
	media::Bytes large = peer::packet(0x00, t + 400000, padded(video[4], 1u << 20));
	const size_t piece = large.size() / 150 + 1;
	for (size_t at = 0; at < large.size(); at += piece) {
		ASSERT_TRUE(phone.send(large.data() + at, std::min(piece, large.size() - at)));
		std::this_thread::sleep_for(10ms);
	}
	sync_with_caps();
	ASSERT_TRUE(recorder.wait_frames(1, 5000ms));
	std::this_thread::sleep_for(500ms);

	/* Shown at OBS's tick nearest its time: some milliseconds off, where
	 * one held back by the large picture would be over a second late. */
	size_t held_shown = 0;
	for (const auto &frame : recorder.frames()) {
		if (frame.first_sample[0] < 43 || frame.first_sample[0] > 49)
			continue;
		held_shown++;
		EXPECT_LT((int64_t)(frame.received_at - frame.timestamp), 400000000LL)
			<< "Y " << (int)frame.first_sample[0];
	}
	EXPECT_EQ(held_shown, 3u);
}

/* OBS's frame rate raised with the mode on: the pictures follow OBS's new
 * tick, each one shown, as at the rate the mode started with. */
TEST_F(SmoothPacingTest, PicturesFollowAChangeOfObsFrameRate)
{
	reset_frame_rate(10);
	switch_smooth_sync(true);
	ASSERT_TRUE(send_video(video[0], peer::now_us()));
	ASSERT_TRUE(recorder.wait_frames(1, 5000ms));
	reset_frame_rate(60);

	const size_t count = 30; /* 30 a second */
	for (size_t i = 1; i <= count; i++) {
		ASSERT_TRUE(send_video(video[i % video.size()], peer::now_us()));
		std::this_thread::sleep_for(33ms);
	}
	sync_with_caps();
	std::this_thread::sleep_for(500ms);
	/* OBS shows every picture at 60 a second; on a 10-a-second tick it
	 * would pass most of them over. */
	EXPECT_GE(recorder.frames().size(), 1 + count * 8 / 10);
}

/* With the mode on the silence limit counts from the phone's last byte, as
 * with it off: the pictures still held then do not add their time. */
TEST_F(SmoothPacingTest, TheSilenceLimitCountsFromThePhonesLastByte)
{
	switch_smooth_sync(true);
	uint64_t t = peer::now_us();
	ASSERT_TRUE(send_video(video[0], t));
	ASSERT_TRUE(send_video(video[1], t + 450000)); /* held for about 450 ms */
	auto last_byte = std::chrono::steady_clock::now();
	ASSERT_TRUE(wait_ended(8000ms));
	auto silence = std::chrono::steady_clock::now() - last_byte;
	EXPECT_EQ(status.frames_decoded, 2u);
	/* The limit is 5 s; a held picture's wait would add about 450 ms. */
	EXPECT_GE(silence, 4900ms);
	EXPECT_LT(silence, 5400ms);
}
