/* The sender's options for measuring a receiver: plain Annex B, the log of
 * what it wrote and when, connections that drop, a picture that turns, a
 * clock that drifts. */

#include "helpers/test-sender.h"

#include <fstream>
#include <sstream>

using namespace sender_test;

namespace {

struct LogLine {
	std::string kind;
	std::vector<long long> values;
};

std::vector<LogLine> read_log(const std::string &path)
{
	std::vector<LogLine> lines;
	std::ifstream file(path);
	std::string text;
	while (std::getline(file, text)) {
		std::istringstream in(text);
		LogLine line;
		in >> line.kind;
		long long value;
		while (in >> value)
			line.values.push_back(value);
		lines.push_back(line);
	}
	return lines;
}

std::vector<LogLine> of_kind(const std::vector<LogLine> &lines, const std::string &kind)
{
	std::vector<LogLine> out;
	for (const LogLine &line : lines)
		if (line.kind == kind)
			out.push_back(line);
	return out;
}

std::string temp_path()
{
	char path[] = "/tmp/ostrelin-sender-log-XXXXXX";
	int fd = mkstemp(path);
	if (fd >= 0)
		close(fd);
	return path;
}

} // namespace

TEST(SenderMeasure, AnnexbSendsNothingButTheVideo)
{
	BoundedSender sender({"--annexb", "--width", "160", "--height", "96", "--gop", "10"});
	StreamClient client(sender.port());
	ASSERT_TRUE(client.connected());
	Bytes stream(4000); /* tiny pictures: more than a keyframe interval */
	ASSERT_TRUE(client.read_exact(stream.data(), stream.size()));

	/* Starts with a start code and the SPS: no handshake, no header. */
	ASSERT_EQ(stream[0], 0);
	ASSERT_EQ(stream[1], 0);
	ASSERT_EQ(stream[2], 0);
	ASSERT_EQ(stream[3], 1);
	EXPECT_EQ(stream[4] & 0x1F, 7);

	std::vector<int> types = nal_types(stream);
	ASSERT_GT(types.size(), 15u);
	/* Only parameter sets, IDR and plain slices (x264 may add an SEI first). */
	for (int type : types)
		EXPECT_TRUE(type == 1 || type == 5 || type == 6 || type == 7 || type == 8) << type;
	EXPECT_GE(std::count(types.begin(), types.end(), 5), 2);
}

TEST(SenderMeasure, LogNamesEveryPictureAndAudioBlockWithItsWireTimestamp)
{
	std::string path = temp_path();
	BoundedSender sender({"--width", "160", "--height", "96", "--send-log", path});
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	std::vector<Packet> video, audio;
	Packet packet;
	while (video.size() < 15) {
		ASSERT_TRUE(client.read_packet(&packet));
		if (packet.header.length == 0)
			continue;
		if (packet_kind(packet.header.flags) == PacketKind::video)
			video.push_back(packet);
		else if (packet_kind(packet.header.flags) == PacketKind::audio_data)
			audio.push_back(packet);
	}
	int64_t received_ns = monotonic_us() * 1000;
	client.close_now();
	ASSERT_TRUE(sender.wait_for_line("disconnected"));

	std::vector<LogLine> lines = read_log(path);
	std::vector<LogLine> opens = of_kind(lines, "open"), logged = of_kind(lines, "video");
	std::vector<LogLine> sounds = of_kind(lines, "audio"), closes = of_kind(lines, "close");
	ASSERT_EQ(opens.size(), 1u);
	ASSERT_EQ(closes.size(), 1u);
	ASSERT_GE(logged.size(), video.size());
	ASSERT_GE(sounds.size(), audio.size());
	for (size_t i = 0; i < video.size(); i++) {
		const LogLine &line = logged[i];
		ASSERT_EQ(line.values.size(), 6u);
		EXPECT_EQ(line.values[0], 0);                  /* connection */
		EXPECT_EQ(line.values[1], (long long)i);       /* frame */
		EXPECT_GE(line.values[2], opens[0].values[1]); /* written after the connection opened */
		EXPECT_LE(line.values[2], received_ns);        /* and before we had it */
		EXPECT_EQ(line.values[3], 160);
		EXPECT_EQ(line.values[4], 96);
		EXPECT_EQ((uint64_t)line.values[5], video[i].header.timestamp);
		if (i > 0) {
			EXPECT_GT(line.values[2], logged[i - 1].values[2]);
		}
	}
	for (size_t i = 0; i < audio.size(); i++)
		EXPECT_EQ((uint64_t)sounds[i].values[2], audio[i].header.timestamp) << "audio " << i;
	EXPECT_GE(closes[0].values[1], logged.back().values[2]);
	remove(path.c_str());
}

TEST(SenderMeasure, DropsEachConnectionAndStartsTheNextAfresh)
{
	std::string path = temp_path();
	BoundedSender sender(
		{"--width", "160", "--height", "96", "--no-audio", "--drop-every", "0.5", "--send-log", path});
	for (int connection = 0; connection < 2; connection++) {
		StreamClient client(sender.port());
		ASSERT_TRUE(client.read_handshake());
		Packet first;
		ASSERT_TRUE(client.read_until(PacketKind::video, &first));
		EXPECT_TRUE(contains(nal_types(first.payload), 5)) << "connection " << connection;
		/* The sender ends the connection by itself. */
		EXPECT_GT(client.count_to_end(), 0) << "connection " << connection;
		ASSERT_TRUE(sender.wait_for_line("disconnected"));
	}
	std::vector<LogLine> logged = of_kind(read_log(path), "video");
	std::vector<LogLine> second;
	for (const LogLine &line : logged)
		if (line.values[0] == 1)
			second.push_back(line);
	ASSERT_FALSE(second.empty());
	EXPECT_EQ(second[0].values[1], 0); /* frame numbers start again */
	remove(path.c_str());
}

TEST(SenderMeasure, TurnsThePictureWithNewParameterSetsAndAnIdr)
{
	std::string path = temp_path();
	BoundedSender sender({"--width", "160", "--height", "96", "--no-audio", "--gop", "1000", "--rotate-every",
			      "0.4", "--send-log", path});
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	std::vector<Packet> video;
	Packet packet;
	while (video.size() < 40) {
		ASSERT_TRUE(client.read_until(PacketKind::video, &packet));
		video.push_back(packet);
	}
	client.close_now();
	ASSERT_TRUE(sender.wait_for_line("disconnected"));

	std::vector<LogLine> logged = of_kind(read_log(path), "video");
	ASSERT_GE(logged.size(), video.size());
	int turns = 0;
	for (size_t i = 1; i < video.size(); i++) {
		bool turned = logged[i].values[3] != logged[i - 1].values[3];
		std::vector<int> types = nal_types(video[i].payload);
		/* With a keyframe only every 1000 frames, an IDR comes only with a turn. */
		EXPECT_EQ(contains(types, 7) && contains(types, 5), turned) << "frame " << i;
		if (turned) {
			turns++;
			EXPECT_EQ(logged[i].values[3], logged[i - 1].values[4]);
			EXPECT_EQ(logged[i].values[4], logged[i - 1].values[3]);
		}
	}
	EXPECT_GE(turns, 2); /* to portrait and back */
	remove(path.c_str());
}

TEST(SenderMeasure, DriftingClockStampsAndPacesWithThePhonesTime)
{
	/* 10 % fast: 30 pictures of the phone's second come in 0.91 s of ours,
	 * and their timestamps say a whole second. */
	std::string path = temp_path();
	BoundedSender sender(
		{"--width", "160", "--height", "96", "--no-audio", "--clock-drift", "100000:1000", "--send-log", path});
	StreamClient client(sender.port());
	ASSERT_TRUE(client.read_handshake());
	Packet packet;
	for (int i = 0; i < 61; i++)
		ASSERT_TRUE(client.read_until(PacketKind::video, &packet));
	client.close_now();
	ASSERT_TRUE(sender.wait_for_line("disconnected"));

	std::vector<LogLine> logged = of_kind(read_log(path), "video");
	ASSERT_GE(logged.size(), 61u);
	double wire_us = (double)(logged[60].values[5] - logged[0].values[5]);
	double written_us = (double)(logged[60].values[2] - logged[0].values[2]) / 1000;
	EXPECT_NEAR(wire_us, 2000000, 2); /* 60 frames of the phone's clock */
	EXPECT_NEAR(wire_us / written_us, 1.1, 0.03);
	remove(path.c_str());
}

TEST(SenderMeasure, RefusesMalformedMeasuringOptions)
{
	for (std::vector<std::string> args : {std::vector<std::string>{"--clock-drift", "fast"},
					      {"--clock-drift", "2000:0"},
					      {"--drop-every", "-1"},
					      {"--rotate-every", "x"},
					      {"--send-log", "/nonexistent-dir/log"}}) {
		SenderProcess sender(args);
		EXPECT_NE(sender.wait_exit(5000), 0) << args[0] << " " << args[1];
	}
}
