/* The reference sender's media through the plug-in's own decoders: pictures
 * of the announced size showing the documented test picture (colours,
 * counter, moving bars), and the AAC tone decoded with its configuration. */

#include "decode/audio-decoder.h"
#include "decode/video-decoder.h"
#include "protocol/stream-protocol.h"
#include "helpers/test-sender.h"

#include <media-io/video-io.h>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <cmath>
#include <cstdlib>
#include <memory>

using namespace sender_test;

namespace {

using VideoDecoderPtr = std::unique_ptr<VideoDecoder, decltype(&ostrelin_decoder_destroy)>;
using AudioDecoderPtr = std::unique_ptr<AudioDecoder, decltype(&ostrelin_audio_decoder_destroy)>;

struct Yuv {
	int y, u, v;
};

/* The documented colours: BT.709, limited range. */
const Yuv red = {63, 102, 240};
const Yuv blue = {32, 240, 118};
const Yuv bars[8] = {{235, 128, 128}, {219, 16, 138}, {188, 154, 16}, {173, 42, 26},
		     {78, 214, 230},  {63, 102, 240}, {32, 240, 118}, {16, 128, 128}};

Yuv pixel(const obs_source_frame &frame, uint32_t x, uint32_t y)
{
	return {frame.data[0][y * frame.linesize[0] + x], frame.data[1][(y / 2) * frame.linesize[1] + x / 2],
		frame.data[2][(y / 2) * frame.linesize[2] + x / 2]};
}

/* Within 3 steps of each value: what the encoder may leave of a flat area. */
::testing::AssertionResult near(const Yuv &got, const Yuv &want, const char *where)
{
	if (std::abs(got.y - want.y) <= 3 && std::abs(got.u - want.u) <= 3 && std::abs(got.v - want.v) <= 3)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure() << where << ": got Y " << got.y << " U " << got.u << " V " << got.v
					     << ", want " << want.y << " " << want.u << " " << want.v;
}

int read_counter(const obs_source_frame &frame, uint32_t side)
{
	int value = 0;
	for (uint32_t i = 0; i < 16; i++) {
		uint32_t x = frame.width / 2 + i * side + side / 2;
		value = (value << 1) | (pixel(frame, x, side / 2).y > 128 ? 1 : 0);
	}
	return value;
}

/* The decoder's codec for each handshake codec the sender can send. */
struct CodecRow {
	const char *name; /* --codec */
	uint8_t handshake;
	int av_codec_id;
};
const CodecRow codec_rows[] = {{"h264", STREAM_CODEC_H264, AV_CODEC_ID_H264},
			       {"h265", STREAM_CODEC_H265, AV_CODEC_ID_HEVC}};

void check_pictures(const CodecRow &codec, uint16_t width, uint16_t height, uint32_t counter_side,
		    std::vector<std::string> args)
{
	SCOPED_TRACE(std::string(codec.name) + " " + std::to_string(width) + "x" + std::to_string(height));
	args.insert(args.end(), {"--codec", codec.name});
	SenderProcess sender(args);
	StreamClient client(sender.port());
	auto hs = client.read_handshake();
	ASSERT_TRUE(hs);
	ASSERT_EQ(hs->codec, codec.handshake);
	ASSERT_EQ(hs->width, width);
	ASSERT_EQ(hs->height, height);

	VideoDecoderPtr decoder(decoder_create(codec.av_codec_id), &ostrelin_decoder_destroy);
	ASSERT_TRUE(decoder);
	std::vector<int> counters;
	for (int packets = 0; counters.size() < 12 && packets < 40; packets++) {
		Packet packet;
		ASSERT_TRUE(client.read_until(PacketKind::video, &packet));
		obs_source_frame frame = {};
		if (!ostrelin_decoder_decode(decoder.get(), packet.payload.data(), packet.payload.size(),
					     packet.header.timestamp * 1000, &frame))
			continue;
		ASSERT_EQ(frame.format, VIDEO_FORMAT_I420);
		ASSERT_EQ(frame.width, width);
		ASSERT_EQ(frame.height, height);
		EXPECT_FALSE(frame.full_range);

		int n = read_counter(frame, counter_side);
		counters.push_back(n);
		EXPECT_TRUE(near(pixel(frame, width / 4, height / 4), red, "top-left quarter"));
		EXPECT_TRUE(near(pixel(frame, 8, height / 2 - 8), red, "top-left quarter, corner"));
		EXPECT_TRUE(near(pixel(frame, 3 * width / 4, height / 4 + counter_side), blue, "top-right quarter"));
		for (int bar = 0; bar < 8; bar++) {
			/* The middle of each bar, where it has moved to in frame n. */
			int64_t centre = (2 * bar + 1) * width / 16;
			uint32_t x = (uint32_t)(((centre - 4 * n) % width + width) % width);
			EXPECT_TRUE(near(pixel(frame, x, 3 * height / 4), bars[bar], "bar"))
				<< "bar " << bar << " frame " << n;
		}
	}
	ASSERT_EQ(counters.size(), 12u);
	EXPECT_EQ(counters[0], 0) << "each connection counts from frame 0";
	for (size_t i = 1; i < counters.size(); i++)
		EXPECT_EQ(counters[i], counters[i - 1] + 1);
}

TEST(SenderDecode, PicturesShowTheDocumentedPattern)
{
	for (const CodecRow &codec : codec_rows) {
		check_pictures(codec, 640, 360, 20, {"--no-audio"});
		check_pictures(codec, 320, 180, 10, {"--no-audio", "--width", "320", "--height", "180", "--fps", "60"});
	}
}

TEST(SenderDecode, AudioIsTheToneInItsOwnConfiguration)
{
	SenderProcess sender({"--width", "160", "--height", "96", "--tone", "1000"});
	StreamClient client(sender.port());
	Packet packet;
	ASSERT_TRUE(client.read_past_handshake(PacketKind::audio_config, &packet));
	AudioConfig config;
	memset(&config, 0, sizeof(config));
	ASSERT_TRUE(audio_config_parse(packet.payload, &config));
	AudioDecoderPtr decoder(ostrelin_audio_decoder_create(&config), &ostrelin_audio_decoder_destroy);
	ASSERT_TRUE(decoder);

	int blocks = 0;
	for (int units = 0; units < 8; units++) {
		ASSERT_TRUE(client.read_until(PacketKind::audio_data, &packet));
		obs_source_audio audio = {};
		if (!ostrelin_audio_decoder_decode(decoder.get(), packet.payload.data(), packet.payload.size(),
						   packet.header.timestamp * 1000, &audio))
			continue;
		blocks++;
		ASSERT_EQ(audio.frames, 1024u);
		ASSERT_EQ(audio.speakers, SPEAKERS_STEREO);
		ASSERT_EQ(audio.samples_per_sec, 48000u);
		ASSERT_EQ(audio.format, AUDIO_FORMAT_FLOAT_PLANAR);
		if (units < 3)
			continue; /* the encoder's priming and its first ramp */

		/* 1 kHz at 48 kHz: 48 samples a period, 21.3 periods a block. */
		const float *left = (const float *)audio.data[0];
		const float *right = (const float *)audio.data[1];
		int crossings = 0;
		float peak = 0;
		for (uint32_t i = 0; i < audio.frames; i++) {
			if (i > 0 && (left[i - 1] < 0) != (left[i] < 0))
				crossings++;
			peak = std::max(peak, std::fabs(left[i]));
			EXPECT_NEAR(left[i], right[i], 0.05) << "sample " << i;
		}
		EXPECT_GE(crossings, 41) << "unit " << units;
		EXPECT_LE(crossings, 44) << "unit " << units;
		EXPECT_NEAR(peak, 0.5, 0.1) << "unit " << units;
	}
	EXPECT_GE(blocks, 6);
}

} // namespace
