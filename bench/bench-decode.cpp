/* Video decode path: ostrelin_decoder_decode, which also fills the OBS frame,
 * against a bare libavcodec send/receive loop with the same context settings
 * on the same stream. The plug-in hands OBS pointers into libavcodec's
 * picture, so it should cost no more than the bare loop. */

#include "bare-decoder.h"
#include "bench-report.h"
#include "decode/video-decoder.h"
#include "h264-stream.h"

#include <chrono>
#include <ctime>

namespace {

constexpr int rounds = 4;
constexpr Goal ratio_goal = {1.05, 1.25};
/* On CPU time, which the rest of the machine hardly disturbs, one copy of a
 * 720p picture shows: it costs about 2 to 3 % of a decode. */
constexpr Goal cpu_ratio_goal = {1.015, 1.25};

/* Wall time, and the CPU time of this thread: the second leaves out the time
 * other processes on a shared machine take the core away. With one slice per
 * picture the decoder's slice threads stay idle: all the work is on this
 * thread. */
struct Instant {
	std::chrono::steady_clock::time_point wall;
	timespec cpu;

	static Instant now()
	{
		Instant t;
		t.wall = std::chrono::steady_clock::now();
		clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t.cpu);
		return t;
	}
};

struct Cost {
	double wall_ms = 0;
	double cpu_ms = 0;
	int pictures = 0;

	void add(const Instant &start, const Instant &end)
	{
		wall_ms += std::chrono::duration<double, std::milli>(end.wall - start.wall).count();
		cpu_ms += (double)(end.cpu.tv_sec - start.cpu.tv_sec) * 1e3 +
			  (double)(end.cpu.tv_nsec - start.cpu.tv_nsec) / 1e6;
	}
};

/* Both decoders, fresh, go through the stream side by side: each access unit
 * goes to one and then the other, the first of the two alternating. Whatever
 * else the machine does then weighs on both alike. */
bool run_round(const EncodedStream &stream, Cost *plugin, Cost *bare)
{
	VideoDecoder *plugin_decoder = ostrelin_decoder_create();
	BareDecoder bare_decoder;
	if (!plugin_decoder || !bare_decoder.ready()) {
		ostrelin_decoder_destroy(plugin_decoder);
		return false;
	}

	obs_source_frame frame;
	uint64_t timestamp = 0;
	for (size_t i = 0; i < stream.access_units.size(); i++) {
		const auto &au = stream.access_units[i];
		for (int turn = 0; turn < 2; turn++) {
			Instant start = Instant::now();
			if ((turn == 0) == (i % 2 == 0)) {
				plugin->pictures += ostrelin_decoder_decode(plugin_decoder, au.data(), au.size(),
									    timestamp, &frame);
				plugin->add(start, Instant::now());
			} else {
				bare->pictures += bare_decoder.decode(au.data(), au.size());
				bare->add(start, Instant::now());
			}
		}
		timestamp += 33'333'333;
	}
	ostrelin_decoder_destroy(plugin_decoder);
	return true;
}

} // namespace

int main()
{
	bench_quiet_logs();
	BenchReport report("decode");

	StreamShape shape;
	EncodedStream stream;
	std::string error;
	if (!make_stream(shape, &stream, &error))
		return report.cannot_run(error.c_str());

	report.section("Video decode: ostrelin_decoder_decode vs. bare libavcodec");
	report.line("stream: %dx%d, %d frames at %d fps, keyframe every %d, %.1f Mbit/s (libx264 superfast, "
		    "zerolatency, in-band SPS/PPS, 1 slice)",
		    shape.width, shape.height, shape.frames, shape.fps, shape.gop, stream.megabits_per_second());
	report.line("reference: avcodec_send_packet + avcodec_receive_frame with the plug-in's context settings");
	report.line("%d rounds; in each, two fresh decoders take every access unit in turn", rounds);

	/* A first round, not counted, brings code and tables into the caches. */
	Cost plugin;
	Cost bare;
	if (!run_round(stream, &plugin, &bare))
		return report.cannot_run("cannot open an H.264 decoder");

	std::vector<double> round_ratios;
	plugin = {};
	bare = {};
	for (int round = 0; round < rounds; round++) {
		Cost p;
		Cost b;
		run_round(stream, &p, &b);
		if (p.pictures != shape.frames || b.pictures != shape.frames) {
			char why[128];
			snprintf(why, sizeof(why), "pictures decoded: plug-in %d, bare %d, of %d", p.pictures,
				 b.pictures, shape.frames);
			return report.cannot_run(why);
		}
		round_ratios.push_back(p.wall_ms / b.wall_ms);
		plugin.wall_ms += p.wall_ms;
		plugin.cpu_ms += p.cpu_ms;
		bare.wall_ms += b.wall_ms;
		bare.cpu_ms += b.cpu_ms;
	}

	const double frames = (double)rounds * shape.frames;
	report.line("plug-in: %.3f ms per frame (CPU %.3f ms)", plugin.wall_ms / frames, plugin.cpu_ms / frames);
	report.line("bare:    %.3f ms per frame (CPU %.3f ms)", bare.wall_ms / frames, bare.cpu_ms / frames);
	report.line("per-round ratios: %.3f to %.3f", percentile(round_ratios, 0), percentile(round_ratios, 100));
	report.judge("decode time: plug-in / bare libavcodec", plugin.wall_ms / bare.wall_ms, ratio_goal);
	report.judge("decode CPU time: plug-in / bare libavcodec", plugin.cpu_ms / bare.cpu_ms, cpu_ratio_goal);
	return report.exit_status();
}
