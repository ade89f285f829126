/* How long OBS's threads are held inside the plug-in's callbacks when the
 * world around it misbehaves. libobs runs a source's update on its video
 * thread, destroy on its destruction thread, the panel and its buttons on the
 * interface thread: every millisecond spent there is a frame late or a UI
 * that does not answer.
 *
 * For each situation a source is created, takes 200 rapid control changes
 * (as a dragged slider gives them), "Smooth and in sync" switched on and off
 * 20 times, a change of its connection settings, Rescan presses and panel
 * builds, and is removed. The callbacks are the
 * plug-in's own, wrapped in timers and registered with libobs, so libobs
 * calls them on its own threads. Reference: the video tick measured in the
 * same run; a hold is judged against it. */

#include "adb/adb-background.h"
#include "adb/adb-client.h"
#include "bench-report.h"
#include "elapsed.h"
#include "fake-adb-server.h"
#include "h264-stream.h"
#include "log-capture.h"
#include "obs-env.h"
#include "obs-settle.h"
#include "obs/ostrelin-source.h"
#include "obs/settings.h"
#include "stream-peer.h"

#include <util/platform.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

/* 5 ms of a 33 ms tick at 30 fps. */
constexpr Goal ratio_goal = {0.15, 0.5};
/* Each situation runs this often; the median run is judged, so that one
 * moment the system gave the CPU to someone else does not decide. */
constexpr int runs = 3;

struct Hold {
	double longest_ms = 0;
	double total_ms = 0;
	int calls = 0;
};

std::mutex g_holds_lock;
std::map<std::string, Hold> g_holds;

void record(const char *callback, Clock::time_point start)
{
	double ms = since_ms(start);
	std::lock_guard<std::mutex> guard(g_holds_lock);
	Hold &h = g_holds[callback];
	h.longest_ms = std::max(h.longest_ms, ms);
	h.total_ms += ms;
	h.calls++;
}

std::map<std::string, Hold> take_holds()
{
	std::lock_guard<std::mutex> guard(g_holds_lock);
	std::map<std::string, Hold> out;
	out.swap(g_holds);
	return out;
}

/* The plug-in's callbacks, each timed where libobs calls it. */
obs_source_info timed_info()
{
	obs_source_info info = ostrelin_source_info;
	info.id = "ostrelin_timed";
	info.create = [](obs_data_t *settings, obs_source_t *source) {
		auto start = Clock::now();
		void *data = ostrelin_source_info.create(settings, source);
		record("create (interface thread)", start);
		return data;
	};
	info.update = [](void *data, obs_data_t *settings) {
		auto start = Clock::now();
		ostrelin_source_info.update(data, settings);
		record("update (video thread)", start);
	};
	info.destroy = [](void *data) {
		auto start = Clock::now();
		ostrelin_source_info.destroy(data);
		record("destroy (destruction thread)", start);
	};
	info.get_properties = [](void *data) {
		auto start = Clock::now();
		obs_properties_t *props = ostrelin_source_info.get_properties(data);
		record("panel build (interface thread)", start);
		return props;
	};
	return info;
}

/* A phone on loopback: handshake, capabilities, then as its mode says. */
enum class PhoneMode { streams, stops_reading, vanishes };

class Phone {
public:
	Phone(PhoneMode mode, const EncodedStream &stream) : mode_(mode), stream_(stream)
	{
		thread_ = std::thread([this] { run(); });
	}
	~Phone()
	{
		done_ = true;
		thread_.join();
	}
	uint16_t port() const { return listener_.port(); }

private:
	void serve(peer::Connection &phone)
	{
		const StreamShape &shape = stream_.shape;
		phone.send(peer::handshake((uint16_t)shape.width, (uint16_t)shape.height, (uint8_t)shape.fps));
		phone.send(peer::caps_packet(peer::all_caps()));
		if (mode_ == PhoneMode::vanishes) {
			/* Open, silent, never reading: as if its packets were dropped. */
			while (!done_)
				std::this_thread::sleep_for(10ms);
			return;
		}
		auto next = Clock::now();
		for (size_t i = 0; !done_; i = (i + 1) % stream_.access_units.size()) {
			if (!phone.send(peer::packet(0x00, os_gettime_ns() / 1000, stream_.access_units[i])))
				return;
			if (mode_ == PhoneMode::streams)
				(void)phone.read(4096, 0); /* controls, read and dropped */
			next += std::chrono::microseconds(1'000'000 / shape.fps);
			std::this_thread::sleep_until(next);
		}
	}

	void run()
	{
		while (!done_) {
			peer::Connection phone = listener_.accept(100);
			if (phone.valid())
				serve(phone);
		}
	}

	PhoneMode mode_;
	const EncodedStream &stream_;
	peer::Listener listener_;
	std::atomic<bool> done_ = false;
	std::thread thread_;
};

enum class AdbMode { absent, silent, trickles };

struct Situation {
	const char *name;
	bool usb;
	AdbMode adb;
	PhoneMode phone;
};

std::unique_ptr<FakeAdbServer> adb_server(AdbMode mode)
{
	if (mode == AdbMode::absent) {
		adb_set_server_port(peer::unused_port());
		return nullptr;
	}
	auto server = std::make_unique<FakeAdbServer>(0, [mode](const std::string &request) {
		if (mode == AdbMode::silent)
			return FakeAdbReply::silence();
		return FakeAdbReply::trickle(request == "host:devices" ? "OKAY000edev1\tdevice\n" : "OKAY", 1500);
	});
	adb_set_server_port(server->port());
	return server;
}

void apply(obs_source_t *source, const std::function<void(obs_data_t *)> &edit)
{
	obs_data_t *settings = obs_data_create();
	edit(settings);
	update_source(source, settings);
	obs_data_release(settings);
}

void drive(const Situation &s, const EncodedStream &stream)
{
	Phone phone(s.phone, stream);
	std::unique_ptr<FakeAdbServer> adb = adb_server(s.adb);

	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, SETTING_CONN_MODE, conn_mode_value(s.usb));
	obs_data_set_string(settings, SETTING_HOST, "127.0.0.1");
	obs_data_set_int(settings, SETTING_PORT, phone.port());
	obs_source_t *source = obs_source_create("ostrelin_timed", "phone", settings, nullptr);
	obs_data_release(settings);
	std::this_thread::sleep_for(700ms); /* streaming, or inside an adb request */

	for (int i = 0; i < 200; i++) {
		apply(source, [i](obs_data_t *d) {
			obs_data_set_double(d, "zoom", 1.0 + (i % 70) / 10.0);
			obs_data_set_int(d, "ev", i % 12);
		});
		std::this_thread::sleep_for(2ms);
	}
	wait_video_ticks(2);

	/* Switched live, each way, while pictures are held or handed over. */
	for (int i = 0; i < 20; i++) {
		apply(source, [i](obs_data_t *d) { obs_data_set_bool(d, SETTING_SMOOTH_SYNC, i % 2 == 0); });
		std::this_thread::sleep_for(50ms);
	}
	wait_video_ticks(2);

	/* A connection setting: the thread is stopped and started anew. */
	apply(source, [](obs_data_t *d) { obs_data_set_string(d, SETTING_DEVICE, "R58M123"); });
	wait_video_ticks(2);

	for (int i = 0; i < 3; i++) {
		obs_properties_t *props = obs_source_properties(source);
		auto start = Clock::now();
		obs_property_button_clicked(obs_properties_get(props, "refresh"), source);
		record("Rescan (interface thread)", start);
		obs_properties_destroy(props);
	}
	for (int i = 0; i < 5; i++)
		obs_properties_destroy(obs_source_properties(source));

	obs_source_release(source);
	obs_wait_for_destroy_queue();
	adb_background_shutdown(0);
}

double measure_tick_ms()
{
	wait_video_ticks(2); /* the video thread has started */
	uint64_t first = obs_get_video_frame_time();
	wait_video_ticks(31);
	return (double)(obs_get_video_frame_time() - first) / 31.0 / 1e6;
}

int run(BenchReport &report)
{
	EncodedStream stream;
	std::string error;
	if (!make_stream(small_stream_shape, &stream, &error))
		return report.cannot_run(error.c_str());

	LogCapture log;
	ObsEnv env;
	obs_source_info info = timed_info();
	obs_register_source(&info);

	report.section("Time OBS's threads spend inside the plug-in's callbacks");
	double tick_ms = measure_tick_ms();
	report.line("reference: OBS's video tick in this run, %.2f ms", tick_ms);

	const Situation situations[] = {
		{"normal streaming", false, AdbMode::absent, PhoneMode::streams},
		{"no adb server", true, AdbMode::absent, PhoneMode::streams},
		{"adb server that never answers", true, AdbMode::silent, PhoneMode::streams},
		{"adb server answering a byte every 1.5 s", true, AdbMode::trickles, PhoneMode::streams},
		{"phone that stops reading", false, AdbMode::absent, PhoneMode::stops_reading},
		{"phone that vanishes without closing", false, AdbMode::absent, PhoneMode::vanishes},
	};
	report.line("%d runs per situation; figures per callback over all runs", runs);
	for (const Situation &s : situations) {
		std::map<std::string, Hold> all;
		std::vector<double> run_longest;
		for (int r = 0; r < runs; r++) {
			drive(s, stream);
			double longest = 0;
			for (auto &[callback, hold] : take_holds()) {
				Hold &sum = all[callback];
				sum.longest_ms = std::max(sum.longest_ms, hold.longest_ms);
				sum.total_ms += hold.total_ms;
				sum.calls += hold.calls;
				longest = std::max(longest, hold.longest_ms);
			}
			run_longest.push_back(longest);
		}
		report.line("%s:", s.name);
		for (auto &[callback, hold] : all) {
			report.line("  %-32s %3d calls, longest %7.3f ms, total %8.3f ms", callback.c_str(), hold.calls,
				    hold.longest_ms, hold.total_ms);
		}
		std::string what = std::string(s.name) + ": longest hold / video tick (median run)";
		report.judge(what.c_str(), median(run_longest) / tick_ms, ratio_goal);
		report.line("  worst run: longest hold %.3f ms", percentile(run_longest, 100));
	}
	return report.exit_status();
}

} // namespace

int main()
{
	return bench_main("holds", run);
}
