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

} // namespace

/* With smooth and in sync on, a phone sending pictures near the size limit
 * cannot make the plug-in hold more than the held pictures' budget: the
 * oldest go to OBS early instead. Switched off mid-stream, every picture
 * still held goes to the decoder and OBS at once, in order. */
TEST_F(SmoothPacingTest, SmoothSyncHoldsLargePicturesWithinTheBudgetAndShowsEachOneInOrder)
{
	const size_t count = 16;
	std::vector<media::Bytes> packets;
	uint64_t t = peer::now_us();
	for (size_t i = 0; i < count; i++) /* 30 ms apart on the phone's clock: all within the delay's bound */
		packets.push_back(peer::packet(0x00, t + i * 30000, padded(video[i % video.size()], 7u << 20)));
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
	 * budget most of the sixteen 7 MiB pictures were held at once here. */
	EXPECT_LE(peak - baseline, HELD_PICTURES_BUDGET + 4 * STREAM_MAX_PAYLOAD);
	/* Every picture went through the decoder to OBS; OBS shows at most one
	 * per tick, so the recorder sees them in order, some passed over. */
	EXPECT_EQ(status.frames_decoded, count);
	std::this_thread::sleep_for(1000ms);
	auto frames = recorder.frames();
	EXPECT_GE(frames.size(), count / 2);
	size_t next = 0; /* the known picture sequence: Y = 40 + 3n */
	for (size_t i = 0; i < frames.size(); i++) {
		while (next < count && frames[i].first_sample[0] != 40 + 3 * (next % video.size()))
			next++;
		EXPECT_LT(next++, count) << "picture " << i << " out of order";
		if (i > 0) {
			EXPECT_GT(frames[i].timestamp, frames[i - 1].timestamp);
		}
	}
}

/* The pictures a phone left held are not the next phone's: after a
 * reconnect OBS gets the new phone's pictures only. */
TEST_F(SmoothPacingTest, AReconnectShowsNoneOfThePicturesHeldForTheLastPhone)
{
	auto old = media::access_unit_payloads(media::read_fixture("yuv444.h264"));
	ASSERT_EQ(old.size(), 2u);
	obs_source_set_async_unbuffered(sink, true); /* as the plug-in's sources are */
	switch_smooth_sync(true);
	uint64_t t = peer::now_us();
	ASSERT_TRUE(send_video(old[0], t));
	ASSERT_TRUE(send_video(old[1], t + 400000)); /* held for about 400 ms */
	sync_with_caps();
	ASSERT_TRUE(recorder.wait_frames(1, 5000ms));
	phone.close();
	ASSERT_EQ(recorder.frames().size(), 1u) << "the second picture was to be held still";
	reconnect();
	size_t before = recorder.frames().size();
	uint64_t decoded_before = status.frames_decoded;

	for (size_t i = 0; i < video.size(); i++) {
		ASSERT_TRUE(send_video(video[i], peer::now_us()));
		std::this_thread::sleep_for(100ms);
	}
	switch_smooth_sync(false);
	ASSERT_TRUE(recorder.wait_frames(before + video.size(), 5000ms));
	std::this_thread::sleep_for(600ms); /* past the old picture's time */
	EXPECT_EQ(status.frames_decoded, decoded_before + video.size()) << "pictures handed to OBS after the reconnect";
	auto frames = recorder.frames();
	ASSERT_EQ(frames.size(), before + video.size());
	for (size_t i = before; i < frames.size(); i++)
		EXPECT_EQ(frames[i].format, VIDEO_FORMAT_I420) << "an old 4:4:4 picture after the reconnect";
}
