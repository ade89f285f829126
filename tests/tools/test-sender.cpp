/* The reference sender as a receiver meets it: the bytes of its handshake,
 * capabilities and audio configuration, its packet kinds and timestamps, the
 * control messages it prints, and how it serves and ends connections. */

#include "helpers/caps-fields.h"
#include "helpers/test-sender.h"

#include <cstdlib>

using namespace sender_test;

namespace {

const int64_t video_step_30fps = 1000000 / 30;     /* 33333, or 33334 when rounding carries */
const int64_t audio_step = 1024 * 1000000 / 48000; /* 21333 or 21334 */

TEST(SenderSetup, DefaultsGiveTheDocumentedHandshakeCapsAndAudioConfig)
{
	SenderProcess sender({});
	ASSERT_NE(sender.port(), 0);
	StreamClient client(sender.port());
	ASSERT_TRUE(client.connected());

	uint8_t hs[HANDSHAKE_SIZE];
	ASSERT_TRUE(client.read_exact(hs, sizeof(hs)));
	const uint8_t expected_hs[HANDSHAKE_SIZE] = {
		'N',  'R',  'I', 'X', /* magic */
		3,                    /* version */
		1,                    /* codec: H.264 */
		0x80, 0x02,           /* width 640 */
		0x68, 0x01,           /* height 360 */
		30,                   /* fps */
		0,                    /* reserved */
	};
	EXPECT_EQ(Bytes(hs, hs + sizeof(hs)), Bytes(expected_hs, expected_hs + sizeof(expected_hs)));

	Packet caps_packet;
	ASSERT_TRUE(client.read_packet(&caps_packet));
	EXPECT_EQ(caps_packet.header.flags, 0x04);
	EXPECT_EQ(caps_packet.header.length, 22u + 4 * 5);
	CameraCaps caps = {};
	ASSERT_TRUE(camera_caps_parse(caps_packet.payload, &caps));
	EXPECT_EQ(caps_fields(caps), (std::vector<int32_t>{0x0F, 1000, 8000, -12, 12, 166667, 5, 1, 2, 3, 5, 6}));

	Packet config_packet;
	ASSERT_TRUE(client.read_packet(&config_packet));
	EXPECT_EQ(config_packet.header.flags, 0x09);
	AudioConfig config = {};
	ASSERT_TRUE(audio_config_parse(config_packet.payload, &config));
	EXPECT_EQ(config.sample_rate, 48000u);
	EXPECT_EQ(config.channels, 2);
	ASSERT_GE(config.asc_len, 2);
	EXPECT_EQ(config_packet.header.length, 6u + config.asc_len);
	/* AAC-LC (object type 2), 48 kHz (index 3), 2 channels: 00010 0011 0010 000 */
	EXPECT_EQ(config.asc[0], 0x11);
	EXPECT_EQ(config.asc[1], 0x90);

	/* Video comes before any audio data, and opens with in-band parameter sets. */
	Packet first;
	ASSERT_TRUE(client.read_packet(&first));
	EXPECT_EQ(first.header.flags, 0x00);
	ASSERT_GE(first.payload.size(), 4u);
	EXPECT_EQ(Bytes(first.payload.begin(), first.payload.begin() + 4), (Bytes{0, 0, 0, 1}));
	std::vector<int> types = nal_types(first.payload);
	EXPECT_TRUE(contains(types, 7)) << "SPS";
	EXPECT_TRUE(contains(types, 8)) << "PPS";
	EXPECT_TRUE(contains(types, 5)) << "IDR slice";
}

TEST(SenderSetup, OptionsChangeTheHandshakeAndCaps)
{
	SenderProcess sender({"--width",    "320",    "--height",     "180",  "--fps",      "25",
			      "--reserved", "0xAB",   "--caps-flags", "0x05", "--zoom-min", "500",
			      "--zoom-max", "2000",   "--ev-min",     "-3",   "--ev-max",   "4",
			      "--ev-step",  "333333", "--awb",        "",     "--no-audio"});
	StreamClient client(sender.port());
	auto hs = client.read_handshake();
	ASSERT_TRUE(hs);
	EXPECT_EQ(handshake_check(*hs, true), HandshakeVerdict::accepted);
	EXPECT_EQ(hs->width, 320);
	EXPECT_EQ(hs->height, 180);
	EXPECT_EQ(hs->fps, 25);
	EXPECT_EQ(hs->reserved, 0xAB);

	Packet packet;
	ASSERT_TRUE(client.read_packet(&packet));
	EXPECT_EQ(packet.header.flags, 0x04);
	EXPECT_EQ(packet.header.length, 22u);
	CameraCaps caps = {};
	ASSERT_TRUE(camera_caps_parse(packet.payload, &caps));
	EXPECT_EQ(caps_fields(caps), (std::vector<int32_t>{0x05, 500, 2000, -3, 4, 333333, 0}));

	ASSERT_TRUE(client.read_packet(&packet));
	EXPECT_EQ(packet.header.flags, 0x00) << "no audio configuration with --no-audio";
}

TEST(SenderStream, TimestampsFollowTheFrameAndSampleClocks)
{
	SenderProcess sender({"--width", "160", "--height", "96", "--gop", "10"});
	StreamClient client(sender.port());
	Packet packet;
	ASSERT_TRUE(client.read_past_handshake(PacketKind::audio_config, &packet));

	std::vector<Packet> video, audio;
	while (video.size() < 25) {
		ASSERT_TRUE(client.read_packet(&packet));
		ASSERT_TRUE(packet.header.flags == 0x00 || packet.header.flags == 0x08)
			<< "flags " << (int)packet.header.flags;
		ASSERT_GT(packet.header.length, 0u);
		if (packet.header.flags == 0x08) {
			ASSERT_FALSE(video.empty()) << "audio data before the first video packet";
		}
		(packet.header.flags == 0x00 ? video : audio).push_back(packet);
	}
	ASSERT_GE(audio.size(), 20u);

	/* Microseconds of the same monotonic clock as ours. */
	int64_t now = monotonic_us();
	EXPECT_LT(std::llabs(now - (int64_t)video.back().header.timestamp), 5 * 1000000);

	for (size_t i = 1; i < video.size(); i++) {
		int64_t step = (int64_t)(video[i].header.timestamp - video[i - 1].header.timestamp);
		EXPECT_TRUE(step == video_step_30fps || step == video_step_30fps + 1) << "video step " << step;
	}
	for (size_t i = 1; i < audio.size(); i++) {
		int64_t step = (int64_t)(audio[i].header.timestamp - audio[i - 1].header.timestamp);
		EXPECT_TRUE(step == audio_step || step == audio_step + 1) << "audio step " << step;
	}
	/* The two clocks start together: the first audio unit holds the encoder's
	 * priming, one access unit before the first picture. */
	int64_t skew = (int64_t)video[0].header.timestamp - (int64_t)audio[0].header.timestamp;
	EXPECT_TRUE(skew == audio_step || skew == audio_step + 1) << skew;

	/* A keyframe with SPS and PPS every --gop frames, plain slices between. */
	for (size_t i = 0; i < video.size(); i++) {
		std::vector<int> types = nal_types(video[i].payload);
		bool keyframe = i % 10 == 0;
		EXPECT_EQ(contains(types, 7), keyframe) << "frame " << i;
		EXPECT_EQ(contains(types, 8), keyframe) << "frame " << i;
		EXPECT_EQ(contains(types, 5), keyframe) << "frame " << i;
		EXPECT_EQ(contains(types, 1), !keyframe) << "frame " << i;
	}
}

TEST(SenderStream, VideoFlagsOptionMarksEveryVideoPacket)
{
	SenderProcess sender({"--width", "160", "--height", "96", "--no-audio", "--no-caps", "--video-flags", "0x12"});
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	for (int i = 0; i < 3; i++) {
		Packet packet;
		ASSERT_TRUE(client.read_packet(&packet));
		EXPECT_EQ(packet.header.flags, 0x12);
		EXPECT_EQ(packet_kind(packet.header.flags), PacketKind::video);
	}
}

TEST(SenderControl, PrintsEveryControlMessageWhateverTheSplit)
{
	SenderProcess sender({"--width", "160", "--height", "96"});
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	ASSERT_TRUE(sender.wait_for_line("connected"));

	const uint8_t messages[] = {
		0x03, 0x01, 0x00, 0x00, 0x00, /* torch on */
		0x01, 0xDC, 0x05, 0x00, 0x00, /* zoom 1500 */
		0x02, 0xFD, 0xFF, 0xFF, 0xFF, /* ev -3 */
		0x05, 0x00, 0x00, 0x00, 0x00, /* AE lock off */
		0x04, 0x05, 0x00, 0x00, 0x00, /* white balance 5 */
		0x09, 0x07, 0x00, 0x00, 0x00, /* an unknown command */
	};
	/* Three bytes, then the rest of that record together with the next two
	 * and a half, then everything left. */
	ASSERT_TRUE(client.send_bytes(messages, 3));
	usleep(50 * 1000);
	ASSERT_TRUE(client.send_bytes(messages + 3, 15));
	usleep(50 * 1000);
	ASSERT_TRUE(client.send_bytes(messages + 18, sizeof(messages) - 18));

	const char *expected[] = {"control torch 1",   "control zoom 1500", "control ev -3",
				  "control ae_lock 0", "control awb 5",     "control unknown(9) 7"};
	for (const char *line : expected)
		EXPECT_EQ(sender.next_line(5000), line);

	client.close_now();
	EXPECT_TRUE(sender.wait_for_line("disconnected"));
}

TEST(SenderRun, ServesConnectionsOneAfterAnotherThenExits)
{
	SenderProcess sender({"--width", "160", "--height", "96", "--connections", "2"});
	for (int i = 0; i < 2; i++) {
		StreamClient client(sender.port());
		auto hs = client.read_handshake();
		ASSERT_TRUE(hs) << "connection " << i;
		EXPECT_EQ(handshake_check(*hs, true), HandshakeVerdict::accepted);
		Packet packet;
		ASSERT_TRUE(client.read_until(PacketKind::video, &packet));
		EXPECT_TRUE(contains(nal_types(packet.payload), 5)) << "each connection starts on a keyframe";
		client.close_now();
		ASSERT_TRUE(sender.wait_for_line("disconnected"));
	}
	EXPECT_EQ(sender.wait_exit(5000), 0);
	std::vector<std::string> lines(sender.lines().begin() + 1, sender.lines().end());
	EXPECT_EQ(lines, (std::vector<std::string>{"connected", "disconnected", "connected", "disconnected"}));
}

TEST(SenderRun, StopsCleanlyOnSignalsAndAfterItsDuration)
{
	for (int sig : {SIGINT, SIGTERM}) {
		SenderProcess sender({"--width", "160", "--height", "96"});
		StreamClient client(sender.port());
		Packet packet;
		ASSERT_TRUE(client.read_handshake());
		ASSERT_TRUE(client.read_until(PacketKind::video, &packet));
		EXPECT_EQ(sender.stop(sig), 0) << "signal " << sig;
		EXPECT_GE(client.count_to_end(), 0) << "the sender closed the connection";
		EXPECT_TRUE(sender.wait_for_line("disconnected"));
	}

	SenderProcess idle({"--duration", "0.3"});
	ASSERT_NE(idle.port(), 0);
	EXPECT_EQ(idle.wait_exit(5000), 0);
}

TEST(SenderRun, RefusesBadOptions)
{
	for (std::vector<std::string> args :
	     {std::vector<std::string>{"--width", "321"}, std::vector<std::string>{"--fps", "0"},
	      std::vector<std::string>{"--video-flags", "0x04"}, std::vector<std::string>{"--listen", "localhost"},
	      std::vector<std::string>{"--codec", "H265"}, std::vector<std::string>{"--no-such-option"}}) {
		SenderProcess sender(args);
		EXPECT_EQ(sender.port(), 0) << args[0];
		EXPECT_EQ(sender.wait_exit(5000), 2) << args[0];
	}
}

} // namespace
