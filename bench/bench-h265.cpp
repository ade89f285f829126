/* H.265 against H.264 on the same test pattern at 1080p30 and 1080p60, both
 * made by the reference sender's encoder settings (support/av-encoder.h: its
 * preset, zero latency, no B-frames, the same GOP), both decoded by the
 * plug-in's decoder:
 *
 *   - the bit rate each encoder needs for the same quality: a search over
 *     bit rates for the one whose pictures, decoded, reach target_ssim on
 *     luma against their source (bench/rate-search.h, bench/ssim.h);
 *   - the decode time per picture of the two streams found nearest that
 *     quality, median and 99th percentile, in wall time and in CPU time. */

#include "av-encoder.h"
#include "bench-report.h"
#include "decode/video-decoder.h"
#include "h264-stream.h"
#include "rate-search.h"
#include "ssim.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>

namespace {

/* Where a phone's bit rates land on this pattern, whose fresh grain is
 * costly to keep: 0.97 takes H.264 near 30 Mbit/s at 1080p30. */
constexpr double target_ssim = 0.95;
/* One keyframe interval of the sender's: its share of the bit rate is the
 * stream's. */
constexpr int clip_seconds = sender_keyframe_seconds;
constexpr int max_search_steps = 6;
/* The search stops once the two rates around the target are this close. */
constexpr double search_closeness = 1.5;
/* The first H.264 rate tried at 30 fps, scaled with the frame rate. */
constexpr double first_h264_rate_30fps = 12e6;
/* The first H.265 rate tried: this share of H.264's. */
constexpr double first_h265_share = 0.75;
constexpr int timing_rounds = 3;
/* The decode of a typical 1080p60 H.265 picture against half a frame's
 * interval; far beyond it, decoding would hold pictures back. */
constexpr Goal half_frame_goal = {1.0, 3.0};

struct Codec {
	const char *name;
	bool h265;
	int av_codec_id;
};
constexpr Codec h264 = {"H.264", false, AV_CODEC_ID_H264};
constexpr Codec h265 = {"H.265", true, AV_CODEC_ID_HEVC};

StreamShape clip_shape(int fps, const Codec &codec, double bit_rate)
{
	StreamShape shape;
	shape.width = 1920;
	shape.height = 1080;
	shape.fps = fps;
	shape.frames = clip_seconds * fps;
	shape.gop = sender_keyframe_seconds * fps;
	shape.bit_rate = (int64_t)bit_rate;
	shape.preset = sender_encoder_preset;
	shape.h265 = codec.h265;
	return shape;
}

struct DecoderFree {
	void operator()(VideoDecoder *decoder) const { ostrelin_decoder_destroy(decoder); }
};
using DecoderPtr = std::unique_ptr<VideoDecoder, DecoderFree>;

/* The mean luma SSIM of the stream's pictures, decoded by the plug-in's
 * decoder, against the same pictures drawn again; NaN when a picture is
 * missing. */
double stream_ssim(const EncodedStream &stream, const Codec &codec)
{
	DecoderPtr decoder(decoder_create(codec.av_codec_id));
	FramePtr source(av_frame_alloc());
	if (!decoder || !source)
		return NAN;
	source->format = AV_PIX_FMT_YUV420P;
	source->width = stream.shape.width;
	source->height = stream.shape.height;
	if (av_frame_get_buffer(source.get(), 0) < 0)
		return NAN;

	TestPattern pattern(stream.shape);
	double total = 0;
	int pictures = 0;
	obs_source_frame frame = {};
	for (const auto &au : stream.access_units) {
		if (!ostrelin_decoder_decode(decoder.get(), au.data(), au.size(), 0, &frame))
			continue;
		pattern.draw_next(source.get());
		PlaneView decoded = {frame.data[0], (int)frame.linesize[0], (int)frame.width, (int)frame.height};
		PlaneView drawn = {source->data[0], source->linesize[0], source->width, source->height};
		total += ssim_plane(decoded, drawn);
		pictures++;
	}
	return pictures == stream.shape.frames ? total / pictures : NAN;
}

struct Search {
	std::vector<RatePoint> points;
	std::vector<EncodedStream> streams; /* one per point */
	double rate_at_target = NAN;

	/* The stream whose rate is nearest the interpolated one. */
	const EncodedStream &nearest() const
	{
		size_t best = 0;
		for (size_t i = 1; i < points.size(); i++) {
			if (std::fabs(std::log(points[i].bit_rate / rate_at_target)) <
			    std::fabs(std::log(points[best].bit_rate / rate_at_target)))
				best = i;
		}
		return streams[best];
	}
};

bool search_rate(BenchReport &report, int fps, const Codec &codec, double first, Search *search, std::string *error)
{
	for (int step = 0; step < max_search_steps; step++) {
		if (rate_search_done(search->points, target_ssim, search_closeness))
			break;
		const double asked = rate_search_next(search->points, target_ssim, first);
		EncodedStream stream;
		if (!make_stream(clip_shape(fps, codec, asked), &stream, error))
			return false;
		const double ssim = stream_ssim(stream, codec);
		if (std::isnan(ssim)) {
			*error = std::string("the plug-in's decoder did not give every ") + codec.name + " picture";
			return false;
		}
		report.line("%s %dp%d: asked %.2f Mbit/s, gave %.2f Mbit/s, SSIM %.4f", codec.name, 1080, fps,
			    asked / 1e6, stream.megabits_per_second(), ssim);
		search->points.push_back({stream.megabits_per_second() * 1e6, ssim});
		search->streams.push_back(std::move(stream));
	}
	search->rate_at_target = rate_at_quality(search->points, target_ssim);
	if (std::isnan(search->rate_at_target)) {
		*error = std::string(codec.name) + ": no two rates around SSIM " + std::to_string(target_ssim) +
			 " within " + std::to_string(max_search_steps) + " steps";
		return false;
	}
	return true;
}

/* Wall time, this thread's CPU time and the process's: the decoder's slice
 * threads (H.265 streams carry wavefront entry points) work outside this
 * thread, and nothing else in the process runs while it decodes. */
struct Instant {
	std::chrono::steady_clock::time_point wall;
	timespec thread_cpu;
	timespec process_cpu;

	static Instant now()
	{
		Instant t;
		t.wall = std::chrono::steady_clock::now();
		clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t.thread_cpu);
		clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t.process_cpu);
		return t;
	}
};

double ms_between(const timespec &a, const timespec &b)
{
	return (double)(b.tv_sec - a.tv_sec) * 1e3 + (double)(b.tv_nsec - a.tv_nsec) / 1e6;
}

/* One sample per picture; those of keyframes also apart. */
struct PictureTimes {
	std::vector<double> wall_ms;
	std::vector<double> thread_cpu_ms;
	std::vector<double> process_cpu_ms;
	std::vector<double> keyframe_wall_ms;
	std::vector<double> keyframe_cpu_ms;

	void add(const Instant &start, const Instant &end, bool keyframe)
	{
		if (keyframe) {
			keyframe_wall_ms.push_back(
				std::chrono::duration<double, std::milli>(end.wall - start.wall).count());
			keyframe_cpu_ms.push_back(ms_between(start.process_cpu, end.process_cpu));
		}
		wall_ms.push_back(std::chrono::duration<double, std::milli>(end.wall - start.wall).count());
		thread_cpu_ms.push_back(ms_between(start.thread_cpu, end.thread_cpu));
		process_cpu_ms.push_back(ms_between(start.process_cpu, end.process_cpu));
	}
};

/* The two decoders, one per codec, take the two streams access unit by
 * access unit in turn, the first of the two alternating, so that whatever
 * else the machine does weighs on both alike. Each clip starts with a
 * keyframe and its parameter sets, so rounds through the same decoders are
 * one long stream, as a connection's is. False when a picture is missing. */
bool time_round(const EncodedStream *streams[2], VideoDecoder *decoders[2], PictureTimes *times[2])
{
	obs_source_frame frame = {};
	const size_t units = streams[0]->access_units.size();
	for (size_t i = 0; i < units; i++) {
		for (int turn = 0; turn < 2; turn++) {
			const int k = (turn + (int)(i % 2)) % 2;
			const auto &au = streams[k]->access_units[i];
			Instant start = Instant::now();
			bool picture = ostrelin_decoder_decode(decoders[k], au.data(), au.size(), 0, &frame);
			Instant end = Instant::now();
			if (!picture)
				return false;
			if (times[k])
				times[k]->add(start, end, streams[k]->keyframes[i]);
		}
	}
	return true;
}

void report_times(BenchReport &report, const char *name, const PictureTimes &t)
{
	report.line("%s: median %.3f ms wall, %.3f ms CPU (this thread %.3f); 99th pct %.3f ms wall, %.3f ms CPU "
		    "(this thread %.3f); %zu pictures; keyframes: median %.3f ms wall, %.3f ms CPU (%zu)",
		    name, median(t.wall_ms), median(t.process_cpu_ms), median(t.thread_cpu_ms),
		    percentile(t.wall_ms, 99), percentile(t.process_cpu_ms, 99), percentile(t.thread_cpu_ms, 99),
		    t.wall_ms.size(), median(t.keyframe_wall_ms), median(t.keyframe_cpu_ms), t.keyframe_wall_ms.size());
}

int run_frame_rate(BenchReport &report, int fps)
{
	char title[128];
	snprintf(title, sizeof(title), "1080p%d: bit rate for SSIM %.2f, decode time per picture", fps, target_ssim);
	report.section(title);
	report.line("%d s clips, a keyframe every %d frames, %s, zero latency, no B-frames, VBV of 1 s", clip_seconds,
		    sender_keyframe_seconds * fps, sender_encoder_preset);

	std::string error;
	Search found[2];
	const Codec *codecs[2] = {&h264, &h265};
	if (!search_rate(report, fps, h264, first_h264_rate_30fps * fps / 30, &found[0], &error) ||
	    !search_rate(report, fps, h265, found[0].rate_at_target * first_h265_share, &found[1], &error))
		return report.cannot_run(error.c_str());

	char what[128];
	snprintf(what, sizeof(what), "1080p%d bit rate for SSIM %.2f: H.264", fps, target_ssim);
	report.figure(what, "%.2f Mbit/s", found[0].rate_at_target / 1e6);
	snprintf(what, sizeof(what), "1080p%d bit rate for SSIM %.2f: H.265", fps, target_ssim);
	report.figure(what, "%.2f Mbit/s", found[1].rate_at_target / 1e6);
	snprintf(what, sizeof(what), "1080p%d bit rate for the same SSIM: H.265 / H.264", fps);
	report.figure(what, "%.3f", found[1].rate_at_target / found[0].rate_at_target);

	const EncodedStream *streams[2] = {&found[0].nearest(), &found[1].nearest()};
	report.line("decode: %.2f Mbit/s H.264 and %.2f Mbit/s H.265 through the plug-in's decoder, %d rounds",
		    streams[0]->megabits_per_second(), streams[1]->megabits_per_second(), timing_rounds);
	PictureTimes times[2];
	PictureTimes *none[2] = {nullptr, nullptr};
	PictureTimes *counted[2] = {&times[0], &times[1]};
	DecoderPtr owned[2] = {DecoderPtr(decoder_create(codecs[0]->av_codec_id)),
			       DecoderPtr(decoder_create(codecs[1]->av_codec_id))};
	if (!owned[0] || !owned[1])
		return report.cannot_run("the plug-in's decoder did not open");
	VideoDecoder *decoders[2] = {owned[0].get(), owned[1].get()};
	/* A first round, not counted, brings code and tables into the caches
	 * and fills the decoders' picture pools. */
	bool complete = time_round(streams, decoders, none);
	for (int round = 0; round < timing_rounds && complete; round++)
		complete = time_round(streams, decoders, counted);
	if (!complete)
		return report.cannot_run("the plug-in's decoder did not give every picture");
	report_times(report, "H.264", times[0]);
	report_times(report, "H.265", times[1]);

	/* H.265 against H.264 in each measure of the time, at the median and the
	 * 99th percentile. */
	const struct {
		const char *name;
		std::vector<double> PictureTimes::*samples;
	} measures[] = {{"wall", &PictureTimes::wall_ms},
			{"CPU", &PictureTimes::process_cpu_ms},
			{"CPU of the calling thread", &PictureTimes::thread_cpu_ms}};
	for (const auto &m : measures) {
		const auto &a = times[0].*m.samples;
		const auto &b = times[1].*m.samples;
		snprintf(what, sizeof(what), "1080p%d decode %s: H.265 / H.264", fps, m.name);
		report.figure(what, "%.3f at the median, %.3f at the 99th pct", median(b) / median(a),
			      percentile(b, 99) / percentile(a, 99));
	}

	/* Judged on the wall time of a typical picture: the time the stream
	 * thread spends on it while the decoder's slice threads share the
	 * cores, against half a frame's interval, so that decoding leaves the
	 * other half for the rest. The 99th percentile, set by the same few
	 * pictures of the pattern every round, and the CPU time of every
	 * decoder thread together are shown beside it. */
	const double half_frame_ms = 500.0 / fps;
	const struct {
		const char *name;
		double ms;
	} shares[] = {{"wall median", median(times[1].wall_ms)},
		      {"wall 99th pct", percentile(times[1].wall_ms, 99)},
		      {"CPU 99th pct", percentile(times[1].process_cpu_ms, 99)}};
	for (const auto &share : shares) {
		snprintf(what, sizeof(what), "1080p%d H.265 decode %s / half a frame (%.2f ms)", fps, share.name,
			 half_frame_ms);
		if (fps == 60 && &share == &shares[0])
			report.judge(what, share.ms / half_frame_ms, half_frame_goal);
		else
			report.figure(what, "%.3f", share.ms / half_frame_ms);
	}
	return BENCH_EXIT_OK;
}

int run(BenchReport &report)
{
	if (!decoder_available(AV_CODEC_ID_HEVC))
		return report.cannot_run("this libavcodec has no H.265 decoder");
	for (int fps : {30, 60}) {
		int status = run_frame_rate(report, fps);
		if (status != BENCH_EXIT_OK)
			return status;
	}
	return report.exit_status();
}

} // namespace

int main()
{
	return bench_main("h265", run);
}
