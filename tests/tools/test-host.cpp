/* The headless OBS host run as a user runs it: against the reference sender
 * it exits 0, prints the plug-in's own log lines and writes a PNG that shows
 * the sender's picture; in USB mode it has the adb server forward the port
 * first; with nothing listening it fails; bad options are refused before
 * libobs starts. */

#include "child-process.h"
#include "fake-adb-server.h"
#include "read-file.h"
#include "rgba-picture.h"
#include "helpers/test-sender.h"
#include "log-lines.h"
#include "protocol/stream-protocol.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using sender_test::SenderProcess;

namespace {

struct HostRun {
	int status = -1; /* exit status, -1 when it did not exit normally in time */
	std::string output;
};

class TempDir {
public:
	TempDir()
	{
		char pattern[] = "/tmp/ostrelin-host-test-XXXXXX";
		if (mkdtemp(pattern))
			path_ = pattern;
	}
	~TempDir()
	{
		if (!path_.empty())
			std::system(("rm -rf '" + path_ + "'").c_str());
	}
	const std::string &path() const { return path_; }

private:
	std::string path_;
};

/* Runs the host (stdout and stderr into one file) and waits for its end. It
 * inherits this test's X display. */
HostRun run_host(const TempDir &dir, std::vector<std::string> args)
{
	ChildLaunch launch;
	launch.argv = std::move(args);
	launch.argv.insert(launch.argv.begin(), OSTRELIN_HOST_PATH);
	launch.null_stdin = true;
	launch.output = ChildOutput::file;
	launch.output_file = dir.path() + "/host.out";
	ChildProcess host;
	HostRun run;
	if (host.start(launch) == 0)
		run.status = host.wait_exit(90 * 1000);
	run.output = read_file(launch.output_file).value_or("");
	return run;
}

bool has_line(const std::string &text, const std::regex &pattern)
{
	std::istringstream lines(text);
	for (std::string line; std::getline(lines, line);)
		if (std::regex_match(line, pattern))
			return true;
	return false;
}

/* A line that matches the pattern and whose fields `accept` takes. */
template<typename Accept> bool has_line(const std::string &text, const std::regex &pattern, Accept accept)
{
	std::istringstream lines(text);
	std::smatch fields;
	for (std::string line; std::getline(lines, line);)
		if (std::regex_match(line, fields, pattern) && accept(fields))
			return true;
	return false;
}

bool has_exact_line(const std::string &text, const std::string &expected)
{
	std::istringstream lines(text);
	for (std::string line; std::getline(lines, line);)
		if (line == expected)
			return true;
	return false;
}

/* The PNG decoded by libavcodec into RGBA; empty when it is no PNG. */
Picture decode_png(const std::string &bytes)
{
	Picture picture;
	const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_PNG);
	AVCodecContext *ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
	AVPacket *packet = av_packet_alloc();
	AVFrame *frame = av_frame_alloc();
	if (ctx && packet && frame && avcodec_open2(ctx, codec, nullptr) == 0 &&
	    av_new_packet(packet, (int)bytes.size()) == 0) {
		memcpy(packet->data, bytes.data(), bytes.size());
		if (avcodec_send_packet(ctx, packet) == 0 && avcodec_receive_frame(ctx, frame) == 0 &&
		    frame->format == AV_PIX_FMT_RGBA) {
			picture.width = frame->width;
			picture.height = frame->height;
			picture.rgba.resize((size_t)frame->width * frame->height * 4);
			for (int y = 0; y < frame->height; y++)
				memcpy(&picture.rgba[(size_t)y * frame->width * 4],
				       frame->data[0] + y * frame->linesize[0], (size_t)frame->width * 4);
		}
	}
	av_frame_free(&frame);
	av_packet_free(&packet);
	avcodec_free_context(&ctx);
	return picture;
}

uint32_t big_endian_u32(const std::string &bytes, size_t at)
{
	return (uint32_t)(uint8_t)bytes[at] << 24 | (uint32_t)(uint8_t)bytes[at + 1] << 16 |
	       (uint32_t)(uint8_t)bytes[at + 2] << 8 | (uint32_t)(uint8_t)bytes[at + 3];
}

} // namespace

/* A sender at 320x180: the PNG is at the picture's own size, whatever the
 * canvas. The run is long enough for one 5-second statistics window. */
TEST(Host, ShowsTheSendersPictureAndPrintsThePluginsLog)
{
	SenderProcess sender({"--width", "320", "--height", "180"});
	ASSERT_NE(sender.port(), 0);
	TempDir dir;
	ASSERT_FALSE(dir.path().empty());
	std::string png = dir.path() + "/last.png";

	HostRun run = run_host(dir, {"--port", std::to_string(sender.port()), "--seconds", "7", "--png", png, "--width",
				     "640", "--height", "360"});
	SCOPED_TRACE(run.output);
	ASSERT_EQ(run.status, 0);

	/* Progress while it ran, then the plug-in's own lines. */
	EXPECT_TRUE(has_line(run.output, std::regex(R"( +[0-9]+ s  connected +pictures +[1-9][0-9]* .*)")));
	EXPECT_TRUE(has_exact_line(run.output, plugin_line(LOGTEXT_PLUGIN_LOADED)));
	EXPECT_TRUE(has_exact_line(run.output, plugin_line(LOGTEXT_STREAM_CONNECTED, 320, 180, 30)));
	/* Figures that cannot be below zero; some audio packets. */
	EXPECT_TRUE(has_line(run.output, plugin_line_regex(LOGTEXT_STATS), [](const std::smatch &m) {
		return std::stod(m[1]) >= 0 && std::stod(m[2]) >= 0 && std::stod(m[3]) >= 0;
	}));
	EXPECT_TRUE(has_line(run.output, plugin_line_regex(LOGTEXT_STATS_AUDIO),
			     [](const std::smatch &m) { return std::stoull(m[1]) > 0; }));
	EXPECT_TRUE(has_line(run.output, std::regex(R"(received [1-9][0-9]* pictures .* and [1-9][0-9]* audio .*)")));
	EXPECT_TRUE(has_line(run.output, std::regex("last picture \\(320x180\\) written to " + png)));

	std::string bytes = read_file(png).value_or("");
	ASSERT_GT(bytes.size(), 33u);
	EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
	EXPECT_EQ(bytes.substr(12, 4), "IHDR");
	EXPECT_EQ(big_endian_u32(bytes, 16), 320u);
	EXPECT_EQ(big_endian_u32(bytes, 20), 180u);
	EXPECT_FALSE(std::ifstream(png + ".part").good());

	Picture picture = decode_png(bytes);
	ASSERT_EQ(picture.width, 320u);
	ASSERT_EQ(picture.height, 180u);
	/* Red on the left of the top half; blue on the right, below the frame
	 * counter's row of 10-pixel blocks. A few pixels of margin for the
	 * chroma at the edges. */
	EXPECT_EQ(pixels_off(picture, 2, 2, 158, 88, {255, 0, 0, 255}, 12), 0);
	EXPECT_EQ(pixels_off(picture, 162, 12, 318, 88, {0, 0, 255, 255}, 12), 0);
	/* The bottom half is the bars, not a stretched top half. */
	EXPECT_GT(pixels_off(picture, 0, 92, 320, 180, {255, 0, 0, 255}, 12), 320 * 88 / 2);
}

/* USB mode: the plug-in asks the adb server on 5037 (here a stand-in whose
 * forwards succeed) to forward the port to the named phone, then connects to
 * 127.0.0.1 on that port, where the sender plays the phone. */
TEST(Host, UsbModeForwardsThroughTheAdbServer)
{
	std::string error;
	std::unique_ptr<FakeAdbServer> adb = fake_adb_server_on_5037(&error);
	ASSERT_TRUE(adb) << error;
	SenderProcess sender({"--width", "320", "--height", "180"});
	ASSERT_NE(sender.port(), 0);
	const std::string port = std::to_string(sender.port());
	TempDir dir;

	HostRun run = run_host(dir, {"--usb", "--serial", "R58M123", "--port", port, "--seconds", "3", "--png",
				     dir.path() + "/usb.png"});
	SCOPED_TRACE(run.output);
	EXPECT_EQ(run.status, 0);
	EXPECT_TRUE(has_line(run.output,
			     std::regex("source: USB through the adb server, device R58M123, local port " + port)));
	EXPECT_TRUE(has_exact_line(run.output, plugin_line(LOGTEXT_STREAM_CONNECTED, 320, 180, 30)));
	std::vector<std::string> requests = adb->requests();
	ASSERT_FALSE(requests.empty());
	EXPECT_EQ(requests.front(), "host-serial:R58M123:forward:tcp:" + port + ";localabstract:" ADB_SOCKET_NAME);
	EXPECT_EQ(requests.back(), "host-serial:R58M123:killforward:tcp:" + port);
}

TEST(Host, FailsWhenNothingListens)
{
	/* A port that is bound but not listening refuses connections. */
	int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t len = sizeof(addr);
	ASSERT_EQ(bind(holder, (sockaddr *)&addr, sizeof(addr)), 0);
	ASSERT_EQ(getsockname(holder, (sockaddr *)&addr, &len), 0);
	int port = ntohs(addr.sin_port);
	TempDir dir;
	std::string png = dir.path() + "/last.png";

	HostRun run = run_host(dir, {"--port", std::to_string(port), "--seconds", "2", "--png", png});
	close(holder);
	SCOPED_TRACE(run.output);
	EXPECT_EQ(run.status, 1);
	EXPECT_TRUE(has_line(run.output, std::regex(R"( +[0-9]+ s  unreachable +pictures +0 .*)")));
	EXPECT_TRUE(has_exact_line(run.output, plugin_line(LOGTEXT_UNREACHABLE, "127.0.0.1", port)));
	EXPECT_TRUE(has_line(run.output, std::regex(R"(result: FAILED \(no pictures; no audio; unreachable\))")));
	struct stat st;
	EXPECT_NE(stat(png.c_str(), &st), 0);
}

TEST(Host, RefusesBadOptionsBeforeStartingObs)
{
	TempDir dir;
	const std::vector<std::vector<std::string>> bad = {
		{"--port", "0"},     {"--port", "65536"}, {"--seconds", "0"},
		{"--seconds", "x"},  {"--width", "16"},   {"--usb", "--host", "1.2.3.4"},
		{"--serial", "abc"}, {"--frobnicate"},    {"stray-argument"},
	};
	for (const auto &args : bad) {
		HostRun run = run_host(dir, args);
		SCOPED_TRACE(args[0]);
		EXPECT_EQ(run.status, 2);
		EXPECT_EQ(run.output.find("libobs"), std::string::npos) << run.output;
	}
	HostRun help = run_host(dir, {"--help"});
	EXPECT_EQ(help.status, 0);
	EXPECT_NE(help.output.find("--usb"), std::string::npos);
}
