/* Stop latency: how long disabling a source takes (its update callback, which
 * libobs runs on its video thread) in each state of the connection thread,
 * against the thread's own retry pause, measured in the same run as the time
 * from a phone hanging up to the thread's next connection. Every wait of the
 * thread has to end as soon as the stop is signalled: a stop that sat out a
 * wait would hold OBS's video thread, and with it the picture, as long. */

#include "adb/adb-client.h"
#include "elapsed.h"
#include "full-listener.h"
#include "source-calls.h"
#include "bench-report.h"
#include "h264-stream.h"
#include "obs/lifecycle.h"
#include "log-capture.h"
#include "obs-env.h"
#include "obs-settle.h"
#include "ostrelin-sources.h"
#include "obs/ostrelin-source.h"
#include "obs/source-instance.h"
#include "stream-peer.h"
#include "receive/stream-thread.h"
#include "log-lines.h"

#include <sys/socket.h>
#include <util/platform.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int repeats = 5;
constexpr int pause_samples = 3;
/* A stop that waited out even a tenth of the pause would be felt; beyond
 * half the pause it has waited for something it should have cut short. */
constexpr Goal ratio_goal = {0.1, 0.5};

/* The time disabling the source took, or negative when its thread still runs. */
double stop_ms(obs_source_t *source)
{
	double ms = disable_ms(source);
	return plat_thread_running(&source_instance(source)->conn.thread) ? -1 : ms;
}

/* Each returns the stop time in ms, or a negative value when the state could
 * not be reached. */

double stop_while_connecting()
{
	FullListener full;
	obs_source_t *source = create_ostrelin_source("phone camera", full.port());
	std::this_thread::sleep_for(300ms); /* inside the connect wait */
	double ms = stop_ms(source);
	obs_source_release(source);
	return ms;
}

double stop_while_awaiting_handshake()
{
	peer::Listener listener;
	obs_source_t *source = create_ostrelin_source("phone camera", listener.port());
	peer::Connection phone = listener.accept(3000);
	std::this_thread::sleep_for(200ms); /* the thread reads the handshake */
	double ms = phone.valid() ? stop_ms(source) : -1;
	obs_source_release(source);
	return ms;
}

double stop_while_streaming(const EncodedStream &stream)
{
	peer::Listener listener;
	obs_source_t *source = create_ostrelin_source("phone camera", listener.port());
	peer::Connection phone = listener.accept(3000);
	const StreamShape &shape = stream.shape;
	if (!phone.valid() ||
	    !phone.send(peer::handshake((uint16_t)shape.width, (uint16_t)shape.height, (uint8_t)shape.fps))) {
		obs_source_release(source);
		return -1;
	}

	/* The phone goes on sending at its frame rate until the stop closes the
	 * connection. */
	std::atomic<bool> sending = true;
	std::thread sender([&] {
		auto next = Clock::now();
		for (size_t i = 0; sending; i = (i + 1) % stream.access_units.size()) {
			if (!phone.send(peer::packet(0x00, os_gettime_ns() / 1000, stream.access_units[i])))
				return;
			next += std::chrono::microseconds(1'000'000 / shape.fps);
			std::this_thread::sleep_until(next);
		}
	});
	bool streaming = wait_until([&] { return source_instance(source)->status.frames_decoded >= 10; }, 5000ms);
	double ms = streaming ? stop_ms(source) : -1;
	sending = false;
	sender.join();
	obs_source_release(source);
	return ms;
}

double stop_while_pausing_after_failed_connect(const LogCapture &log)
{
	size_t before = log.count_prefix(plugin_line_head(LOGTEXT_UNREACHABLE));
	obs_source_t *source = create_ostrelin_source("phone camera", peer::unused_port());
	bool pausing = log.wait_for_prefix(plugin_line_head(LOGTEXT_UNREACHABLE), before + 1, 3000ms);
	std::this_thread::sleep_for(50ms);
	double ms = pausing ? stop_ms(source) : -1;
	obs_source_release(source);
	return ms;
}

double stop_while_pausing_after_phone_left(const LogCapture &log)
{
	size_t before = log.count_prefix(plugin_line_head(LOGTEXT_DISCONNECTED));
	peer::Listener listener;
	obs_source_t *source = create_ostrelin_source("phone camera", listener.port());
	peer::Connection phone = listener.accept(3000);
	phone.send(peer::handshake());
	phone.close();
	bool pausing = log.wait_for_prefix(plugin_line_head(LOGTEXT_DISCONNECTED), before + 1, 3000ms);
	std::this_thread::sleep_for(50ms);
	double ms = pausing ? stop_ms(source) : -1;
	obs_source_release(source);
	return ms;
}

/* The reference: the phone hangs up after the handshake, and the thread
 * pauses before it connects again. Negative when it never came back. */
double measure_retry_pause_ms()
{
	peer::Listener listener;
	obs_source_t *source = create_ostrelin_source("phone camera", listener.port());
	std::vector<double> pauses;
	peer::Connection phone = listener.accept(3000);
	for (int i = 0; i < pause_samples && phone.valid(); i++) {
		phone.send(peer::handshake());
		std::this_thread::sleep_for(100ms); /* the thread streams now */
		auto hung_up = Clock::now();
		phone.close();
		phone = listener.accept(3000);
		if (phone.valid())
			pauses.push_back(since_ms(hung_up));
	}
	obs_source_release(source);
	return (int)pauses.size() == pause_samples ? median(pauses) : -1;
}

struct State {
	const char *name;
	std::function<double()> stop;
};

int run(BenchReport &report)
{
	EncodedStream stream;
	std::string error;
	if (!make_stream(small_stream_shape, &stream, &error))
		return report.cannot_run(error.c_str());

	LogCapture log; /* also keeps libobs's lines off the output */
	ObsEnv env;
	obs_register_source(&ostrelin_source_info);
	adb_set_server_port(peer::unused_port()); /* Wi-Fi sources; destroy asks no adb server */

	report.section("Stop latency: disabling a source, in each state of its connection thread");
	double pause_ms = measure_retry_pause_ms();
	if (pause_ms <= 0)
		return report.cannot_run("the connection thread never came back after a phone hung up");
	report.line("reference: the thread's retry pause, measured from a phone hanging up to the next "
		    "connection: %.1f ms (median of %d; the pause is set to %d ms)",
		    pause_ms, pause_samples, RETRY_PAUSE_MS);
	report.line("%d stops per state; the worst one is judged", repeats);

	const State states[] = {
		{"connecting", stop_while_connecting},
		{"awaiting the handshake", stop_while_awaiting_handshake},
		{"streaming",
		 [&] {
			 return stop_while_streaming(stream);
		 }},
		{"pausing after a failed connect",
		 [&] {
			 return stop_while_pausing_after_failed_connect(log);
		 }},
		{"pausing after the phone left",
		 [&] {
			 return stop_while_pausing_after_phone_left(log);
		 }},
	};
	for (const State &state : states) {
		std::vector<double> stops;
		for (int i = 0; i < repeats; i++) {
			double ms = state.stop();
			if (ms < 0) {
				std::string why = std::string("could not stop the source while ") + state.name;
				return report.cannot_run(why.c_str());
			}
			stops.push_back(ms);
		}
		report.line("%s: median %.2f ms, worst %.2f ms", state.name, median(stops), percentile(stops, 100));
		std::string what = std::string("stop while ") + state.name + " / retry pause (worst)";
		report.judge(what.c_str(), percentile(stops, 100) / pause_ms, ratio_goal);
	}
	return report.exit_status();
}

} // namespace

int main()
{
	return bench_main("stop", run);
}
