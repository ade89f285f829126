/* Several Ostrelin sources at once, and what a source costs while it cannot
 * reach its phone. In one libobs, with the built module loaded as OBS loads
 * it:
 *   - rounds of 1, 2 and 4 sources, each fed by its own sender process with
 *     the live 720p30 stream of bench-media-source, all in one scene on
 *     OBS's output: per source the hand-off latency, the pictures handed
 *     over and shown of those sent; the CPU time of all the threads the
 *     sources started (connection threads and their decoders' threads);
 *   - one enabled source aimed at a loopback port where nothing listens:
 *     the CPU time and the wake-ups of its threads while it retries.
 * The plug-in's CPU should grow in proportion to the number of sources: the
 * ratio of the 4-source total to 4 times the 1-source one is judged.
 *
 *   bench-sources [--seconds N]   N seconds measured per round (15) */

#include "bench-report.h"
#include "live-sources.h"
#include "picture-figures.h"

#include <util/platform.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr Goal growth_goal = {1.25, 2.0};

struct Round {
	int sources = 0;
	std::vector<PictureFigures> figures;
	double cpu_percent = 0; /* all the sources' threads, of one core */
	double seconds = 0;
	uint32_t lagged_ticks = 0;
	uint32_t ticks = 0;
};

bool run_round(int count, int seconds, obs_scene_t *scene, Round *out)
{
	const std::string base = "/tmp/ostrelin-bench-" + std::to_string(getpid()) + "-source-";
	std::vector<std::unique_ptr<LiveSource>> sources;
	ThreadSet threads;
	/* One after another, so that each source's threads are told apart. */
	for (int i = 0; i < count; i++) {
		auto source = std::make_unique<LiveSource>(SourceKind::ostrelin, scene,
							   "phone " + std::to_string(i + 1),
							   base + std::to_string(i) + ".log");
		if (!source->valid() || !source->wait_first_picture(10))
			return false;
		std::this_thread::sleep_for(500ms);
		source->thread_snapshot_done();
		threads.insert(source->threads().begin(), source->threads().end());
		sources.push_back(std::move(source));
	}
	std::this_thread::sleep_for(1s);

	auto cpu = thread_cpu_ns(threads);
	uint32_t ticks = obs_get_total_frames();
	uint32_t lagged = obs_get_lagged_frames();
	uint64_t from = os_gettime_ns();
	std::this_thread::sleep_for(std::chrono::seconds(seconds));
	uint64_t to = os_gettime_ns();
	out->ticks = obs_get_total_frames() - ticks;
	out->lagged_ticks = obs_get_lagged_frames() - lagged;
	out->seconds = (double)(to - from) / 1e9;
	out->cpu_percent = 100.0 * (double)cpu_ns_since(cpu, threads) / 1e9 / out->seconds;
	out->sources = count;
	std::this_thread::sleep_for(1s);

	for (int i = 0; i < count; i++) {
		SendLog log;
		if (!sources[(size_t)i]->read_log(&log))
			return false;
		out->figures.push_back(picture_figures(log, sources[(size_t)i]->track(), from, to));
		sources[(size_t)i]->remove();
		unlink((base + std::to_string(i) + ".log").c_str());
	}
	return true;
}

/* A loopback port where nothing listens: one just bound and let go. */
uint16_t unused_port()
{
	int fd = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t len = sizeof(addr);
	uint16_t port = 0;
	if (fd >= 0 && bind(fd, (sockaddr *)&addr, sizeof(addr)) == 0 && getsockname(fd, (sockaddr *)&addr, &len) == 0)
		port = ntohs(addr.sin_port);
	if (fd >= 0)
		close(fd);
	return port;
}

/* Voluntary and involuntary context switches of a thread so far. */
long context_switches(pid_t tid)
{
	std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
	std::string line;
	long total = 0;
	while (std::getline(status, line))
		if (line.find("ctxt_switches:") != std::string::npos)
			total += std::stol(line.substr(line.find(':') + 1));
	return total;
}

struct Idle {
	double cpu_percent = 0;
	double wakeups_per_s = 0;
	std::string threads; /* their names */
};

std::string thread_name(pid_t tid)
{
	std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
	std::string name;
	std::getline(comm, name);
	return name;
}

bool measure_idle(int seconds, Idle *out)
{
	uint16_t port = unused_port();
	ThreadSet before = threads_now();
	obs_source_t *source = create_ostrelin_source("unreachable phone", port);
	if (!source)
		return false;
	std::this_thread::sleep_for(2s);
	ThreadSet threads = threads_added(before, threads_now());
	auto cpu = thread_cpu_ns(threads);
	long switches = 0;
	for (pid_t tid : threads)
		switches -= context_switches(tid);
	uint64_t from = os_gettime_ns();
	std::this_thread::sleep_for(std::chrono::seconds(seconds));
	double window = (double)(os_gettime_ns() - from) / 1e9;
	for (pid_t tid : threads)
		switches += context_switches(tid);
	out->cpu_percent = 100.0 * (double)cpu_ns_since(cpu, threads) / 1e9 / window;
	out->wakeups_per_s = (double)switches / window;
	for (pid_t tid : threads)
		out->threads += (out->threads.empty() ? "" : ", ") + thread_name(tid);
	obs_source_release(source);
	return true;
}

double fps(const PictureFigures &f, double seconds)
{
	return (double)f.handed / seconds;
}

int run(BenchReport &report, int seconds)
{
	LiveStage stage("bench");
	if (!stage.loaded())
		return report.cannot_run("cannot load the built Ostrelin module");

	report.section("Setting");
	report.line("each source fed by its own ostrelin-sender process: 1280x720, 30 fps, an IDR a second;");
	report.line("libobs %s renders the scene (all sources, scaled) at %ux%u, 30 fps; %d s per round",
		    obs_get_version_string(), live_canvas_width, live_canvas_height, seconds);

	std::vector<Round> rounds;
	for (int count : {1, 2, 4}) {
		Round round;
		if (!run_round(count, seconds, stage.scene(), &round)) {
			stage.close();
			return report.cannot_run(
				("with " + std::to_string(count) + " sources, one showed no picture").c_str());
		}
		report.section((std::to_string(count) + (count == 1 ? " source" : " sources")).c_str());
		for (size_t i = 0; i < round.figures.size(); i++) {
			const PictureFigures &f = round.figures[i];
			report.line("source %zu: hand-off median %.2f ms, p99 %.2f ms; %.1f fps handed over; %zu sent, "
				    "%zu handed over, %zu shown",
				    i + 1, median(f.handoff_ms), percentile(f.handoff_ms, 99), fps(f, round.seconds),
				    f.sent, f.handed, f.shown);
			printf("FIGURE|sources-%d|source %zu|handoff_median_ms|%.4f\n", count, i + 1,
			       median(f.handoff_ms));
			printf("FIGURE|sources-%d|source %zu|handoff_p99_ms|%.4f\n", count, i + 1,
			       percentile(f.handoff_ms, 99));
			printf("FIGURE|sources-%d|source %zu|fps|%.4f\n", count, i + 1, fps(f, round.seconds));
			printf("FIGURE|sources-%d|source %zu|sent|%zu\n", count, i + 1, f.sent);
			printf("FIGURE|sources-%d|source %zu|shown|%zu\n", count, i + 1, f.shown);
		}
		report.line("CPU of the plug-in's threads, all sources: %.1f %% of one core (%.1f %% per source)",
			    round.cpu_percent, round.cpu_percent / count);
		report.line("(OBS rendered %u frames and its rendering lagged on %u ticks: llvmpipe, same cores)",
			    round.ticks, round.lagged_ticks);
		printf("FIGURE|sources-%d|all|cpu_percent|%.4f\n", count, round.cpu_percent);
		printf("FIGURE|sources-%d|all|lagged_ticks|%u\n", count, round.lagged_ticks);
		rounds.push_back(std::move(round));
	}
	stage.close();

	Idle idle;
	if (!measure_idle(10, &idle))
		return report.cannot_run("cannot create the unreachable source");
	report.section("An enabled source that cannot reach its phone (nothing listens on its port), 10 s");
	report.line("threads started meanwhile (%s): %.3f %% of one core, %.1f wake-ups per second",
		    idle.threads.c_str(), idle.cpu_percent, idle.wakeups_per_s);
	printf("FIGURE|idle|unreachable|cpu_percent|%.4f\n", idle.cpu_percent);
	printf("FIGURE|idle|unreachable|wakeups_per_s|%.4f\n", idle.wakeups_per_s);

	report.section("Growth");
	double growth = rounds[2].cpu_percent / (4 * rounds[0].cpu_percent);
	report.judge("plug-in CPU with 4 sources / 4 x with 1", growth, growth_goal);
	report.figure("plug-in CPU with 2 sources / 2 x with 1", "%.2f",
		      rounds[1].cpu_percent / (2 * rounds[0].cpu_percent));
	return report.exit_status();
}

} // namespace

int main(int argc, char **argv)
{
	return bench_main<int>(argc, argv, "sources", "--seconds", 15, run);
}
