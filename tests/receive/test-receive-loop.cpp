#include "helpers/receive-fixture.h"

#include <algorithm>
#include <cstdio>
#include <regex>

namespace {

class ReceiveLoopTest : public ReceiveFixture {};

} // namespace

TEST_F(ReceiveLoopTest, PicturesAndAudioReachObsOnItsClock)
{
	ASSERT_EQ(video.size(), 5u);
	ASSERT_GE(audio.size(), 8u);

	ASSERT_TRUE(phone.send(peer::audio_config_packet(48000, 2, asc)));
	ASSERT_TRUE(phone.send(peer::audio_config_packet(48000, 2, asc))); /* identical: kept */
	/* Audio before the first video packet has nothing to be timed against. */
	ASSERT_TRUE(send_audio(audio[0], peer::now_us()));
	sync_with_caps();
	EXPECT_EQ(log.count(LOG_INFO, plugin_line(LOGTEXT_AUDIO_DECODER_READY, 48000u, 2u)), 1u);
	EXPECT_EQ(status.audio_packets, 0u);
	EXPECT_EQ(log.count(LOG_INFO,
			    plugin_line(LOGTEXT_CAMERA_CAPS, 1.0, 8.0, -12, 12, LOGTEXT_CAPS_YES, LOGTEXT_CAPS_YES, 3)),
		  1u);
	CameraCaps caps = status_caps(&status);
	EXPECT_EQ(caps.valid, 1);
	EXPECT_EQ(caps.awb_modes[2], 42);

	uint64_t first_sent = os_gettime_ns();
	for (size_t i = 0; i < video.size(); i++) {
		ASSERT_TRUE(send_video(video[i], peer::now_us()));
		ASSERT_TRUE(send_audio(audio[1 + i], peer::now_us()));
		/* Three of OBS's 30 fps ticks apart: an unbuffered source shows only
		 * the newest picture at a tick, so pictures a tick apart can be
		 * passed over on a busy machine. */
		std::this_thread::sleep_for(100ms);
	}
	ASSERT_TRUE(recorder.wait_frames(5, 5000ms));
	ASSERT_TRUE(recorder.wait_audio(1, 5000ms));

	auto frames = recorder.frames();
	EXPECT_EQ(status.frames_decoded, 5u);
	EXPECT_EQ(status.audio_packets, 5u);
	for (size_t i = 0; i < frames.size(); i++) {
		EXPECT_EQ(frames[i].width, 80u);
		EXPECT_EQ(frames[i].height, 48u);
		EXPECT_EQ(frames[i].format, VIDEO_FORMAT_I420);
		/* On OBS's clock: after the packet left, before OBS saw the frame. */
		EXPECT_GE(frames[i].timestamp, first_sent);
		EXPECT_LE(frames[i].timestamp, frames[i].received_at);
		if (i > 0) {
			EXPECT_GT(frames[i].timestamp, frames[i - 1].timestamp);
		}
	}
	/* The first block of the known picture sequence: Y = 40 + 3n. */
	EXPECT_EQ(frames[0].first_sample[0], 40);
	EXPECT_EQ(frames[4].first_sample[0], 52);
	for (auto &block : recorder.audio())
		EXPECT_GT(block.frames, 0u);

	/* A configuration that differs in one byte rebuilds the decoder. */
	media::Bytes other = asc;
	other[1] ^= 0x08; /* stereo -> mono channel configuration */
	ASSERT_TRUE(phone.send(peer::audio_config_packet(48000, 1, other)));
	sync_with_caps();
	EXPECT_EQ(log.count(LOG_INFO, plugin_line(LOGTEXT_AUDIO_DECODER_READY, 48000u, 1u)), 1u);
}

/* A configuration without a usable rate builds nothing, and one whose decoder
 * cannot open is tried once: repeats of the same bytes are not news. */
/* The panel is rebuilt for capabilities that differ in anything, the white
 * balance modes included, and not for the same ones again. */
TEST_F(ReceiveLoopTest, ChangedCapabilitiesRebuildThePanel)
{
	std::atomic<int> rebuilds = 0;
	signal_handler_t *handler = obs_source_get_signal_handler(sink);
	auto on_rebuild = [](void *data, calldata_t *) {
		++*static_cast<std::atomic<int> *>(data);
	};
	signal_handler_connect(handler, "update_properties", on_rebuild, &rebuilds);
	/* The rebuild follows the capabilities' log line, so each count is
	 * read after the next capabilities (the same again) were handled. */
	sync_with_caps();
	sync_with_caps();
	EXPECT_EQ(rebuilds, 1);
	CameraCaps other_mode = peer::all_caps();
	other_mode.awb_modes[2] = 7;
	ASSERT_TRUE(phone.send(peer::caps_packet(other_mode)));
	sync_with_caps(); /* and back */
	sync_with_caps();
	EXPECT_EQ(rebuilds, 3);
	signal_handler_disconnect(handler, "update_properties", on_rebuild, &rebuilds);
}

TEST_F(ReceiveLoopTest, AudioConfigurationsThatCannotPlayAreRefusedOnce)
{
	const std::string refused = plugin_line(LOGTEXT_AUDIO_RATE_REFUSED, 0u);
	ASSERT_TRUE(phone.send(peer::audio_config_packet(0, 8, {})));
	ASSERT_TRUE(phone.send(peer::audio_config_packet(0, 8, {})));
	for (size_t i = 0; i < 3; i++) {
		ASSERT_TRUE(send_video(video[i], peer::now_us()));
		ASSERT_TRUE(send_audio(audio[i], peer::now_us()));
	}
	sync_with_caps();
	EXPECT_EQ(log.count(LOG_WARNING, refused), 1u);
	EXPECT_EQ(rx->audio_decoder, nullptr);
	EXPECT_EQ(status.audio_packets, 0u);
	EXPECT_TRUE(recorder.audio().empty());

	media::Bytes broken = {0xff, 0xff, 0xff, 0xff}; /* no such audio object type */
	for (int i = 0; i < 3; i++)
		ASSERT_TRUE(phone.send(peer::audio_config_packet(48000, 2, broken)));
	sync_with_caps();
	EXPECT_EQ(log.count(LOG_ERROR, plugin_line(LOGTEXT_AAC_OPEN_FAILED)), 1u);
	EXPECT_EQ(rx->audio_decoder, nullptr);
}

TEST_F(ReceiveLoopTest, ZeroLengthPacketsAreSkippedAndTheSizeLimitIsInclusive)
{
	ASSERT_TRUE(phone.send(peer::packet(0x04, 0, {}, 0)));
	ASSERT_TRUE(phone.send(peer::packet(0x09, 0, {}, 0)));
	ASSERT_TRUE(phone.send(peer::packet(0x00, 0, {}, 0)));
	ASSERT_TRUE(phone.send(peer::packet(0x08, 0, {}, 0)));
	sync_with_caps();
	EXPECT_EQ(log.count_prefix(plugin_line_head(LOGTEXT_CAMERA_CAPS)), 1u); /* only the real one */
	EXPECT_EQ(rx->audio_decoder, nullptr);
	EXPECT_EQ(rx->packet_buf_size, 22u + 4 * 3);

	/* Exactly 8 MiB is read and processed; the buffer grows to exactly that. */
	media::Bytes max_payload(STREAM_MAX_PAYLOAD, 0);
	ASSERT_TRUE(phone.send(peer::packet(0x00, peer::now_us(), max_payload)));
	sync_with_caps();
	EXPECT_EQ(rx->packet_buf_size, (uint64_t)STREAM_MAX_PAYLOAD);
	EXPECT_FALSE(loop_ended);

	/* One byte more ends the stream with the error line. */
	ASSERT_TRUE(phone.send(peer::packet(0x00, 0, {}, STREAM_MAX_PAYLOAD + 1)));
	ASSERT_TRUE(wait_ended(5000ms));
	EXPECT_TRUE(log.contains(LOG_ERROR, plugin_line(LOGTEXT_PACKET_TOO_LARGE, 8388609ULL)));
}

TEST_F(ReceiveLoopTest, FiveSecondsWithoutAByteEndTheStream)
{
	media::Bytes caps = peer::caps_packet(peer::all_caps());
	ASSERT_TRUE(phone.send(caps.data(), 5)); /* part of a header */
	std::this_thread::sleep_for(4700ms);     /* under the limit */
	ASSERT_FALSE(loop_ended);
	/* A byte starts the silence anew, though the header is not whole yet. */
	ASSERT_TRUE(phone.send(caps.data() + 5, 1));
	std::this_thread::sleep_for(3000ms);
	ASSERT_FALSE(loop_ended);
	ASSERT_TRUE(phone.send(caps.data() + 6, caps.size() - 6));
	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_CAMERA_CAPS), 1, 3000ms));

	/* Now nothing at all: the limit ends the stream. */
	ASSERT_TRUE(wait_ended(8000ms));
	EXPECT_TRUE(phone.valid());
}

TEST_F(ReceiveLoopTest, PeerCloseEndsTheStream)
{
	sync_with_caps();
	phone.close();
	ASSERT_TRUE(wait_ended(3000ms));
}

TEST_F(ReceiveLoopTest, StatisticsEveryFiveSecondsWithTrueFigures)
{
	ASSERT_TRUE(phone.send(peer::audio_config_packet(48000, 2, asc)));
	size_t bytes = 0;
	auto start = std::chrono::steady_clock::now();
	for (size_t i = 0; std::chrono::steady_clock::now() - start < 5600ms; i++) {
		const auto &au = video[i % video.size()];
		ASSERT_TRUE(send_video(au, peer::now_us()));
		ASSERT_TRUE(send_audio(audio[i % audio.size()], peer::now_us()));
		bytes += au.size();
		std::this_thread::sleep_for(33ms);
	}
	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_STATS_LATENCY), 1, 3000ms));

	std::regex first = plugin_line_regex(LOGTEXT_STATS);
	std::regex audio_line = plugin_line_regex(LOGTEXT_STATS_AUDIO);
	std::regex latency = plugin_line_regex(LOGTEXT_STATS_LATENCY);
	auto lines = log.plugin_lines();
	size_t at = 0;
	while (at < lines.size() && !std::regex_match(lines[at].text, first))
		at++;
	ASSERT_LT(at + 2, lines.size()) << "no statistics report";
	std::smatch m;
	ASSERT_TRUE(std::regex_match(lines[at].text, m, first));
	EXPECT_EQ(lines[at].level, LOG_INFO);
	double fps = std::stod(m[1]);
	EXPECT_GT(fps, 15.0); /* paced at about 30 per second */
	EXPECT_LT(fps, 35.0);
	EXPECT_GE(std::stod(m[3]), 0.0);
	EXPECT_LE(std::stod(m[3]), std::stod(m[4])); /* average <= slowest */
	uint64_t total = std::stoull(m[5]);
	EXPECT_GE(total, 75u);
	EXPECT_LE(total, status.frames_decoded.load());
	EXPECT_NEAR(status.stat_fps.load(), fps, 1.0);
	/* The bit rate covers the video payload bytes of the window (the tiny
	 * test pictures make it a few kbit/s, shown as 0.0 Mbps). */
	double sent_kbps = bytes * 8 / 5.6 / 1000;
	EXPECT_EQ(m[2].str(), "0.0");
	EXPECT_GT(status.stat_kbps, sent_kbps * 0.5);
	EXPECT_LT(status.stat_kbps, sent_kbps * 1.5);

	ASSERT_TRUE(std::regex_match(lines[at + 1].text, m, audio_line)) << lines[at + 1].text;
	EXPECT_GT(std::stoull(m[1]), 0u);
	ASSERT_TRUE(std::regex_match(lines[at + 2].text, m, latency)) << lines[at + 2].text;
	EXPECT_GE(std::stod(m[1]), 0.0);
	EXPECT_GE(std::stod(m[2]), 0.0);
	EXPECT_GT(std::stoull(m[3]), 0u);

	/* The pictures after the report belong to a new window: one report. */
	size_t reports = 0;
	for (const LogLine &line : lines)
		reports += std::regex_match(line.text, first) ? 1 : 0;
	EXPECT_EQ(reports, 1u);
}

TEST_F(ReceiveLoopTest, SenderClockJumpResetsVideoAndReAnchorsAudio)
{
	/* Unbuffered, as the plug-in makes its source: OBS shows each picture at
	 * once, so one timed in the future is seen as such, not held until then. */
	obs_source_set_async_unbuffered(sink, true);
	uint64_t base = peer::now_us();
	auto sent = std::chrono::steady_clock::now();
	size_t i = 0;
	/* Counted, 33 ms apart at least: a test thread that a busy machine holds
	 * back sends late, never fewer. */
	auto send_pictures = [&](size_t count, int64_t shift_us) {
		for (size_t n = 0; n < count; n++) {
			uint64_t elapsed = (uint64_t)std::chrono::duration_cast<std::chrono::microseconds>(
						   std::chrono::steady_clock::now() - sent)
						   .count();
			ASSERT_TRUE(send_video(video[i++ % video.size()], base + elapsed + shift_us));
			std::this_thread::sleep_for(33ms);
		}
	};
	send_pictures(15, 0);
	/* Sent already: the wait only gives a slow (sanitizer) build its time. */
	ASSERT_TRUE(wait_until([&] { return status.frames_decoded >= 15; }, 15000ms));
	ASSERT_TRUE(recorder.wait_frames(1, 15000ms));
	uint64_t jump_sent = os_gettime_ns();
	send_pictures(80, 600000); /* the phone's clock jumps 600 ms ahead */
	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_CLOCK_REANCHOR), 1, 3000ms));

	/* Pictures after the jump are timed at their arrival, not 600 ms in the
	 * future as the old offset would have put them (the video clock's 4 ms
	 * step up may put one a few milliseconds ahead). */
	size_t after_jump = 0;
	for (const auto &frame : recorder.frames()) {
		if (frame.timestamp < jump_sent)
			continue;
		after_jump++;
		EXPECT_LE(frame.timestamp, frame.received_at + 100000000u);
	}
	EXPECT_GT(after_jump, 10u);

	std::regex anchor = plugin_line_regex(LOGTEXT_CLOCK_REANCHOR);
	for (auto &line : log.plugin_lines()) {
		std::smatch m;
		if (std::regex_match(line.text, m, anchor)) {
			EXPECT_EQ(line.level, LOG_INFO);
			EXPECT_NEAR(std::stod(m[1]), -600.0, 30.0);
		}
	}
}

/* With the mode on, sound is timed by the pictures' delay: a block whose
 * phone time is 150 ms before its picture's comes late enough to raise the
 * delay, and from then on each picture reaches OBS 150 ms after its block,
 * as the phone took them (timed by the allowance alone, the sound came
 * 40 ms after its picture here). */
TEST_F(ReceiveLoopTest, SmoothSyncTimesTheSoundByThePicturesDelay)
{
	const uint64_t behind_us = 150000;
	ASSERT_TRUE(phone.send(peer::audio_config_packet(48000, 2, asc)));
	switch_smooth_sync(true);
	for (size_t i = 0; i < video.size(); i++) {
		uint64_t t = peer::now_us();
		ASSERT_TRUE(send_video(video[i], t));
		ASSERT_TRUE(send_audio(audio[1 + i], t - behind_us));
		std::this_thread::sleep_for(100ms);
	}
	ASSERT_TRUE(recorder.wait_audio(video.size(), 15000ms));
	/* Held for the delay: OBS takes the last picture (Y = 40 + 3n) last. */
	const uint8_t last_y = (uint8_t)(40 + 3 * (video.size() - 1));
	ASSERT_TRUE(wait_until(
		[&] {
			auto frames = recorder.frames();
			return !frames.empty() && frames.back().first_sample[0] == last_y;
		},
		15000ms));
	auto blocks = recorder.audio();
	ASSERT_EQ(blocks.size(), video.size());
	/* Picture n against block n; picture 0 came before any sound raised
	 * the delay. */
	std::vector<int64_t> apart;
	for (const auto &frame : recorder.frames()) {
		size_t n = (size_t)(frame.first_sample[0] - 40) / 3;
		if (n >= 1 && n < blocks.size())
			apart.push_back((int64_t)(frame.timestamp - blocks[n].timestamp));
	}
	ASSERT_GE(apart.size(), 2u);
	std::sort(apart.begin(), apart.end());
	int64_t median = apart[apart.size() / 2];
	EXPECT_NEAR(median, (int64_t)behind_us * 1000, 50000000) << median / 1e6 << " ms";
	printf("picture after its block: median %.1f ms over %zu pictures\n", median / 1e6, apart.size());
}
