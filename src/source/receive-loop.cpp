#include "receive-loop.h"
#include "source-instance.h"
#include "stream-stats.h"

#include <util/bmem.h>
#include <util/platform.h>

#include <cstring>

static nx_socket current_socket(SourceInstance *inst)
{
	std::lock_guard<std::mutex> guard(inst->sock_lock);
	return inst->sock;
}

ReadResult read_exact(SourceInstance *inst, uint8_t *buf, size_t size)
{
	nx_socket sock = current_socket(inst);
	if (sock == NX_INVALID_SOCKET)
		return ReadResult::failed;

	size_t got = 0;
	int waited_ms = 0;
	while (got < size) {
		if (!inst->running)
			return ReadResult::stopped;
		long n = nx_recv(sock, buf + got, size - got);
		if (n > 0) {
			got += (size_t)n;
			waited_ms = 0;
		} else if (n == 0) {
			return ReadResult::closed;
		} else if (nx_last_error_is_timeout()) {
			waited_ms += RECEIVE_TIMEOUT_MS;
			if (waited_ms >= RECEIVE_SILENCE_LIMIT_MS)
				return ReadResult::timed_out;
		} else {
			return ReadResult::failed;
		}
	}
	return ReadResult::complete;
}

static void ensure_packet_buffer(SourceInstance *inst, uint32_t length)
{
	if (inst->packet_buf_size >= length)
		return;
	bfree(inst->packet_buf);
	inst->packet_buf = static_cast<uint8_t *>(bmalloc(length));
	inst->packet_buf_size = length;
}

static void handle_capabilities(SourceInstance *inst, uint32_t length)
{
	CameraCaps caps;
	if (!camera_caps_parse({inst->packet_buf, length}, &caps))
		return;
	source_set_caps(inst, caps);
	blog(LOG_INFO, "[ostrelin] 相機能力：變焦 %.1f–%.1f×，曝光 %d–%d 級，手電筒 %s，AE 鎖 %s，白平衡 %d 種",
	     caps.zoom_min / 1000.0, caps.zoom_max / 1000.0, caps.ev_min, caps.ev_max,
	     (caps.flags & CAPS_TORCH) ? "有" : "無", (caps.flags & CAPS_AE_LOCK) ? "有" : "無", caps.awb_count);
}

static void handle_audio_config(SourceInstance *inst, uint32_t length)
{
	AudioConfig config;
	if (!audio_config_parse({inst->packet_buf, length}, &config))
		return;
	if (inst->audio_decoder && audio_config_equal(config, inst->audio_config))
		return;

	ostrelin_audio_decoder_destroy(inst->audio_decoder);
	memcpy(&inst->audio_config, &config, sizeof(config));
	inst->audio_decoder = ostrelin_audio_decoder_create(&inst->audio_config);
}

static void handle_audio_data(SourceInstance *inst, const PacketHeader &header)
{
	if (!inst->audio_decoder || !inst->audio_clock.clock_anchored)
		return;

	uint64_t pts = audio_clock_pts(&inst->audio_clock, sender_time_ns(header.timestamp));
	obs_source_audio audio;
	if (ostrelin_audio_decoder_decode(inst->audio_decoder, inst->packet_buf, header.length, pts, &audio)) {
		obs_source_output_audio(inst->source, &audio);
		inst->audio_packets++;
	}
}

static void report_window(SourceInstance *inst, const StreamStats *stats, uint64_t now)
{
	StatsReport r = stats_report(stats, now);
	inst->stat_fps = r.stat_fps;
	inst->stat_kbps = r.stat_kbps;

	blog(LOG_INFO, "[ostrelin] %.1f fps, %.1f Mbps, 解碼 %.2f ms (最慢 %.2f), 累計 %llu 張", r.fps,
	     r.bits_per_sec / 1e6, r.decode_avg_ms, r.decode_max_ms, (unsigned long long)inst->frames_decoded.load());
	uint64_t audio_packets = inst->audio_packets;
	if (audio_packets)
		blog(LOG_INFO, "[ostrelin]   音訊 %llu 個封包，時鐘位移 %.1f ms", (unsigned long long)audio_packets,
		     inst->audio_clock.clock_offset / 1e6);
	if (r.latency_count)
		blog(LOG_INFO, "[ostrelin]   送出→交給OBS: 平均 %.2f ms, 最慢 %.2f ms (%llu 張)", r.latency_avg_ms,
		     r.latency_max_ms, (unsigned long long)r.latency_count);
}

static void handle_video(SourceInstance *inst, const PacketHeader &header, StreamStats *stats)
{
	uint64_t now = os_gettime_ns();
	uint64_t ts = sender_time_ns(header.timestamp);
	int64_t diff = transit_offset(now, ts);

	int64_t re_anchor_delta = 0;
	if (audio_clock_update(&inst->audio_clock, diff, now, &re_anchor_delta))
		blog(LOG_INFO, "[ostrelin] 時鐘基準改變，重新錨定（差 %.0f ms）", re_anchor_delta / 1e6);
	uint64_t pts = video_clock_pts(&inst->video_clock, ts, diff, now);

	obs_source_frame frame;
	if (ostrelin_decoder_decode(inst->video_decoder, inst->packet_buf, header.length, pts, &frame)) {
		obs_source_output_video(inst->source, &frame);
		uint64_t t = os_gettime_ns();
		stats_add_picture(stats, t - now, t, ts);
		inst->frames_decoded++;
	}
	stats_add_bytes(stats, header.length);

	uint64_t t2 = os_gettime_ns();
	if (stats_window_due(stats, t2)) {
		report_window(inst, stats, t2);
		stats_start(stats, t2);
	}
}

static void dispatch_packet(SourceInstance *inst, const PacketHeader &header, StreamStats *stats)
{
	switch (packet_kind(header.flags)) {
	case PacketKind::capabilities:
		handle_capabilities(inst, header.length);
		break;
	case PacketKind::audio_config:
		handle_audio_config(inst, header.length);
		break;
	case PacketKind::audio_data:
		handle_audio_data(inst, header);
		break;
	case PacketKind::video:
		handle_video(inst, header, stats);
		break;
	}
}

void receive_loop(SourceInstance *inst)
{
	StreamStats stats;
	stats_start(&stats, os_gettime_ns());
	if (!inst->running)
		return;

	for (;;) {
		uint8_t header_bytes[PACKET_HEADER_SIZE];
		if (read_exact(inst, header_bytes, sizeof(header_bytes)) != ReadResult::complete)
			return;
		PacketHeader header = packet_header_parse(header_bytes);

		if (header.length > 0) {
			if (header.length > STREAM_MAX_PAYLOAD) {
				blog(LOG_ERROR, "[ostrelin] 封包大小不合理 (%llu)，中斷連線",
				     (unsigned long long)header.length);
				return;
			}
			ensure_packet_buffer(inst, header.length);
			if (read_exact(inst, inst->packet_buf, header.length) != ReadResult::complete)
				return;
			dispatch_packet(inst, header, &stats);
		}

		if (!inst->running)
			return;
	}
}
