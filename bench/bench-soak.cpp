/* A long run of one source, as a phone in a long stream treats it: the
 * reference sender streams 720p30 with audio, drops the connection and takes
 * the next one every few minutes (the plug-in reconnects), turns the picture
 * from landscape to portrait and back (a new encoder: new SPS/PPS and an IDR)
 * and runs its clock 0.2 % fast for a while, then 0.2 % slow. The source is
 * in a scene on OBS's output, in one libobs with the built module loaded as
 * OBS loads it. Reported:
 *   - resident memory after the warm-up and at the end, and its growth per
 *     hour (least squares over the samples after the warm-up);
 *   - pictures handed over and shown of those sent; the first picture after
 *     each connection opened;
 *   - hand-off latency per tenth of the run and its trend (least squares,
 *     ms per hour);
 *   - steps back in the OBS timestamps of pictures and of audio blocks;
 *   - the range of the audio/video offset on OBS's clock.
 * Targets: RSS growth at most 2 MB per hour after the warm-up; no timestamp
 * going back; latency flat (its trend within 1 ms per hour).
 *
 *   bench-soak [--minutes N]   length of the run (30); the sender's
 *   schedule scales with it: a drop every N/7.5 minutes, a turn every
 *   quarter of a connection, clock phases of N/6 minutes each. */

#include "bench-report.h"
#include "live-sources.h"
#include "picture-figures.h"
#include "soak-figures.h"

#include <util/platform.h>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr Goal rss_mb_per_hour_goal = {2.0, 20.0};
constexpr Goal latency_ms_per_hour_goal = {1.0, 10.0};

long rss_kb()
{
	std::ifstream status("/proc/self/status");
	std::string line;
	while (std::getline(status, line))
		if (line.rfind("VmRSS:", 0) == 0)
			return std::stol(line.substr(6));
	return -1;
}

struct Schedule {
	double drop_s;
	double rotate_s;
	double phase_s;
	double warm_up_s;
};

Schedule schedule_for(double minutes)
{
	Schedule s;
	s.drop_s = minutes * 60 / 7.5;
	s.rotate_s = s.drop_s / 4;
	s.phase_s = minutes * 60 / 6;
	s.warm_up_s = std::min(120.0, minutes * 60 / 10);
	return s;
}

std::vector<std::string> soak_options(const Schedule &s)
{
	char drift[64];
	snprintf(drift, sizeof(drift), "2000:%.1f,-2000:%.1f", s.phase_s, s.phase_s);
	return {"--drop-every", std::to_string(s.drop_s), "--rotate-every", std::to_string(s.rotate_s), "--clock-drift",
		drift};
}

int run(BenchReport &report, double minutes)
{
	const Schedule schedule = schedule_for(minutes);
	LiveStage stage("soak");
	if (!stage.loaded())
		return report.cannot_run("cannot load the built Ostrelin module");

	const std::string log_path = "/tmp/ostrelin-soak-" + std::to_string(getpid()) + ".log";
	LiveSource source(SourceKind::ostrelin, stage.scene(), "phone", log_path, true, soak_options(schedule));
	if (!source.valid() || !source.wait_first_picture(10))
		return report.cannot_run("the source showed no picture");
	/* Records for the whole run, with a fifth to spare: 30 pictures and
	 * about 47 audio blocks a second. */
	source.track().reserve((size_t)(minutes * 60 * 30 * 1.2), (size_t)(minutes * 60 * 47 * 1.2));

	const uint64_t start = os_gettime_ns();
	const uint64_t end = start + (uint64_t)(minutes * 60e9);
	std::vector<double> rss_at_s, rss_mb;
	long rss_warm_kb = -1;
	while (os_gettime_ns() < end) {
		std::this_thread::sleep_for(10s);
		double at = (double)(os_gettime_ns() - start) / 1e9;
		long kb = rss_kb();
		if (at >= schedule.warm_up_s) {
			if (rss_warm_kb < 0)
				rss_warm_kb = kb;
			rss_at_s.push_back(at);
			rss_mb.push_back(kb / 1024.0);
		}
	}
	const long rss_end_kb = rss_kb();
	uint32_t lagged = obs_get_lagged_frames();
	uint32_t ticks = obs_get_total_frames();
	std::this_thread::sleep_for(1s);

	SendLog log;
	if (!source.read_log(&log))
		return report.cannot_run("cannot read the sender's log");
	std::vector<PictureEvent> handoffs = source.track().handoffs();
	std::vector<AudioEvent> audio = source.track().audio();
	PictureFigures whole = picture_figures(log, source.track(), 0, end);
	source.remove();
	stage.close();
	unlink(log_path.c_str());

	report.section("Run");
	report.line("%.1f minutes of 1280x720 30 fps with audio; the sender dropped the connection every %.0f s, "
		    "turned the picture every %.0f s,",
		    minutes, schedule.drop_s, schedule.rotate_s);
	report.line("ran its clock 0.2 %% fast then 0.2 %% slow in phases of %.0f s; %zu connections", schedule.phase_s,
		    log.connections.size());
	report.line("OBS rendered %u frames at 640x360; its rendering lagged on %u ticks (llvmpipe, same cores)", ticks,
		    lagged);

	report.section("Memory");
	report.line("RSS after %.0f s of warm-up %.1f MB, at the end %.1f MB", schedule.warm_up_s, rss_warm_kb / 1024.0,
		    rss_end_kb / 1024.0);
	double growth = slope(rss_at_s, rss_mb) * 3600;
	report.judge("RSS growth after warm-up, MB per hour", growth, rss_mb_per_hour_goal);

	report.section("Pictures");
	report.line("%zu sent, %zu handed over (%.2f %%), %zu shown (%.2f %%)", whole.sent, whole.handed,
		    100.0 * (double)whole.handed / (double)whole.sent, whole.shown,
		    100.0 * (double)whole.shown / (double)whole.sent);
	std::string firsts;
	for (double ms : whole.first_picture_ms)
		firsts += (firsts.empty() ? "" : ", ") + std::to_string((int)(ms + 0.5));
	report.line("first picture after each connection opened (ms): %s", firsts.c_str());

	report.section("Hand-off latency over the run");
	std::vector<double> at_s, latency;
	for (size_t i = 0; i < whole.handoff_ms.size(); i++) {
		double t = whole.handoff_at_s[i] - (double)start / 1e9;
		at_s.push_back(t);
		latency.push_back(whole.handoff_ms[i]);
	}
	const double tenth = minutes * 6;
	std::string medians;
	for (int k = 0; k < 10; k++) {
		std::vector<double> part;
		for (size_t i = 0; i < at_s.size(); i++)
			if (at_s[i] >= k * tenth && at_s[i] < (k + 1) * tenth)
				part.push_back(latency[i]);
		char text[32];
		snprintf(text, sizeof(text), "%s%.2f", k ? ", " : "", median(part));
		medians += text;
	}
	report.line("medians per tenth of the run (ms): %s", medians.c_str());
	report.line("whole run: median %.2f ms, p99 %.2f ms", median(latency), percentile(latency, 99));
	double trend = slope(at_s, latency) * 3600;
	report.judge("hand-off latency trend, |ms per hour|", std::abs(trend), latency_ms_per_hour_goal);

	report.section("Timestamps");
	OrderFigures video_order = picture_order(handoffs);
	OrderFigures sound_order = audio_order(audio);
	report.line("pictures: %zu handed over, %zu steps back (largest %.1f ms)", handoffs.size(),
		    video_order.steps_back, video_order.largest_back_ms);
	report.line("audio: %zu blocks handed over, %zu steps back (largest %.1f ms)", audio.size(),
		    sound_order.steps_back, sound_order.largest_back_ms);
	report.judge("timestamps going back (pictures and audio)",
		     (double)(video_order.steps_back + sound_order.steps_back), {0, 0});
	std::vector<double> av = av_offsets_ms(log, handoffs, audio, 3'000'000'000);
	report.line("audio - video offset on OBS's clock, 3 s after each connection opened: min %.1f ms, median "
		    "%.1f ms, max %.1f ms (%zu blocks)",
		    percentile(av, 0), median(av), percentile(av, 100), av.size());
	printf("FIGURE|soak|ostrelin|av_min_ms|%.3f\nFIGURE|soak|ostrelin|av_max_ms|%.3f\n", percentile(av, 0),
	       percentile(av, 100));
	return report.exit_status();
}

} // namespace

int main(int argc, char **argv)
{
	return bench_main<double>(argc, argv, "soak", "--minutes", 30.0, run);
}
