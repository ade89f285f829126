/* The benchmarks' own arithmetic, fed with chosen events: the sender's log,
 * per-picture figures, the soak's figures, and the picture counter read
 * back from a picture the sender's own pattern drew. */

#include "pattern.h"
#include "picture-figures.h"
#include "picture-index.h"
#include "send-log-line.h"
#include "send-log.h"
#include "soak-figures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint64_t ms = 1000000; /* in ns */

std::string write_temp(const std::string &text)
{
	char path[] = "/tmp/ostrelin-send-log-XXXXXX";
	int fd = mkstemp(path);
	EXPECT_GE(fd, 0);
	close(fd);
	std::ofstream(path) << text;
	return path;
}

/* Two connections: pictures 0..2 at 33 ms steps from 1000 ms, then after a
 * drop pictures 0..1 again from 2000 ms. */
SendLog two_connections()
{
	std::string path = write_temp("open 0 990000000\n"
				      "video 0 0 1000000000 160 96 500000\n"
				      "audio 0 1001000000 490000\n"
				      "video 0 1 1033000000 160 96 533333\n"
				      "junk line\n"
				      "video 0 2 1066000000 96 160 566666\n"
				      "close 0 1100000000\n"
				      "open 1 1990000000\n"
				      "video 1 0 2000000000 160 96 900000\n"
				      "video 1 1 2033000000 160 96 933333\n");
	SendLog log;
	EXPECT_TRUE(send_log_read(path, &log));
	remove(path.c_str());
	return log;
}

} // namespace

TEST(SendLog, ReadsConnectionsPicturesAndAudio)
{
	SendLog log = two_connections();
	ASSERT_EQ(log.connections.size(), 2u);
	EXPECT_EQ(log.connections[0].open_ns, 990000000u);
	EXPECT_EQ(log.connections[0].close_ns, 1100000000u);
	EXPECT_EQ(log.connections[1].close_ns, 0u);
	ASSERT_EQ(log.connections[0].video.size(), 3u);
	EXPECT_EQ(log.connections[0].video.at(2).width, 96);
	EXPECT_EQ(log.connections[0].video.at(2).height, 160);
	EXPECT_EQ(log.connections[0].video.at(1).timestamp_us, 533333u);
	ASSERT_EQ(log.connections[0].audio.size(), 1u);
	EXPECT_EQ(log.connections[0].audio[0].timestamp_us, 490000u);
	EXPECT_EQ(log.pictures(), 5u);
	EXPECT_FALSE(send_log_read("/nonexistent/ostrelin.log", &log));
}

/* The sender's lines, as it formats them, read back whole. */
TEST(SendLog, WrittenLinesReadBack)
{
	SendLogLine open{SendLogKind::open, 2, 0, 5000000000, 0, 0, 0};
	SendLogLine video{SendLogKind::video, 2, 7, 5033000000, 1280, 720, 123456789};
	SendLogLine audio{SendLogKind::audio, 2, 0, 5034000000, 0, 0, 123460000};
	SendLogLine close{SendLogKind::close, 2, 0, 6000000000, 0, 0, 0};
	std::string path = write_temp(send_log_format(open) + send_log_format(video) + send_log_format(audio) +
				      send_log_format(close));
	SendLog log;
	ASSERT_TRUE(send_log_read(path, &log));
	remove(path.c_str());
	ASSERT_EQ(log.connections.size(), 3u);
	const SentConnection &c = log.connections[2];
	EXPECT_EQ(c.open_ns, 5000000000u);
	EXPECT_EQ(c.close_ns, 6000000000u);
	ASSERT_EQ(c.video.count(7), 1u);
	EXPECT_EQ(c.video.at(7).ns, 5033000000u);
	EXPECT_EQ(c.video.at(7).width, 1280);
	EXPECT_EQ(c.video.at(7).height, 720);
	EXPECT_EQ(c.video.at(7).timestamp_us, 123456789u);
	ASSERT_EQ(c.audio.size(), 1u);
	EXPECT_EQ(c.audio[0].ns, 5034000000u);
	EXPECT_EQ(c.audio[0].timestamp_us, 123460000u);
}

TEST(SendLog, APictureBelongsToTheLatestConnectionThatWroteItBefore)
{
	SendLog log = two_connections();
	EXPECT_EQ(log.connection_of(1, 1040 * ms), 0);
	EXPECT_EQ(log.connection_of(1, 2040 * ms), 1);
	EXPECT_EQ(log.connection_of(2, 2040 * ms), 0);  /* only the first wrote a picture 2 */
	EXPECT_EQ(log.connection_of(1, 1020 * ms), -1); /* seen before it was written */
	EXPECT_EQ(log.connection_of(7, 2040 * ms), -1);
}

TEST(PictureFigures, TimesEachPictureFromItsWriteAndCountsWhatArrived)
{
	SendLog log = two_connections();
	PictureTrack track;
	track.add_handoff({0, 1002 * ms, 160, 96, 0});
	track.add_handoff({1, 1034 * ms, 160, 96, 0});
	track.add_handoff({1, 1050 * ms, 160, 96, 0}); /* the same picture again: the first counts */
	track.add_handoff({0, 2005 * ms, 160, 96, 0});
	track.add_render({0, 1010 * ms, 160, 96, 0});
	track.add_render({0, 2030 * ms, 160, 96, 0});

	PictureFigures all = picture_figures(log, track, 0, 3000 * ms);
	EXPECT_EQ(all.sent, 5u);
	EXPECT_EQ(all.handed, 3u);
	EXPECT_EQ(all.shown, 2u);
	ASSERT_EQ(all.handoff_ms.size(), 3u);
	EXPECT_DOUBLE_EQ(all.handoff_ms[0], 2.0);
	EXPECT_DOUBLE_EQ(all.handoff_ms[1], 1.0);
	EXPECT_DOUBLE_EQ(all.handoff_ms[2], 5.0);
	ASSERT_EQ(all.tick_ms.size(), 2u);
	EXPECT_DOUBLE_EQ(all.tick_ms[0], 10.0);
	EXPECT_DOUBLE_EQ(all.tick_ms[1], 30.0);
	ASSERT_EQ(all.first_picture_ms.size(), 2u);
	EXPECT_DOUBLE_EQ(all.first_picture_ms[0], 12.0);
	EXPECT_DOUBLE_EQ(all.first_picture_ms[1], 15.0);

	/* Only the second connection's pictures in the window. */
	PictureFigures later = picture_figures(log, track, 1500 * ms, 3000 * ms);
	EXPECT_EQ(later.sent, 2u);
	EXPECT_EQ(later.handed, 1u);
	ASSERT_EQ(later.first_picture_ms.size(), 1u);
	EXPECT_DOUBLE_EQ(later.first_picture_ms[0], 15.0);
}

TEST(SoakFigures, CountsTimestampsThatGoBack)
{
	std::vector<PictureEvent> pictures = {
		{0, 1, 0, 0, 100 * ms}, {1, 2, 0, 0, 133 * ms}, {2, 3, 0, 0, 120 * ms},
		{3, 4, 0, 0, 120 * ms}, {4, 5, 0, 0, 90 * ms},  {5, 6, 0, 0, 200 * ms},
	};
	OrderFigures order = picture_order(pictures);
	EXPECT_EQ(order.steps_back, 2u);
	EXPECT_DOUBLE_EQ(order.largest_back_ms, 30.0);

	std::vector<AudioEvent> audio = {{1, 10 * ms, 1024, 48000}, {2, 31 * ms, 1024, 48000}};
	EXPECT_EQ(audio_order(audio).steps_back, 0u);
}

TEST(SoakFigures, SlopeOfAStraightLineAndOfNothing)
{
	EXPECT_DOUBLE_EQ(slope({0, 1, 2, 3}, {5, 7, 9, 11}), 2.0);
	EXPECT_DOUBLE_EQ(slope({0, 1, 2, 3}, {4, 4, 4, 4}), 0.0);
	EXPECT_DOUBLE_EQ(slope({1}, {3}), 0.0);
	EXPECT_DOUBLE_EQ(slope({2, 2, 2}, {1, 5, 9}), 0.0);
}

TEST(SoakFigures, AudioAgainstVideoOnObsClock)
{
	/* One connection from 0 ms; pictures and audio written every 20 ms and
	 * arriving 1 ms later. OBS places the phone's time T of a picture at
	 * T + 500 ms and of audio at T + 512 ms: audio 12 ms late. The first
	 * two audio blocks never arrive (before the clock was anchored). */
	SendLog log;
	log.connections.resize(1);
	SentConnection &c = log.connections[0];
	c.open_ns = 0;
	std::vector<PictureEvent> pictures;
	std::vector<AudioEvent> audio;
	for (int i = 0; i < 50; i++) {
		uint64_t written = 10 * ms + (uint64_t)i * 20 * ms;
		uint64_t phone_us = 7000000 + (uint64_t)i * 20000;
		c.video[i] = {written, 160, 96, phone_us};
		pictures.push_back({i, written + ms, 160, 96, phone_us * 1000 + 500 * ms});
		c.audio.push_back({written + 2 * ms, phone_us});
		if (i >= 2)
			audio.push_back({written + 3 * ms, phone_us * 1000 + 512 * ms, 1024, 48000});
	}
	std::vector<double> offsets = av_offsets_ms(log, pictures, audio, 0);
	ASSERT_EQ(offsets.size(), 48u);
	for (double offset : offsets)
		EXPECT_NEAR(offset, 12.0, 1e-9);
	/* Blocks within the settling time of the opening are left out. */
	EXPECT_EQ(av_offsets_ms(log, pictures, audio, 500 * ms).size(), 25u);
}

TEST(PictureIndex, ReadsTheCounterTheSendersPatternDraws)
{
	for (auto [width, height] : {std::pair{1280, 720}, {720, 1280}, {640, 360}}) {
		std::vector<uint8_t> y((size_t)width * height), u((size_t)width * height / 4), v(u.size());
		YuvPlanes planes = {{y.data(), u.data(), v.data()}, {width, width / 2, width / 2}, width, height};
		for (int64_t n : {0, 1, 2, 12345, 65535, 65536 + 7}) {
			pattern_draw(planes, n);
			obs_source_frame frame = {};
			frame.format = VIDEO_FORMAT_I420;
			frame.width = (uint32_t)width;
			frame.height = (uint32_t)height;
			frame.data[0] = y.data();
			frame.linesize[0] = (uint32_t)width;
			EXPECT_EQ(picture_index(&frame), (int)(n % 65536)) << width << "x" << height << " frame " << n;
		}
	}
	obs_source_frame tiny = {};
	tiny.format = VIDEO_FORMAT_I420;
	EXPECT_EQ(picture_index(&tiny), -1);
	EXPECT_EQ(picture_index(nullptr), -1);
}
