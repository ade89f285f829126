#include "receive-loop.h"
#include "held-pictures.h"
#include "ostrelin-log.h"
#include "source-instance.h"
#include "stream-stats.h"

#include <util/bmem.h>
#include <util/platform.h>

#include <cstring>

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
	bool changed = !camera_caps_equal(caps, source_caps(inst));
	source_set_caps(inst, caps);
	connection_caps_arrived(&inst->conn, caps);
	ostrelin_log(LOG_INFO, LOGTEXT_CAMERA_CAPS, caps.zoom_min / 1000.0, caps.zoom_max / 1000.0, caps.ev_min,
		     caps.ev_max, (caps.flags & CAPS_TORCH) ? LOGTEXT_CAPS_YES : LOGTEXT_CAPS_NO,
		     (caps.flags & CAPS_AE_LOCK) ? LOGTEXT_CAPS_YES : LOGTEXT_CAPS_NO, caps.awb_count);
	if (changed)
		source_panel_refresh(inst);
}

static void handle_audio_config(SourceInstance *inst, uint32_t length)
{
	AudioConfig config;
	if (!audio_config_parse({inst->packet_buf, length}, &config))
		return;
	/* The same bytes again: nothing to rebuild, whether the decoder was
	 * built or could not be. */
	if (audio_config_equal(config, inst->audio_config))
		return;

	ostrelin_audio_decoder_destroy(inst->audio_decoder);
	inst->audio_decoder = nullptr;
	memcpy(&inst->audio_config, &config, sizeof(config));
	if (!audio_config_rate_valid(config)) {
		ostrelin_log(LOG_WARNING, LOGTEXT_AUDIO_RATE_REFUSED, (unsigned)config.sample_rate);
		return;
	}
	inst->audio_decoder =
		ostrelin_audio_decoder_create(config.sample_rate, config.channels, config.asc, config.asc_len);
}

/* The delay for the panel, and for the log when the delay's rules say so. */
static void show_sync_delay(SourceInstance *inst, bool report)
{
	const AudioAllowance *s = &inst->sync_delay.timing;
	inst->sync_delay_ms = (int32_t)(s->allowance / 1000000);
	if (report)
		ostrelin_log(LOG_INFO, LOGTEXT_SYNC_DELAY, s->allowance / 1e6, (unsigned long long)s->dropped_blocks);
}

static void handle_audio_data(SourceInstance *inst, const PacketHeader &header)
{
	if (!inst->audio_decoder || !inst->audio_clock.clock_anchored)
		return;

	uint64_t now = os_gettime_ns();
	uint64_t pts = audio_clock_pts(&inst->audio_clock, sender_time_ns(header.timestamp));
	obs_source_audio audio;
	if (!ostrelin_audio_decoder_decode(inst->audio_decoder, inst->packet_buf, header.length, pts, &audio))
		return;

	AllowanceVerdict v;
	if (inst->sync_applied) {
		v = sync_delay_audio(&inst->sync_delay, pts, now, audio.frames, audio.samples_per_sec);
		show_sync_delay(inst, v.report);
	} else {
		AudioAllowance *allowance = &inst->audio_allowance;
		v = audio_allowance_block(allowance, pts, now, audio.frames, audio.samples_per_sec);
		if (v.report)
			ostrelin_log(LOG_INFO, LOGTEXT_AUDIO_ALLOWANCE, allowance->allowance / 1e6,
				     (unsigned long long)allowance->dropped_blocks);
	}
	if (!v.deliver)
		return;
	audio.timestamp = pts + (uint64_t)v.shift;
	if (v.cut_frames)
		audio_decoder_cut_front(&audio, v.cut_frames);
	obs_source_output_audio(inst->source, &audio);
	inst->audio_packets++;
}

static void report_window(SourceInstance *inst, const StreamStats *stats, uint64_t now)
{
	StatsReport r = stats_report(stats, now);
	inst->stat_fps = r.stat_fps;
	inst->stat_kbps = r.stat_kbps;

	ostrelin_log(LOG_INFO, LOGTEXT_STATS, r.fps, r.bits_per_sec / 1e6, r.decode_avg_ms, r.decode_max_ms,
		     (unsigned long long)inst->frames_decoded.load());
	uint64_t audio_packets = inst->audio_packets;
	if (audio_packets)
		ostrelin_log(LOG_INFO, LOGTEXT_STATS_AUDIO, (unsigned long long)audio_packets,
			     inst->audio_clock.clock_offset / 1e6);
	if (r.latency_count)
		ostrelin_log(LOG_INFO, LOGTEXT_STATS_LATENCY, r.latency_avg_ms, r.latency_max_ms,
			     (unsigned long long)r.latency_count);
}

static void handle_video(SourceInstance *inst, const PacketHeader &header, StreamStats *stats)
{
	uint64_t now = os_gettime_ns();
	uint64_t ts = sender_time_ns(header.timestamp);
	int64_t diff = transit_offset(now, ts);

	int64_t re_anchor_delta = 0;
	if (audio_clock_update(&inst->audio_clock, diff, now, &re_anchor_delta))
		ostrelin_log(LOG_INFO, LOGTEXT_CLOCK_REANCHOR, re_anchor_delta / 1e6);
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

static_assert(HELD_PICTURES_BUDGET >= STREAM_MAX_PAYLOAD, "a picture of any size the stream allows fits alone");

/* Decodes a held picture and hands it to OBS, at its time or as soon as
 * the thread gets to it. */
static void present_held(SourceInstance *inst, StreamStats *stats)
{
	HeldPicture *p = held_pictures_front(inst->held);
	uint64_t start = os_gettime_ns();
	obs_source_frame frame;
	if (ostrelin_decoder_decode(inst->video_decoder, p->data, p->size, p->present_at, &frame)) {
		obs_source_output_video(inst->source, &frame);
		uint64_t t = os_gettime_ns();
		stats_add_picture(stats, t - start, t, p->sender_ts);
		inst->frames_decoded++;
		inst->last_handover = t;
	}
	held_pictures_pop(inst->held);
}

/* "Smooth and in sync": the picture is held until its time on the timeline
 * the sound shares. */
static void handle_video_sync(SourceInstance *inst, const PacketHeader &header, StreamStats *stats)
{
	uint64_t now = os_gettime_ns();
	uint64_t ts = sender_time_ns(header.timestamp);
	int64_t diff = transit_offset(now, ts);

	int64_t re_anchor_delta = 0;
	if (audio_clock_update(&inst->audio_clock, diff, now, &re_anchor_delta))
		ostrelin_log(LOG_INFO, LOGTEXT_CLOCK_REANCHOR, re_anchor_delta / 1e6);
	video_clock_pts(&inst->video_clock, ts, diff, now); /* kept current for when the mode ends */
	SyncPicture p = sync_delay_picture(&inst->sync_delay, audio_clock_pts(&inst->audio_clock, ts), now);
	show_sync_delay(inst, p.report);

	/* Held pictures stay within their budget: the oldest go to OBS first. */
	while (!held_pictures_room(inst->held, header.length) && held_pictures_front(inst->held))
		present_held(inst, stats);
	held_pictures_push(inst->held, inst->packet_buf, header.length, p.present_at, ts);
	stats_add_bytes(stats, header.length);

	uint64_t after = os_gettime_ns();
	if (stats_window_due(stats, after)) {
		report_window(inst, stats, after);
		stats_start(stats, after);
	}
}

/* OBS's video tick, in ns. */
static uint64_t tick_interval(void)
{
	obs_video_info ovi;
	if (!obs_get_video_info(&ovi) || !ovi.fps_num)
		return 0;
	return (uint64_t)ovi.fps_den * 1000000000ULL / ovi.fps_num;
}

/* Hands on the held pictures whose time has come, then waits for the phone's
 * next bytes until the next one's. Decoding starts the picture's lead and half
 * a tick before its time, since OBS shows it at the first tick after (so that
 * on average it is shown at its time), and not before OBS has taken the
 * picture before. False when a stop came. */
static bool pace_pictures(SourceInstance *inst, StreamStats *stats)
{
	for (;;) {
		HeldPicture *p = held_pictures_front(inst->held);
		if (!p)
			return true;
		uint64_t due = p->present_at - (uint64_t)PICTURE_LEAD - inst->tick_interval / 2;
		uint64_t start =
			sync_handover_time(due, inst->last_handover, obs_get_video_frame_time(), inst->tick_interval);
		uint64_t now = os_gettime_ns();
		if ((int64_t)(start - now) <= 0) {
			present_held(inst, stats);
			continue;
		}
		if (connection_wait_data(&inst->conn, (uint32_t)((start - now + 999999) / 1000000)))
			return true;
		if (!inst->conn.running)
			return false;
	}
}

/* The setting changed: the other timing takes over where this one is, so
 * the sound goes on without a jump. */
static void switch_timing(SourceInstance *inst, StreamStats *stats)
{
	uint64_t now = os_gettime_ns();
	if (inst->smooth_sync) {
		if (!inst->held)
			inst->held = held_pictures_create();
		inst->tick_interval = tick_interval();
		sync_delay_start(&inst->sync_delay, &inst->audio_allowance, now);
		inst->sync_applied = true;
		show_sync_delay(inst, false);
	} else {
		/* Every held picture still goes through the decoder, in order. */
		while (held_pictures_front(inst->held))
			present_held(inst, stats);
		held_pictures_trim(inst->held);
		sync_delay_stop(&inst->sync_delay, &inst->audio_allowance, now);
		inst->sync_applied = false;
		inst->sync_delay_ms = -1;
	}
	if (inst->sync_applied)
		ostrelin_log(LOG_INFO, LOGTEXT_SYNC_ON);
	else
		ostrelin_log(LOG_INFO, LOGTEXT_SYNC_OFF);
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
		if (inst->sync_applied)
			handle_video_sync(inst, header, stats);
		else
			handle_video(inst, header, stats);
		break;
	}
}

/* Reads and handles the connection's packets until it ends or a stop comes. */
static void receive_packets(SourceInstance *inst, StreamStats *stats)
{
	for (;;) {
		if (inst->smooth_sync != inst->sync_applied)
			switch_timing(inst, stats);
		if (inst->sync_applied && !pace_pictures(inst, stats))
			return;
		uint8_t header_bytes[PACKET_HEADER_SIZE];
		if (connection_read(&inst->conn, header_bytes, sizeof(header_bytes)) != ReadResult::complete)
			return;
		PacketHeader header = packet_header_parse(header_bytes);

		if (header.length > 0) {
			if (header.length > STREAM_MAX_PAYLOAD) {
				ostrelin_log(LOG_ERROR, LOGTEXT_PACKET_TOO_LARGE, (unsigned long long)header.length);
				return;
			}
			ensure_packet_buffer(inst, header.length);
			if (connection_read(&inst->conn, inst->packet_buf, header.length) != ReadResult::complete)
				return;
			dispatch_packet(inst, header, stats);
		}

		if (!inst->conn.running)
			return;
	}
}

void receive_loop(SourceInstance *inst)
{
	StreamStats stats;
	stats_start(&stats, os_gettime_ns());
	if (!inst->conn.running)
		return;
	/* A new connection: OBS places its first audio block afresh. */
	audio_allowance_reset(&inst->audio_allowance);
	if (inst->sync_applied)
		sync_delay_start(&inst->sync_delay, &inst->audio_allowance, os_gettime_ns());

	receive_packets(inst, &stats);

	/* The pictures still held belong to this connection: none of them may
	 * follow the next phone's; their large buffers go too. */
	held_pictures_clear(inst->held);
	held_pictures_trim(inst->held);
}
