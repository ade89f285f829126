#pragma once
/* The receive loop on a thread of the test, as the connection thread runs it:
 * a real libobs with the probe sink as its source, a real decoder, and a
 * loopback phone whose pictures are the fixtures. */

#include "log-capture.h"
#include "helpers/media-fixtures.h"
#include "obs-env.h"
#include "helpers/obs-probe.h"
#include "receive/receive-loop.h"
#include "receive/receiver.h"
#include "stream-peer.h"
#include "log-lines.h"

#include <gtest/gtest.h>
#include <util/platform.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

/* An access unit padded to `size` bytes with a filler NAL unit, which the
 * decoder reads past. */
inline media::Bytes padded(const media::Bytes &au, size_t size)
{
	media::Bytes out = au;
	const uint8_t filler[] = {0, 0, 0, 1, 0x0c};
	out.insert(out.end(), filler, filler + sizeof(filler));
	out.resize(size - 1, 0xff);
	out.push_back(0x80);
	return out;
}

class ReceiveFixture : public ::testing::Test {
protected:
	void SetUp() override
	{
		env = std::make_unique<ObsEnv>();
		probe::register_types();
		sink = obs_source_create("ostrelin_test_sink", "sink", nullptr, nullptr);
		ASSERT_NE(sink, nullptr);
		attachment = std::make_unique<probe::Attachment>(sink, &recorder);

		rx = receiver_create(sink, &conn, &status, &smooth_sync, &obs_tick);
		rx->video_decoder = ostrelin_decoder_create();
		ASSERT_NE(rx->video_decoder, nullptr);

		ASSERT_TRUE(connection_init(&conn));
		conn.running = true;
		ASSERT_EQ(connection_open(&conn, plat_loopback_be(), listener.port()), ConnectResult::connected);
		phone = listener.accept(2000);
		ASSERT_TRUE(phone.valid());
		start_loop();
	}

	void start_loop()
	{
		loop = std::thread([this] {
			receive_loop(rx);
			loop_ended = true;
		});
	}

	void TearDown() override
	{
		conn.running = false;
		plat_stop_raise(conn.stop);
		if (loop.joinable())
			loop.join();
		connection_close(&conn);
		connection_free(&conn);
		receiver_free(rx);
		attachment.reset();
		obs_source_release(sink);
		env.reset();
	}

	bool wait_ended(std::chrono::milliseconds limit)
	{
		auto end = std::chrono::steady_clock::now() + limit;
		while (!loop_ended && std::chrono::steady_clock::now() < end)
			std::this_thread::sleep_for(5ms);
		return loop_ended;
	}

	/* A capabilities packet is answered by a log line: a marker that every
	 * packet sent before it has been handled. */
	void sync_with_caps()
	{
		size_t before = log.count_prefix(plugin_line_head(LOGTEXT_CAMERA_CAPS));
		ASSERT_TRUE(phone.send(peer::caps_packet(peer::all_caps())));
		ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_CAMERA_CAPS), before + 1, 5000ms));
	}

	bool send_video(const media::Bytes &au, uint64_t ts_us) { return phone.send(peer::packet(0x00, ts_us, au)); }

	/* The loop takes a change of the mode at its next packet: after two
	 * handled packets it has. */
	void switch_smooth_sync(bool on)
	{
		smooth_sync = on;
		sync_with_caps();
		sync_with_caps();
	}

	/* The phone went (or a stop came): the loop has ended; a new phone
	 * connects and the loop runs again for it, as the connection thread
	 * does. */
	void reconnect()
	{
		ASSERT_TRUE(wait_ended(5000ms));
		loop.join();
		connection_close(&conn);
		loop_ended = false;
		conn.running = true; /* after a stop too */
		plat_stop_reset(conn.stop);
		ASSERT_EQ(connection_open(&conn, plat_loopback_be(), listener.port()), ConnectResult::connected);
		phone = listener.accept(2000);
		ASSERT_TRUE(phone.valid());
		start_loop();
	}
	/* OBS's frame rate, as its settings change it. */
	void reset_frame_rate(uint32_t fps)
	{
		obs_video_info ovi;
		ASSERT_TRUE(obs_get_video_info(&ovi));
		ovi.fps_num = fps;
		ovi.fps_den = 1;
		ASSERT_EQ(obs_reset_video(&ovi), OBS_VIDEO_SUCCESS);
	}

	bool send_audio(const media::Bytes &au, uint64_t ts_us) { return phone.send(peer::packet(0x08, ts_us, au)); }

	LogCapture log;
	std::unique_ptr<ObsEnv> env;
	obs_source_t *sink = nullptr;
	probe::Recorder recorder;
	std::unique_ptr<probe::Attachment> attachment;
	StreamConnection conn;
	StreamStatus status;
	ObsTick obs_tick; /* never taken: the hand-over follows OBS's frame time */
	std::atomic<bool> smooth_sync = false;
	Receiver *rx = nullptr;
	peer::Listener listener;
	peer::Connection phone;
	std::thread loop;
	std::atomic<bool> loop_ended = false;

	std::vector<media::Bytes> video = media::access_unit_payloads(media::read_fixture("yuv420.h264"));
	std::vector<media::Bytes> audio = media::read_aac_access_units("aac-stereo");
	media::Bytes asc = media::read_fixture("aac-stereo.asc");
};
