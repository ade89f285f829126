/* Delivery through the receive loop, and what one streaming source costs in
 * memory. A real source, created through libobs, takes a 720p stream from a
 * loopback phone that sends at the stream's frame rate. Measured per picture:
 *   - delivery: from the moment the phone hands the packet to its socket to
 *     the return of obs_source_output_video on the connection thread, against
 *     the bare libavcodec decode of the same payload, paced the same way, in
 *     the same process;
 *   - heap allocations on the connection thread per packet, against those of
 *     the bare decode;
 *   - peak RSS with the source streaming, against libobs alone (report only).
 * The stream goes in blocks of one keyframe interval. The first, with the
 * source shown on the output as in a scene, warms up and gives the peak RSS.
 * The source is then taken off the output: under Xvfb OBS renders with
 * llvmpipe on the same two cores, and every new picture would also measure
 * that software renderer, which a real GPU takes off the CPU. Each later block
 * is sent to the source and then decoded bare, so that both see the same load
 * on a shared machine.
 *
 * The binary links with -Wl,--wrap for ostrelin_decoder_decode and
 * obs_source_output_video: the receive loop's calls go through the wrappers
 * below, which note the time and hand over to the real functions. */

#include "adb/adb-client.h"
#include "alloc-count.h"
#include "bare-decoder.h"
#include "bench-report.h"
#include "decode/video-decoder.h"
#include "h264-stream.h"
#include "obs-env.h"
#include "obs-settle.h"
#include "ostrelin-sources.h"
#include "obs/ostrelin-source.h"
#include "stream-peer.h"

#include <util/bmem.h>
#include <util/platform.h>

#include <malloc.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

/* The loop's own work around a decode is a 13-byte header read, the payload
 * copied out of the socket buffer, some clock arithmetic and OBS's copy of
 * the picture into its frame cache: well under a millisecond against several
 * of decoding at 720p. 1.3 leaves room for the thread's wake-up on a shared
 * machine; a queued or copied-twice picture would go past it. */
constexpr Goal median_ratio_goal = {1.3, 2.0};
/* The slowest pictures also wait for the other processes on two shared cores. */
constexpr Goal p99_ratio_goal = {2.0, 4.0};
/* In steady state the loop reuses its payload buffer and keeps the frame on
 * its stack: it adds no allocation to those of libavcodec. A median of one
 * or more would mean an allocation on every packet. */
constexpr Goal added_allocations_goal = {0.0, 0.5};

/* What the receive loop did with one picture, noted on the connection thread. */
struct LoopSample {
	uint64_t decode_start;
	uint64_t decode_end;
	uint64_t output_returned;
	uint64_t allocations; /* on the connection thread so far */
};

std::vector<LoopSample> g_loop; /* sized before the source starts */
std::atomic<size_t> g_outputs = 0;
uint64_t g_decode_start = 0; /* written and read on the connection thread only */
uint64_t g_decode_end = 0;

} // namespace

extern "C" {

bool __real_ostrelin_decoder_decode(VideoDecoder *decoder, const uint8_t *data, size_t size, uint64_t timestamp,
				    obs_source_frame *out);
void __real_obs_source_output_video(obs_source_t *source, const obs_source_frame *frame);

bool __wrap_ostrelin_decoder_decode(VideoDecoder *decoder, const uint8_t *data, size_t size, uint64_t timestamp,
				    obs_source_frame *out)
{
	g_decode_start = os_gettime_ns();
	bool decoded = __real_ostrelin_decoder_decode(decoder, data, size, timestamp, out);
	g_decode_end = os_gettime_ns();
	return decoded;
}

void __wrap_obs_source_output_video(obs_source_t *source, const obs_source_frame *frame)
{
	__real_obs_source_output_video(source, frame);
	uint64_t returned = os_gettime_ns();
	size_t n = g_outputs.load(std::memory_order_relaxed);
	if (n < g_loop.size())
		g_loop[n] = {g_decode_start, g_decode_end, returned, allocations_on_this_thread()};
	g_outputs.store(n + 1, std::memory_order_release);
}

} // extern "C"

namespace {

/* Peak and current resident set sizes from /proc, in kB. */
long status_kb(const char *key)
{
	std::ifstream status("/proc/self/status");
	std::string line;
	while (std::getline(status, line))
		if (line.rfind(key, 0) == 0)
			return std::stol(line.substr(strlen(key)));
	return -1;
}

/* Lowers the recorded peak to the current RSS (Linux 4.0 and later). */
bool reset_peak_rss()
{
	std::ofstream clear_refs("/proc/self/clear_refs");
	clear_refs << "5" << std::flush;
	return clear_refs.good();
}

/* Every access unit behind a packet header, whose timestamp is filled in
 * when the packet goes out. */
std::vector<peer::Bytes> build_packets(const EncodedStream &stream)
{
	std::vector<peer::Bytes> packets;
	for (const auto &au : stream.access_units)
		packets.push_back(peer::packet(0x00, 0, au));
	return packets;
}

std::chrono::steady_clock::duration frame_period(const StreamShape &shape)
{
	return std::chrono::duration_cast<std::chrono::steady_clock::duration>(1s) / shape.fps;
}

struct BareSample {
	uint64_t ns;
	uint64_t allocations; /* made during the decode call */
};

struct Measured {
	size_t warm_up = 0; /* pictures of the first block, not measured */
	std::vector<uint64_t> sent;
	std::vector<BareSample> bare;
	long idle_peak_kb = 0;
	long stream_peak_kb = 0;
	bool peak_reset = false;
	long libobs_allocs_before = 0;
	long libobs_allocs_after = 0;
};

/* Sends packets [first, end) at the stream's frame rate, stamped with the
 * phone's clock (OBS's own here). sent[i] is taken as the packet is handed to
 * the socket: a keyframe fills the socket buffer, and the send then returns
 * only when the receiver has drained it. */
bool send_block(peer::Connection &phone, std::vector<peer::Bytes> &packets, const StreamShape &shape, size_t first,
		size_t end, Measured *m)
{
	auto start = std::chrono::steady_clock::now() + 20ms;
	for (size_t i = first; i < end; i++) {
		std::this_thread::sleep_until(start + frame_period(shape) * (i - first));
		peer::Bytes &packet = packets[i];
		uint64_t now = os_gettime_ns();
		packet_header_write({0x00, (uint32_t)(packet.size() - PACKET_HEADER_SIZE), now / 1000}, packet.data());
		m->sent[i] = now;
		if (!phone.send(packet))
			return false;
	}
	return true;
}

/* The reference: the same payloads through a bare decoder, paced the same. */
void decode_block(BareDecoder &decoder, const EncodedStream &stream, size_t first, size_t end, Measured *m)
{
	auto start = std::chrono::steady_clock::now() + 20ms;
	for (size_t i = first; i < end; i++) {
		std::this_thread::sleep_until(start + frame_period(stream.shape) * (i - first));
		const auto &au = stream.access_units[i];
		uint64_t allocations = allocations_on_this_thread();
		uint64_t begin = os_gettime_ns();
		decoder.decode(au.data(), au.size());
		m->bare[i] = {os_gettime_ns() - begin, allocations_on_this_thread() - allocations};
	}
}

bool wait_outputs(size_t n, std::chrono::milliseconds limit)
{
	return wait_until([&] { return g_outputs.load(std::memory_order_acquire) >= n; }, limit);
}

double ms(uint64_t ns)
{
	return (double)ns / 1e6;
}

void report_delivery(BenchReport &report, const StreamShape &shape, const Measured &m)
{
	std::vector<double> delivery, bare, to_decode, in_decode, hand_off;
	for (size_t i = m.warm_up; i < m.sent.size(); i++) {
		const LoopSample &loop = g_loop[i];
		delivery.push_back(ms(loop.output_returned - m.sent[i]));
		bare.push_back(ms(m.bare[i].ns));
		to_decode.push_back(ms(loop.decode_start - m.sent[i]));
		in_decode.push_back(ms(loop.decode_end - loop.decode_start));
		hand_off.push_back(ms(loop.output_returned - loop.decode_end));
	}

	report.section("Delivery: packet handed to the phone's socket -> obs_source_output_video returned");
	report.line("reference: bare libavcodec decode of the same payloads, same pacing, same process");
	report.line("%zu pictures measured after %zu of warm-up, in blocks of %d alternating with the reference",
		    m.sent.size() - m.warm_up, m.warm_up, shape.gop);
	report.line("delivery:    median %.2f ms, p99 %.2f ms, worst %.2f ms", median(delivery),
		    percentile(delivery, 99), percentile(delivery, 100));
	report.line("bare decode: median %.2f ms, p99 %.2f ms, worst %.2f ms", median(bare), percentile(bare, 99),
		    percentile(bare, 100));
	report.line(
		"inside the delivery (medians): to the decode call %.3f ms, decode %.2f ms, hand-off to OBS %.3f ms",
		median(to_decode), median(in_decode), median(hand_off));
	report.judge("delivery / bare decode, medians", median(delivery) / median(bare), median_ratio_goal);
	report.judge("delivery / bare decode, 99th percentiles", percentile(delivery, 99) / percentile(bare, 99),
		     p99_ratio_goal);
}

void report_memory(BenchReport &report, const StreamShape &shape, const Measured &m)
{
	std::vector<double> loop_allocs, bare_allocs, added;
	double loop_total = 0;
	double bare_total = 0;
	for (size_t i = m.warm_up; i < m.sent.size(); i++) {
		double loop = (double)(g_loop[i].allocations - g_loop[i - 1].allocations);
		double ref = (double)m.bare[i].allocations;
		loop_allocs.push_back(loop);
		bare_allocs.push_back(ref);
		added.push_back(loop - ref);
		loop_total += loop;
		bare_total += ref;
	}
	const double packets = (double)(m.sent.size() - m.warm_up);

	report.section("Memory: steady-state allocations per packet, peak RSS");
	report.line("heap allocations per packet, connection thread: median %.0f, mean %.2f", median(loop_allocs),
		    loop_total / packets);
	report.line("heap allocations per packet, bare decode:       median %.0f, mean %.2f", median(bare_allocs),
		    bare_total / packets);
	report.line("(both hold libavcodec's own per-picture bookkeeping; the loop's mean also holds its payload");
	report.line(" buffer growing for a larger keyframe, and OBS's frame cache taking a new frame while OBS");
	report.line(" still holds the last one)");
	report.judge("allocations the loop adds per packet, median", median(added), added_allocations_goal);
	report.figure("allocations the loop adds per packet, mean", "%.3f", (loop_total - bare_total) / packets);
	report.figure("libobs allocations outstanding (bnum_allocs)", "%ld after warm-up, %ld after %.0f more packets",
		      m.libobs_allocs_before, m.libobs_allocs_after, packets);
	if (!m.peak_reset)
		report.line("(could not reset the peak RSS: the figures below include the encoding)");
	report.figure("peak RSS",
		      "libobs alone %.1f MB, with one %dp source streaming and shown %.1f MB (+%.1f MB, x%.2f)",
		      m.idle_peak_kb / 1024.0, shape.height, m.stream_peak_kb / 1024.0,
		      (m.stream_peak_kb - m.idle_peak_kb) / 1024.0, (double)m.stream_peak_kb / m.idle_peak_kb);
}

int run(BenchReport &report)
{
	StreamShape shape;
	EncodedStream stream;
	std::string error;
	if (!make_stream(shape, &stream, &error))
		return report.cannot_run(error.c_str());
	std::vector<peer::Bytes> packets = build_packets(stream);
	malloc_trim(0); /* the encoder's memory goes back before any peak is taken */
	g_loop.resize(packets.size());

	ObsEnv env(shape.width, shape.height);
	obs_register_source(&ostrelin_source_info);
	adb_set_server_port(peer::unused_port()); /* destroy asks no adb server */

	Measured m;
	m.sent.resize(packets.size());
	m.bare.resize(packets.size());

	/* libobs alone. */
	m.peak_reset = reset_peak_rss();
	std::this_thread::sleep_for(2s);
	m.idle_peak_kb = status_kb("VmHWM:");

	/* The first block: warm-up, and the peak RSS of one source streaming,
	 * shown on the output. */
	reset_peak_rss();
	peer::Listener listener;
	obs_source_t *source = create_ostrelin_source("phone camera", listener.port());
	if (!source)
		return report.cannot_run("cannot create the source");
	obs_set_output_source(0, source);
	m.warm_up = std::min(packets.size(), (size_t)shape.gop);
	peer::Connection phone = listener.accept(5000);
	bool streamed =
		phone.valid() &&
		phone.send(peer::handshake((uint16_t)shape.width, (uint16_t)shape.height, (uint8_t)shape.fps)) &&
		send_block(phone, packets, shape, 0, m.warm_up, &m) && wait_outputs(m.warm_up, 5000ms);
	m.stream_peak_kb = status_kb("VmHWM:");
	obs_set_output_source(0, nullptr);

	/* The reference decoder goes through the same first block, unmeasured. */
	BareDecoder bare;
	streamed = streamed && bare.ready();
	for (size_t i = 0; streamed && i < m.warm_up; i++)
		bare.decode(stream.access_units[i].data(), stream.access_units[i].size());

	/* Then the source's stream and the reference take turns, one block
	 * each; the source waits in its receive meanwhile. */
	m.libobs_allocs_before = bnum_allocs();
	for (size_t first = m.warm_up; streamed && first < packets.size(); first += (size_t)shape.gop) {
		size_t end = std::min(packets.size(), first + (size_t)shape.gop);
		streamed = send_block(phone, packets, shape, first, end, &m) && wait_outputs(end, 5000ms);
		if (streamed)
			decode_block(bare, stream, first, end, &m);
	}
	m.libobs_allocs_after = bnum_allocs();
	obs_source_release(source);

	if (!streamed) {
		char why[128];
		snprintf(why, sizeof(why), "the source output %zu of %zu pictures", g_outputs.load(), packets.size());
		return report.cannot_run(why);
	}

	report.section("Stream");
	report.line("%dx%d, %d frames at %d fps, keyframe every %d, %.1f Mbit/s (libx264 superfast, zerolatency, "
		    "in-band SPS/PPS, 1 slice), sent over loopback at its frame rate",
		    shape.width, shape.height, shape.frames, shape.fps, shape.gop, stream.megabits_per_second());
	report_delivery(report, shape, m);
	report_memory(report, shape, m);
	return report.exit_status();
}

} // namespace

int main()
{
	return bench_main("delivery", run);
}
