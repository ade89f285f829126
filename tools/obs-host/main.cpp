/* ostrelin-obs-host: runs the Ostrelin plug-in inside a headless libobs the
 * way OBS Studio does, with one source aimed at a phone (or the reference
 * sender), and reports what OBS receives (see --help). Linux only. */

#include "capture.h"
#include "obs-session.h"
#include "options.h"
#include "plugin-log.h"
#include "png-writer.h"
#include "progress.h"
#include "obs/settings.h"
#include "source-snapshot.h"

#include <obs.h>
#include <util/bmem.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

using Clock = std::chrono::steady_clock;

static std::atomic<bool> g_stop{false};

static void on_stop_signal(int)
{
	g_stop = true;
}

static void install_signal_handlers()
{
	struct sigaction sa = {};
	sa.sa_handler = on_stop_signal;
	sigemptyset(&sa.sa_mask);
	sigaction(SIGINT, &sa, nullptr);
	sigaction(SIGTERM, &sa, nullptr);
	signal(SIGPIPE, SIG_IGN);
}

static double seconds_since(Clock::time_point start)
{
	return std::chrono::duration<double>(Clock::now() - start).count();
}

/* The source's settings as the properties panel would leave them. */
static obs_data_t *source_settings(const HostOptions &opts, bool enabled)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, SETTING_CONN_MODE, conn_mode_value(opts.usb));
	obs_data_set_int(settings, SETTING_PORT, opts.port);
	if (opts.usb)
		obs_data_set_string(settings, SETTING_DEVICE, opts.serial.c_str());
	else
		obs_data_set_string(settings, SETTING_HOST, opts.host.c_str());
	obs_data_set_bool(settings, SETTING_ENABLED, enabled);
	return settings;
}

static void print_target(const HostOptions &opts)
{
	if (opts.usb)
		printf("source: USB through the adb server, device %s, local port %d\n",
		       opts.serial.empty() ? "(the only one)" : opts.serial.c_str(), opts.port);
	else
		printf("source: Wi-Fi, %s:%d\n", opts.host.c_str(), opts.port);
	printf("running %g s on a %ux%u canvas\n", opts.seconds, opts.canvas_width, opts.canvas_height);
	fflush(stdout);
}

struct RunResult {
	ReceivedCounts counts;
	double elapsed_s = 0;
	Picture picture;
	bool have_picture = false;
};

/* Streams for the chosen time, printing a progress line a second and keeping
 * the latest picture OBS rendered from the source. */
static RunResult stream(obs_source_t *source, const HostOptions &opts, const PluginLog &log)
{
	RunResult result;
	Capture capture(source);
	obs_data_t *enable = source_settings(opts, true);
	obs_source_update(source, enable);
	obs_data_release(enable);

	Clock::time_point start = Clock::now();
	ReceivedCounts before;
	double last_tick = 0.0;
	double next_tick = 1.0;
	for (bool last = false; !last;) {
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
		double elapsed = seconds_since(start);
		last = g_stop || elapsed >= opts.seconds;
		if (elapsed < next_tick && !last)
			continue;
		ReceivedCounts now = capture.counts();
		if (!opts.quiet) {
			std::string line = progress_line(elapsed, log.state(), now, before, elapsed - last_tick);
			printf("%s\n", line.c_str());
			fflush(stdout);
		}
		if (now.pictures > 0)
			result.have_picture |= snapshot_source(source, &result.picture);
		before = now;
		last_tick = elapsed;
		next_tick += 1.0;
	}
	result.counts = capture.counts();
	result.elapsed_s = seconds_since(start);
	return result;
}

static void print_plugin_log(const PluginLog &log)
{
	std::vector<std::string> lines = log.lines();
	if (lines.empty())
		return;
	printf("--- the plug-in's log ---\n");
	for (const std::string &line : lines)
		printf("%s\n", line.c_str());
	printf("---\n");
}

/* Writes the PNG and says where; false when it could not. */
static bool write_picture(const RunResult &run, const std::string &path)
{
	if (!run.have_picture) {
		printf("no picture to write: OBS rendered none from the source\n");
		return false;
	}
	std::string error;
	std::vector<uint8_t> png = png_encode_rgba(run.picture.rgba.data(), run.picture.width, run.picture.height,
						   run.picture.width * 4, &error);
	if (png.empty() || !write_file_whole(path, png, &error)) {
		printf("cannot write the last picture: %s\n", error.c_str());
		return false;
	}
	char *absolute = realpath(path.c_str(), nullptr);
	printf("last picture (%ux%u) written to %s\n", run.picture.width, run.picture.height,
	       absolute ? absolute : path.c_str());
	free(absolute);
	return true;
}

int main(int argc, char **argv)
{
	HostOptions opts;
	OptionsRead read = host_parse_options(argc, argv, &opts);
	if (read != OptionsRead::run)
		return read == OptionsRead::help ? 0 : 2;
	if (opts.module_path.empty())
		opts.module_path = OSTRELIN_HOST_MODULE_PATH;
	if (opts.data_dir.empty())
		opts.data_dir = OSTRELIN_HOST_DATA_DIR;
	install_signal_handlers();

	PluginLog log(opts.verbose);
	ObsSession session;
	std::string error;
	if (!session.start(opts.canvas_width, opts.canvas_height, &error) ||
	    !session.load_plugin(opts.module_path, opts.data_dir, &error)) {
		session.shutdown();
		print_plugin_log(log);
		fprintf(stderr, "ostrelin-obs-host: %s\n", error.c_str());
		return 2;
	}
	capture_register_types();
	printf("libobs %s, plug-in %s\n", obs_get_version_string(), opts.module_path.c_str());
	print_target(opts);

	/* Created disabled, so that the counting starts before the first
	 * connection attempt. */
	obs_data_t *settings = source_settings(opts, false);
	obs_source_t *source = obs_source_create("ostrelin_source", "Ostrelin", settings, nullptr);
	obs_data_release(settings);
	obs_set_output_source(0, source);
	RunResult run = stream(source, opts, log);
	obs_set_output_source(0, nullptr);
	obs_source_release(source);
	session.shutdown();

	print_plugin_log(log);
	if (long left = bnum_allocs())
		printf("warning: %ld libobs allocations were not freed at shutdown\n", left);
	printf("%s\n", summary_line(run.counts, run.elapsed_s).c_str());
	bool written = write_picture(run, opts.png_path);
	bool ok = written && run.counts.pictures > 0 && run.counts.audio_blocks > 0;
	if (ok)
		printf("result: OK, pictures and audio arrived\n");
	else
		printf("result: FAILED (%s%s%s)\n", run.counts.pictures ? "" : "no pictures; ",
		       run.counts.audio_blocks ? "" : "no audio; ", link_state_name(log.state()));
	fflush(stdout);
	return ok ? 0 : 1;
}
