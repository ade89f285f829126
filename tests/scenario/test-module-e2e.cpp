/* The built module loaded into a real libobs as OBS loads it, aimed at the
 * reference sender over loopback: OBS shows the sender's test picture and
 * plays its tone, camera controls reach the phone in their order, disabling
 * ends the connection thread and the socket, and removing the source asks the
 * adb server to drop the port forward. */

#include "fake-adb-server.h"
#include "log-capture.h"
#include "obs-env.h"
#include "obs-settle.h"
#include "helpers/obs-probe.h"
#include "ostrelin-sources.h"
#include "rgba-picture.h"
#include "source-snapshot.h"
#include "helpers/test-sender.h"
#include "log-lines.h"
#include "obs/settings.h"
#include "protocol/stream-protocol.h"

#include <obs.h>
#include <util/bmem.h>

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using sender_test::SenderProcess;

namespace {

using Sender = sender_test::BoundedSender;

/* The ids of this process's threads. */
std::set<long> thread_ids()
{
	std::set<long> ids;
	if (DIR *dir = opendir("/proc/self/task")) {
		while (dirent *entry = readdir(dir))
			if (entry->d_name[0] != '.')
				ids.insert(strtol(entry->d_name, nullptr, 10));
		closedir(dir);
	}
	return ids;
}

std::set<long> minus(const std::set<long> &a, const std::set<long> &b)
{
	std::set<long> out;
	std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(out, out.end()));
	return out;
}

/* The source drawn as OBS draws it, at its own size, read back from the GPU. */
std::optional<Picture> render(obs_source_t *source)
{
	Picture picture;
	if (!snapshot_source(source, &picture))
		return std::nullopt;
	return picture;
}

/* The frame counter of the sender's picture: 16 blocks of side s at the top
 * of the right half, most significant bit first, white for 1. */
int frame_counter(const Picture &p)
{
	uint32_t s = std::max(2u, (p.width / 2 / 16) & ~1u);
	int n = 0;
	for (uint32_t i = 0; i < 16; i++) {
		Rgba c = p.at(p.width / 2 + i * s + s / 2, s / 2);
		n = n * 2 + (c.r + c.g + c.b > 3 * 128 ? 1 : 0);
	}
	return n;
}

class ModuleE2E : public testing::Test {
protected:
	void SetUp() override
	{
		env = std::make_unique<ObsEnv>();
		probe::register_types();
		ASSERT_NE(env->load_module(), nullptr);
	}

	void TearDown() override
	{
		for (obs_source_t *s : sources)
			release_source(s);
		sources.clear();
		env.reset();
		/* Every allocation the module made through libobs is back. */
		EXPECT_EQ(bnum_allocs(), 0);
	}

	obs_source_t *create(const std::function<void(obs_data_t *)> &edit)
	{
		obs_source_t *source = create_ostrelin_source("phone", edit);
		if (source)
			sources.push_back(source);
		return source;
	}

	obs_source_t *create_wifi(uint16_t port, const char *device = "")
	{
		return create([&](obs_data_t *s) {
			set_wifi_target(s, port);
			obs_data_set_string(s, SETTING_DEVICE, device);
		});
	}

	void release(obs_source_t *source)
	{
		std::erase(sources, source);
		release_source(source);
	}

	/* As the properties panel changes settings. libobs applies the change on
	 * its video thread at the next tick: wait until it has. */
	static void change(obs_source_t *source, const std::function<void(obs_data_t *)> &edit)
	{
		obs_data_t *settings = obs_data_create();
		edit(settings);
		update_source(source, settings);
		obs_data_release(settings);
		for (int i = 0; i < 2; i++) {
			uint64_t frame = obs_get_video_frame_time();
			wait_until([&] { return obs_get_video_frame_time() != frame; }, 2000ms);
		}
	}

	/* The next n lines the sender prints. */
	/* The lines the sender prints for the five controls of one update. */
	static std::vector<std::string> control_lines(const char *zoom, const char *ev, const char *torch,
						      const char *ae_lock, const char *awb)
	{
		return {std::string("control zoom ") + zoom, std::string("control ev ") + ev,
			std::string("control torch ") + torch, std::string("control ae_lock ") + ae_lock,
			std::string("control awb ") + awb};
	}

	static std::vector<std::string> next_lines(SenderProcess &sender, int n)
	{
		std::vector<std::string> lines;
		for (int i = 0; i < n; i++)
			lines.push_back(sender.next_line(5000));
		return lines;
	}

	LogCapture log;
	std::unique_ptr<ObsEnv> env;
	std::vector<obs_source_t *> sources;
};

} // namespace

TEST_F(ModuleE2E, ShowsTheSendersPictureAndPlaysItsTone)
{
	Sender sender;
	ASSERT_NE(sender.port(), 0);
	obs_source_t *source = create_wifi(sender.port());
	ASSERT_NE(source, nullptr);
	probe::Recorder recorder;
	probe::Attachment attachment(source, &recorder);

	ASSERT_TRUE(sender.wait_for_line("connected"));
	ASSERT_TRUE(log.wait_for(LOG_INFO, plugin_line(LOGTEXT_STREAM_CONNECTED, 640, 360, 30), 5000ms));
	ASSERT_TRUE(recorder.wait_frames(30, 10000ms));
	ASSERT_TRUE(recorder.wait_audio(20, 10000ms));

	auto frames = recorder.frames();
	for (size_t i = 0; i < frames.size(); i++) {
		SCOPED_TRACE(i);
		EXPECT_EQ(frames[i].width, 640u);
		EXPECT_EQ(frames[i].height, 360u);
		if (i > 0) {
			EXPECT_GT(frames[i].timestamp, frames[i - 1].timestamp);
		}
	}
	float peak = 0;
	for (auto &block : recorder.audio())
		peak = std::max(peak, block.peak);
	EXPECT_GT(peak, 0.2f); /* the sender's tone has amplitude 0.5 */

	std::optional<Picture> first;
	ASSERT_TRUE(wait_until(
		[&] {
			first = render(source);
			return first && first->width == 640 && first->at(0, 0).a == 255;
		},
		5000ms));
	const uint32_t w = first->width, h = first->height;
	const uint32_t counter_rows = 20; /* 640 wide: blocks of 20 pixels */
	/* Inside each quarter, away from the edges where the codec blurs colours. */
	EXPECT_EQ(pixels_off(*first, 8, 8, w / 2 - 8, h / 2 - 8, {255, 0, 0, 255}, 6), 0);
	EXPECT_EQ(pixels_off(*first, w / 2 + 8, counter_rows + 8, w - 8, h / 2 - 8, {0, 0, 255, 255}, 6), 0);
	Rgba red = first->at(w / 4, h / 4);
	Rgba blue = first->at(3 * w / 4, h / 4);
	EXPECT_TRUE(red.r >= 250 && red.g <= 4 && red.b <= 4) << red.r << "," << red.g << "," << red.b;
	EXPECT_TRUE(blue.r <= 4 && blue.g <= 4 && blue.b >= 250) << blue.r << "," << blue.g << "," << blue.b;

	/* A live picture: the frame counter moves on. */
	int counter = frame_counter(*first);
	EXPECT_TRUE(wait_until(
		[&] {
			auto later = render(source);
			return later && frame_counter(*later) > counter;
		},
		5000ms));
	attachment.detach();
}

TEST_F(ModuleE2E, CameraControlsReachThePhoneInTheirOrder)
{
	Sender sender({"--caps-flags", "0x0F", "--awb", "1,2,3,5,6"});
	ASSERT_NE(sender.port(), 0);
	obs_source_t *source = create_wifi(sender.port());
	ASSERT_TRUE(sender.wait_for_line("connected"));
	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_CAMERA_CAPS), 1, 5000ms));
	/* The capabilities are answered with the values the settings hold. */
	EXPECT_EQ(next_lines(sender, 5), control_lines("1000", "0", "0", "0", "1"));

	change(source, [](obs_data_t *s) { set_controls(s, {2.5, -3, true, true, 5}); });
	EXPECT_EQ(next_lines(sender, 5), control_lines("2500", "-3", "1", "1", "5"));

	/* Every update sends all of them again, on the same connection. */
	change(source, [](obs_data_t *s) { obs_data_set_double(s, "zoom", 1.0); });
	EXPECT_EQ(next_lines(sender, 5), control_lines("1000", "-3", "1", "1", "5"));

	change(source, [](obs_data_t *s) {
		obs_data_set_bool(s, "torch", false);
		obs_data_set_bool(s, "ae_lock", false);
		obs_data_set_int(s, "ev", 12);
	});
	EXPECT_EQ(next_lines(sender, 5), control_lines("1000", "12", "0", "0", "5"));
	EXPECT_EQ(std::count(sender.lines().begin(), sender.lines().end(), "connected"), 1);
}

TEST_F(ModuleE2E, DisablingEndsTheConnectionThreadAndClosesTheSocket)
{
	Sender sender;
	ASSERT_NE(sender.port(), 0);
	std::set<long> before = thread_ids();
	obs_source_t *source = create_wifi(sender.port());
	ASSERT_TRUE(sender.wait_for_line("connected"));
	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_STREAM_CONNECTED), 1, 5000ms));
	std::set<long> running = thread_ids();
	std::set<long> started = minus(running, before);
	ASSERT_FALSE(started.empty());

	change(source, [](obs_data_t *s) { obs_data_set_bool(s, SETTING_ENABLED, false); });
	EXPECT_TRUE(sender.wait_for_line("disconnected"));
	std::set<long> ended;
	EXPECT_TRUE(wait_until(
		[&] {
			ended = minus(running, thread_ids());
			return !ended.empty();
		},
		3000ms));
	EXPECT_EQ(ended.size(), 1u);
	for (long id : ended) {
		EXPECT_TRUE(started.count(id)) << "thread " << id << " was there before the source";
	}

	/* On again: a new connection. */
	change(source, [](obs_data_t *s) { obs_data_set_bool(s, SETTING_ENABLED, true); });
	EXPECT_TRUE(sender.wait_for_line("connected"));
	EXPECT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_STREAM_CONNECTED), 2, 5000ms));
}

TEST_F(ModuleE2E, RemovalDropsOnlyTheForwardTheSourceMade)
{
	std::string error;
	std::unique_ptr<FakeAdbServer> adb = fake_adb_server_on_5037(&error);
	ASSERT_TRUE(adb) << error;
	Sender sender;
	ASSERT_NE(sender.port(), 0);
	const std::string port = std::to_string(sender.port());

	/* Wi-Fi mode makes no forward, and removes none. */
	obs_source_t *source = create_wifi(sender.port(), "R58M123");
	ASSERT_TRUE(sender.wait_for_line("connected"));
	release(source);
	EXPECT_TRUE(sender.wait_for_line("disconnected"));

	/* USB mode: the stand-in server makes the forward, the phone is reached
	 * on the same local port, and removal drops that forward. */
	source = create([&](obs_data_t *s) {
		obs_data_set_int(s, SETTING_CONN_MODE, 0);
		obs_data_set_string(s, SETTING_DEVICE, "R58M123");
		obs_data_set_int(s, SETTING_PORT, sender.port());
	});
	ASSERT_TRUE(sender.wait_for_line("connected"));
	release(source);
	EXPECT_TRUE(adb->wait_for_request("host-serial:R58M123:killforward:tcp:" + port, 5000));
	/* Only forward requests: another program may ask this port for devices. */
	std::vector<std::string> forwards;
	for (const std::string &r : adb->requests()) {
		if (r.find("forward:") != std::string::npos)
			forwards.push_back(r);
	}
	EXPECT_EQ(forwards, (std::vector<std::string>{"host-serial:R58M123:forward:tcp:" + port +
							      ";localabstract:" ADB_SOCKET_NAME,
						      "host-serial:R58M123:killforward:tcp:" + port}));
}
