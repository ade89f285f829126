/* Each misbehaviour option of the reference sender produces exactly the
 * bytes it promises, so that receiver tests can rely on it. */

#include "helpers/test-sender.h"

#include <algorithm>

using namespace sender_test;

namespace {

const std::vector<std::string> small = {"--width", "160", "--height", "96"};

std::vector<std::string> with(std::vector<std::string> extra)
{
	std::vector<std::string> args = small;
	args.insert(args.end(), extra.begin(), extra.end());
	return args;
}

bool is_keyframe(const Packet &packet)
{
	std::vector<int> types = nal_types(packet.payload);
	return contains(types, 7) && contains(types, 8) && contains(types, 5);
}

TEST(SenderHandshakeFaults, BadFieldsFailTheirOwnCheck)
{
	struct Case {
		std::vector<std::string> args;
		Bytes first_six;
		HandshakeVerdict verdict;
	};
	const Case cases[] = {
		{{"--bad-magic"}, {'n', 'r', 'i', 'x', 3, 1}, HandshakeVerdict::wrong_magic},
		{{"--bad-version", "2"}, {'N', 'R', 'I', 'X', 2, 1}, HandshakeVerdict::wrong_version},
		{{"--bad-codec", "3"}, {'N', 'R', 'I', 'X', 3, 3}, HandshakeVerdict::wrong_codec},
	};
	for (const Case &c : cases) {
		SenderProcess sender(with(c.args));
		StreamClient client(sender.port());
		uint8_t bytes[HANDSHAKE_SIZE];
		ASSERT_TRUE(client.read_exact(bytes, sizeof(bytes))) << c.args[0];
		EXPECT_EQ(Bytes(bytes, bytes + 6), c.first_six) << c.args[0];
		EXPECT_EQ(handshake_check(handshake_parse(bytes), true), c.verdict) << c.args[0];
	}
}

TEST(SenderHandshakeFaults, StalledHandshakeArrivesInTwoHalves)
{
	SenderProcess sender(with({"--stall-handshake", "300"}));
	StreamClient client(sender.port());
	size_t first_read = 0;
	auto hs = client.read_handshake(&first_read);
	ASSERT_TRUE(hs);
	EXPECT_EQ(first_read, 6u);
	EXPECT_EQ(handshake_check(*hs, true), HandshakeVerdict::accepted);
	EXPECT_EQ(hs->width, 160);
	Packet packet;
	EXPECT_TRUE(client.read_packet(&packet));
	EXPECT_EQ(packet.header.flags, 0x04);
}

TEST(SenderHandshakeFaults, HandshakeOnlyStaysSilentButHearsControls)
{
	SenderProcess sender(with({"--handshake-only"}));
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	EXPECT_TRUE(client.silent_for(700));

	const uint8_t torch_on[] = {0x03, 0x01, 0x00, 0x00, 0x00};
	ASSERT_TRUE(client.send_bytes(torch_on, sizeof(torch_on)));
	EXPECT_TRUE(sender.wait_for_line("control torch 1"));
	EXPECT_TRUE(client.silent_for(100));
	client.close_now();
	EXPECT_TRUE(sender.wait_for_line("disconnected"));
}

TEST(SenderSetupFaults, NoCapsAndNoAudioLeaveOnlyVideo)
{
	SenderProcess sender(with({"--no-caps", "--no-audio"}));
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	for (int i = 0; i < 10; i++) {
		Packet packet;
		ASSERT_TRUE(client.read_packet(&packet));
		EXPECT_EQ(packet.header.flags, 0x00) << "packet " << i;
		if (i == 0) {
			EXPECT_TRUE(is_keyframe(packet));
		}
	}
}

TEST(SenderSetupFaults, MalformedCapsAreTooShortToTake)
{
	SenderProcess sender(with({"--malformed-caps"}));
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	Packet packet;
	CameraCaps caps = {};

	ASSERT_TRUE(client.read_packet(&packet));
	EXPECT_EQ(packet.header.flags, 0x04);
	EXPECT_EQ(packet.header.length, 21u);
	EXPECT_FALSE(camera_caps_parse(packet.payload, &caps));

	ASSERT_TRUE(client.read_packet(&packet));
	EXPECT_EQ(packet.header.flags, 0x04);
	EXPECT_EQ(packet.header.length, 33u);
	ASSERT_EQ(packet.payload.size(), 33u);
	EXPECT_EQ(packet.payload[21], 3);
	EXPECT_FALSE(camera_caps_parse(packet.payload, &caps));

	ASSERT_TRUE(client.read_packet(&packet));
	EXPECT_EQ(packet.header.flags, 0x09) << "no valid capabilities follow";
}

TEST(SenderSetupFaults, MalformedAudioConfigsAreRefusedAndAudioStillFlows)
{
	SenderProcess sender(with({"--malformed-audio-config"}));
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	Packet packet;
	ASSERT_TRUE(client.read_packet(&packet));
	ASSERT_EQ(packet.header.flags, 0x04);

	std::vector<uint32_t> lengths;
	for (int i = 0; i < 3; i++) {
		ASSERT_TRUE(client.read_packet(&packet));
		ASSERT_EQ(packet.header.flags, 0x09);
		AudioConfig config = {};
		EXPECT_FALSE(audio_config_parse(packet.payload, &config)) << "config " << i;
		lengths.push_back(packet.header.length);
		if (i == 0) {
			EXPECT_EQ(packet.payload[5], 65) << "asc_len";
		}
	}
	EXPECT_EQ(lengths[0], 6u + 65);
	EXPECT_EQ(lengths[2], 5u);
	EXPECT_LT(lengths[1], 6u + 64);

	ASSERT_TRUE(client.read_until(PacketKind::audio_data, &packet));
	EXPECT_EQ(packet.header.flags, 0x08);
}

TEST(SenderPacketFaults, ZeroLengthPacketsComeBeforeEveryPacket)
{
	SenderProcess sender(with({"--zero-length"}));
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	const uint8_t cycle[] = {0x04, 0x00, 0x01, 0x08, 0x09, 0x0C, 0x02, 0xFF};
	std::vector<uint8_t> real_flags;
	for (int i = 0; i < 20; i++) {
		Packet empty, real;
		ASSERT_TRUE(client.read_packet(&empty));
		EXPECT_EQ(empty.header.length, 0u) << "packet " << i;
		EXPECT_EQ(empty.header.flags, cycle[i % 8]) << "packet " << i;
		ASSERT_TRUE(client.read_packet(&real));
		EXPECT_GT(real.header.length, 0u) << "packet " << i;
		real_flags.push_back(real.header.flags);
	}
	EXPECT_EQ(real_flags[0], 0x04);
	EXPECT_EQ(real_flags[1], 0x09);
	EXPECT_EQ(real_flags[2], 0x00);
}

/* Past the handshake and the first video packet: the next header, a video
 * packet's of this length. */
static void expect_next_video_header(StreamClient &client, Packet *packet, uint32_t length)
{
	ASSERT_TRUE(client.read_past_handshake(PacketKind::video, packet));
	ASSERT_TRUE(client.read_header(packet));
	EXPECT_EQ(packet->header.flags, 0x00);
	EXPECT_EQ(packet->header.length, length);
}

TEST(SenderPacketFaults, ExactMaxPacketIsFillerThenAKeyframe)
{
	SenderProcess sender(with({"--exact-max"}));
	StreamClient client(sender.port());
	Packet packet;
	ASSERT_NO_FATAL_FAILURE(expect_next_video_header(client, &packet, 0x800000u));
	Bytes payload(packet.header.length);
	ASSERT_TRUE(client.read_exact(payload.data(), payload.size()));
	EXPECT_TRUE(std::all_of(payload.begin(), payload.end(), [](uint8_t b) { return b == 0xA5; }));
	ASSERT_TRUE(client.read_until(PacketKind::video, &packet));
	EXPECT_TRUE(is_keyframe(packet));
}

TEST(SenderPacketFaults, OversizeHeaderAnnouncesOneByteTooMany)
{
	SenderProcess sender(with({"--oversize"}));
	StreamClient client(sender.port());
	Packet packet;
	ASSERT_NO_FATAL_FAILURE(expect_next_video_header(client, &packet, 0x800001u));
	client.close_now();
	EXPECT_TRUE(sender.wait_for_line("disconnected"));
}

TEST(SenderPacketFaults, StallsSplitTheSecondVideoPacket)
{
	{
		SenderProcess sender(with({"--no-audio", "--stall-header", "300"}));
		StreamClient client(sender.port());
		ASSERT_TRUE(client.read_handshake());
		Packet first, second, third;
		ASSERT_TRUE(client.read_until(PacketKind::video, &first));
		ASSERT_TRUE(client.read_packet(&second));
		EXPECT_EQ(second.header_first_read, 6u);
		EXPECT_EQ(second.header.flags, 0x00);
		EXPECT_EQ(nal_types(second.payload), std::vector<int>{1});
		ASSERT_TRUE(client.read_packet(&third));
		EXPECT_EQ(third.header_first_read, (size_t)PACKET_HEADER_SIZE);
	}
	{
		SenderProcess sender(with({"--no-audio", "--stall-payload", "300"}));
		StreamClient client(sender.port());
		ASSERT_TRUE(client.read_handshake());
		Packet first, second;
		ASSERT_TRUE(client.read_until(PacketKind::video, &first));
		ASSERT_TRUE(client.read_packet(&second));
		EXPECT_EQ(second.header_first_read, (size_t)PACKET_HEADER_SIZE);
		EXPECT_EQ(second.payload_first_read, second.header.length / 2);
		EXPECT_EQ(nal_types(second.payload), std::vector<int>{1});
	}
}

TEST(SenderPacketFaults, CloseMidPacketEndsAfterHalfThePayload)
{
	SenderProcess sender(with({"--no-audio", "--close-mid-packet"}));
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	Packet first, second;
	ASSERT_TRUE(client.read_until(PacketKind::video, &first));
	ASSERT_TRUE(client.read_header(&second));
	ASSERT_GT(second.header.length, 1u);
	EXPECT_EQ(client.count_to_end(), (long)(second.header.length / 2));
	EXPECT_TRUE(sender.wait_for_line("disconnected"));
}

TEST(SenderPacketFaults, ClockJumpMovesTimestampsOnce)
{
	for (long jump_ms : {-5000L, 2000L}) {
		SenderProcess sender(
			with({"--no-audio", "--clock-jump", std::to_string(jump_ms), "--clock-jump-after", "0.2"}));
		StreamClient client(sender.port());
		Packet packet;
		ASSERT_TRUE(client.read_past_handshake(PacketKind::video, &packet));
		uint64_t previous = packet.header.timestamp;
		int jumps = 0;
		for (int i = 0; i < 15; i++) {
			ASSERT_TRUE(client.read_packet(&packet));
			int64_t step = (int64_t)(packet.header.timestamp - previous) - 33333;
			previous = packet.header.timestamp;
			if (step == 0 || step == 1)
				continue;
			jumps++;
			EXPECT_TRUE(step == jump_ms * 1000 || step == jump_ms * 1000 + 1) << step;
		}
		EXPECT_EQ(jumps, 1) << jump_ms;
	}
}

} // namespace
