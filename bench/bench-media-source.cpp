/* Ostrelin against OBS's own Media Source, on the same live stream, in one
 * run and one libobs. The reference sender serves a live 720p30 H.264 stream
 * (libx264 ultrafast/zerolatency, an IDR a second, the frame number drawn
 * into every picture) twice at once: to an Ostrelin source in its own
 * framing, and in plain Annex B to a Media Source reading tcp://. Two
 * rounds: the Media Source with its lowest-latency settings, then with its
 * defaults, each beside a fresh Ostrelin source. Measured per picture, on
 * CLOCK_MONOTONIC in both processes:
 *   - hand-off: from the sender's write to the source's call to
 *     obs_source_output_video;
 *   - at OBS's tick: from the sender's write to OBS's video thread taking
 *     the frame to render it;
 *   - first picture: from the sender accepting the connection to the first
 *     hand-off;
 *   - pictures handed over and shown of those sent, and the CPU time of the
 *     threads each source started (its connection or media thread and its
 *     decoder's threads; OBS's own rendering is not in it).
 * Targets, as ratios in the same run: Ostrelin's median hand-off at most
 * 1/18 of the Media Source's best, its first picture at most 1/10.
 *
 *   bench-media-source [--seconds N]   N seconds measured per round (20) */

#include "bench-report.h"
#include "live-sources.h"
#include "picture-figures.h"

#include <util/platform.h>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr Goal handoff_ratio_goal = {1.0 / 18, 1.0 / 5};
constexpr Goal first_ratio_goal = {1.0 / 10, 1.0 / 2};

const char obs_ffmpeg_module[] = "/usr/lib/x86_64-linux-gnu/obs-plugins/obs-ffmpeg.so";
const char obs_ffmpeg_data[] = "/usr/share/obs/obs-plugins/obs-ffmpeg";

struct Measured {
	SourceKind kind;
	PictureFigures window;  /* the measured seconds */
	PictureFigures whole;   /* from the start: first pictures */
	double cpu_percent = 0; /* of one core, the source's own threads */
	double seconds = 0;
	uint32_t ticks = 0; /* OBS's video ticks in the round, and those its rendering lagged on */
	uint32_t lagged = 0;
};

/* One figure for scripts/bench-compare.sh: FIGURE|round|source|name|value. */
void figure_line(const char *round, const Measured &m, const char *name, double value)
{
	printf("FIGURE|%s|%s|%s|%.4f\n", round, source_kind_label(m.kind), name, value);
}

void report_source(BenchReport &report, const char *round, const Measured &m)
{
	const PictureFigures &w = m.window;
	report.line("%s:", source_kind_label(m.kind));
	report.line("  hand-off     median %7.2f ms  p90 %7.2f ms  p99 %7.2f ms", median(w.handoff_ms),
		    percentile(w.handoff_ms, 90), percentile(w.handoff_ms, 99));
	report.line("  at OBS tick  median %7.2f ms  p90 %7.2f ms  p99 %7.2f ms", median(w.tick_ms),
		    percentile(w.tick_ms, 90), percentile(w.tick_ms, 99));
	double first = m.whole.first_picture_ms.empty() ? NAN : m.whole.first_picture_ms.front();
	report.line("  first picture %.0f ms after the connection opened", first);
	report.line("  pictures: %zu sent, %zu handed over, %zu shown (%.1f %%)", w.sent, w.handed, w.shown,
		    w.sent ? 100.0 * (double)w.shown / (double)w.sent : 0.0);
	report.line("  CPU of its threads: %.1f %% of one core", m.cpu_percent);
	figure_line(round, m, "handoff_median_ms", median(w.handoff_ms));
	figure_line(round, m, "handoff_p90_ms", percentile(w.handoff_ms, 90));
	figure_line(round, m, "handoff_p99_ms", percentile(w.handoff_ms, 99));
	figure_line(round, m, "tick_median_ms", median(w.tick_ms));
	figure_line(round, m, "tick_p90_ms", percentile(w.tick_ms, 90));
	figure_line(round, m, "tick_p99_ms", percentile(w.tick_ms, 99));
	figure_line(round, m, "first_picture_ms", first);
	figure_line(round, m, "sent", (double)w.sent);
	figure_line(round, m, "handed", (double)w.handed);
	figure_line(round, m, "shown", (double)w.shown);
	figure_line(round, m, "cpu_percent", m.cpu_percent);
}

/* One round: an Ostrelin source and a Media Source side by side. */
bool run_round(obs_scene_t *scene, SourceKind media, int seconds, Measured out[2])
{
	const std::string dir = "/tmp/ostrelin-bench-" + std::to_string(getpid());
	LiveSource ostrelin(SourceKind::ostrelin, scene, "phone (Ostrelin)", dir + "-ostrelin.log");
	if (!ostrelin.valid() || !ostrelin.wait_first_picture(10))
		return false;
	std::this_thread::sleep_for(1s);
	ostrelin.thread_snapshot_done();

	LiveSource other(media, scene, "phone (Media Source)", dir + "-media.log");
	if (!other.valid() || !other.wait_first_picture(20))
		return false;
	std::this_thread::sleep_for(2s);
	other.thread_snapshot_done();

	auto cpu_ostrelin = thread_cpu_ns(ostrelin.threads());
	auto cpu_other = thread_cpu_ns(other.threads());
	uint32_t ticks = obs_get_total_frames();
	uint32_t lagged = obs_get_lagged_frames();
	uint64_t from = os_gettime_ns();
	std::this_thread::sleep_for(std::chrono::seconds(seconds));
	uint64_t to = os_gettime_ns();
	out[0].ticks = out[1].ticks = obs_get_total_frames() - ticks;
	out[0].lagged = out[1].lagged = obs_get_lagged_frames() - lagged;
	double window_s = (double)(to - from) / 1e9;
	out[0].cpu_percent = 100.0 * (double)cpu_ns_since(cpu_ostrelin, ostrelin.threads()) / 1e9 / window_s;
	out[1].cpu_percent = 100.0 * (double)cpu_ns_since(cpu_other, other.threads()) / 1e9 / window_s;
	/* Pictures written near the end still get the Media Source's delay to arrive. */
	std::this_thread::sleep_for(3s);

	LiveSource *sources[2] = {&ostrelin, &other};
	for (int i = 0; i < 2; i++) {
		SendLog log;
		if (!sources[i]->read_log(&log))
			return false;
		out[i].kind = sources[i]->kind();
		out[i].seconds = window_s;
		out[i].window = picture_figures(log, sources[i]->track(), from, to);
		out[i].whole = picture_figures(log, sources[i]->track(), 0, to);
	}
	other.remove();
	ostrelin.remove();
	unlink((dir + "-ostrelin.log").c_str());
	unlink((dir + "-media.log").c_str());
	return true;
}

int run(BenchReport &report, int seconds)
{
	LiveStage stage("bench");
	if (!stage.loaded())
		return report.cannot_run("cannot load the built Ostrelin module");
	if (!stage.env().load_module(obs_ffmpeg_module, obs_ffmpeg_data))
		return report.cannot_run("cannot load OBS's obs-ffmpeg module (Debian's obs-plugins)");

	report.section("Stream and setting");
	report.line("1280x720, 30 fps, an IDR a second, libx264 ultrafast/zerolatency, from ostrelin-sender processes");
	report.line("over loopback; libobs %s renders the scene (both sources, scaled) at %ux%u, 30 fps;",
		    obs_get_version_string(), live_canvas_width, live_canvas_height);
	report.line("%d s measured per round, after each source's first picture", seconds);

	const SourceKind rounds[2] = {SourceKind::media_lowest, SourceKind::media_defaults};
	const char *round_names[2] = {"lowest", "defaults"};
	Measured measured[2][2];
	for (int r = 0; r < 2; r++) {
		if (!run_round(stage.scene(), rounds[r], seconds, measured[r])) {
			stage.close();
			std::string why = std::string("round against ") + source_kind_label(rounds[r]) +
					  ": a source showed no picture";
			return report.cannot_run(why.c_str());
		}
		report.section((std::string("Round ") + std::to_string(r + 1) + ": Ostrelin beside " +
				source_kind_label(rounds[r]))
				       .c_str());
		report.line(
			"(OBS rendered %u frames in %.0f s; its rendering lagged on %u ticks: llvmpipe, same cores)",
			measured[r][0].ticks, measured[r][0].seconds, measured[r][0].lagged);
		report_source(report, round_names[r], measured[r][0]);
		report_source(report, round_names[r], measured[r][1]);
	}
	stage.close();

	report.section("Ostrelin against the Media Source's lowest-latency settings, same round");
	const Measured &ours = measured[0][0];
	const Measured &theirs = measured[0][1];
	double handoff_ratio = median(ours.window.handoff_ms) / median(theirs.window.handoff_ms);
	double first_ratio = ours.whole.first_picture_ms.front() / theirs.whole.first_picture_ms.front();
	report.line("hand-off median: Media Source %.1f times Ostrelin's; first picture: %.1f times", 1 / handoff_ratio,
		    1 / first_ratio);
	report.judge("Ostrelin / Media Source (lowest latency), median hand-off", handoff_ratio, handoff_ratio_goal);
	report.judge("Ostrelin / Media Source (lowest latency), first picture", first_ratio, first_ratio_goal);
	return report.exit_status();
}

} // namespace

int main(int argc, char **argv)
{
	return bench_main<int>(argc, argv, "media-source", "--seconds", 20, run);
}
