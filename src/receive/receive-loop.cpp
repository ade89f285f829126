#include "receive/receive-loop.h"
#include "log/ostrelin-log.h"
#include "receive/picture-handover.h"
#include "receive/smooth-pacing.h"
#include "receive/receiver.h"

#include <util/bmem.h>
#include <util/platform.h>

#include <cstring>
#include <new>

static void ensure_packet_buffer(Receiver *rx, uint32_t length)
{
	if (rx->packet_buf_size >= length)
		return;
	bfree(rx->packet_buf);
	rx->packet_buf = static_cast<uint8_t *>(bmalloc(length));
	rx->packet_buf_size = length;
}

static void handle_capabilities(Receiver *rx, uint32_t length)
{
	CameraCaps caps;
	if (!camera_caps_parse({rx->packet_buf, length}, &caps))
		return;
	bool changed = !camera_caps_equal(caps, status_caps(rx->status));
	status_set_caps(rx->status, caps);
	connection_caps_arrived(rx->conn, caps);
	ostrelin_log(LOG_INFO, LOGTEXT_CAMERA_CAPS, caps.zoom_min / 1000.0, caps.zoom_max / 1000.0, caps.ev_min,
		     caps.ev_max, (caps.flags & CAPS_TORCH) ? LOGTEXT_CAPS_YES : LOGTEXT_CAPS_NO,
		     (caps.flags & CAPS_AE_LOCK) ? LOGTEXT_CAPS_YES : LOGTEXT_CAPS_NO, caps.awb_count);
	if (changed)
		receiver_panel_refresh(rx);
}

static void handle_audio_config(Receiver *rx, uint32_t length)
{
	AudioConfig config;
	if (!audio_config_parse({rx->packet_buf, length}, &config))
		return;
	/* The same bytes again: nothing to rebuild, whether the decoder was
	 * built or could not be. */
	if (audio_config_equal(config, rx->audio_config))
		return;

	ostrelin_audio_decoder_destroy(rx->audio_decoder);
	rx->audio_decoder = nullptr;
	memcpy(&rx->audio_config, &config, sizeof(config));
	if (!audio_config_rate_valid(config)) {
		ostrelin_log(LOG_WARNING, LOGTEXT_AUDIO_RATE_REFUSED, (unsigned)config.sample_rate);
		return;
	}
	rx->audio_decoder = ostrelin_audio_decoder_create(&config);
}

static void handle_audio_data(Receiver *rx, const PacketHeader &header)
{
	if (!rx->audio_decoder || !rx->audio_clock.clock_anchored)
		return;

	uint64_t now = os_gettime_ns();
	uint64_t pts = audio_clock_pts(&rx->audio_clock, sender_time_ns(header.timestamp));
	obs_source_audio audio;
	if (!ostrelin_audio_decoder_decode(rx->audio_decoder, rx->packet_buf, header.length, pts, &audio))
		return;

	AllowanceVerdict v;
	if (rx->smooth.on) {
		v = smooth_delay_audio(&rx->smooth.delay, pts, now, audio.frames, audio.samples_per_sec);
		smooth_pacing_show_delay(rx, v.report);
	} else {
		AudioAllowance *allowance = &rx->audio_allowance;
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
	obs_source_output_audio(rx->source, &audio);
	rx->status->audio_packets++;
}

/* A picture follows the clocks along; with "smooth and in sync" on it is held
 * until its time, otherwise it goes to OBS at once. */
static void handle_video(Receiver *rx, const PacketHeader &header)
{
	uint64_t now = os_gettime_ns();
	uint64_t ts = sender_time_ns(header.timestamp);
	int64_t diff = transit_offset(now, ts);

	int64_t re_anchor_delta = 0;
	if (audio_clock_update(&rx->audio_clock, diff, now, &re_anchor_delta))
		ostrelin_log(LOG_INFO, LOGTEXT_CLOCK_REANCHOR, re_anchor_delta / 1e6);
	/* Kept current with the mode on too, for when it ends. */
	uint64_t pts = video_clock_pts(&rx->video_clock, ts, diff, now);

	if (rx->smooth.on) {
		smooth_pacing_hold(rx, rx->packet_buf, header.length, ts, now);
	} else {
		obs_source_frame frame;
		uint64_t decode_ns;
		if (picture_decode(rx, rx->packet_buf, header.length, pts, &frame, &decode_ns))
			picture_hand_over(rx, &frame, decode_ns, ts);
	}
	picture_count_bytes(rx, header.length);
}

static void dispatch_packet(Receiver *rx, const PacketHeader &header)
{
	switch (packet_kind(header.flags)) {
	case PacketKind::capabilities:
		handle_capabilities(rx, header.length);
		break;
	case PacketKind::audio_config:
		handle_audio_config(rx, header.length);
		break;
	case PacketKind::audio_data:
		handle_audio_data(rx, header);
		break;
	case PacketKind::video:
		handle_video(rx, header);
		break;
	}
}

/* Reads exactly size bytes. With "smooth and in sync" on they are read as
 * they come, and the held pictures whose time comes meanwhile go to OBS
 * between the parts, however slowly a large packet trickles in. */
static bool read_paced(Receiver *rx, uint8_t *buf, size_t size)
{
	if (!rx->smooth.on)
		return connection_read(rx->conn, buf, size) == ReadResult::complete;
	for (size_t got = 0; got < size;) {
		if (!smooth_pacing_run(rx))
			return false;
		if (connection_read_some(rx->conn, buf, size, &got) != ReadResult::complete)
			return false;
	}
	return true;
}

/* Reads and handles the connection's packets until it ends or a stop comes. */
static void receive_packets(Receiver *rx)
{
	for (;;) {
		smooth_pacing_follow_setting(rx);
		uint8_t header_bytes[PACKET_HEADER_SIZE];
		if (!read_paced(rx, header_bytes, sizeof(header_bytes)))
			return;
		PacketHeader header = packet_header_parse(header_bytes);

		if (header.length > 0) {
			if (header.length > STREAM_MAX_PAYLOAD) {
				ostrelin_log(LOG_ERROR, LOGTEXT_PACKET_TOO_LARGE, (unsigned long long)header.length);
				return;
			}
			ensure_packet_buffer(rx, header.length);
			if (!read_paced(rx, rx->packet_buf, header.length))
				return;
			dispatch_packet(rx, header);
		}

		if (!rx->conn->running)
			return;
	}
}

void receive_loop(Receiver *rx)
{
	stats_start(&rx->stats, os_gettime_ns());
	if (!rx->conn->running)
		return;
	/* A new connection: OBS places its first audio block afresh. */
	audio_allowance_reset(&rx->audio_allowance);
	smooth_pacing_connection_start(rx);

	receive_packets(rx);

	smooth_pacing_connection_end(&rx->smooth);
}

Receiver *receiver_create(obs_source_t *source, StreamConnection *conn, StreamStatus *status,
			  const std::atomic<bool> *smooth_sync, const ObsTick *tick)
{
	auto *rx = new (bzalloc(sizeof(Receiver))) Receiver();
	rx->source = source;
	rx->conn = conn;
	rx->status = status;
	rx->smooth_sync = smooth_sync;
	rx->tick = tick;
	return rx;
}

void receiver_free(Receiver *rx)
{
	if (!rx)
		return;
	ostrelin_decoder_destroy(rx->video_decoder);
	rx->video_decoder = nullptr;
	ostrelin_audio_decoder_destroy(rx->audio_decoder);
	rx->audio_decoder = nullptr;
	bfree(rx->packet_buf);
	rx->packet_buf = nullptr;
	rx->packet_buf_size = 0;
	smooth_pacing_free(&rx->smooth);
	rx->~Receiver();
	bfree(rx);
}
