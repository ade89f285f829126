#include "receive/picture-handover.h"
#include "log/ostrelin-log.h"
#include "receive/receiver.h"

#include <util/platform.h>

bool picture_decode(Receiver *rx, const uint8_t *payload, uint32_t size, uint64_t pts, obs_source_frame *frame,
		    uint64_t *decode_ns)
{
	uint64_t start = os_gettime_ns();
	bool got = ostrelin_decoder_decode(rx->video_decoder, payload, size, pts, frame);
	*decode_ns = os_gettime_ns() - start;
	return got;
}

uint64_t picture_hand_over(Receiver *rx, obs_source_frame *frame, uint64_t decode_ns, uint64_t ts)
{
	uint64_t start = os_gettime_ns();
	obs_source_output_video(rx->source, frame);
	uint64_t t = os_gettime_ns();
	/* The time the picture took: its decode and the hand-over itself. */
	stats_add_picture(&rx->stats, decode_ns + (t - start), t, ts);
	rx->status->frames_decoded++;
	return t;
}

static void report_window(Receiver *rx, uint64_t now)
{
	StreamStatus *status = rx->status;
	StatsReport r = stats_report(&rx->stats, now);
	status->stat_fps = r.stat_fps;
	status->stat_kbps = r.stat_kbps;

	ostrelin_log(LOG_INFO, LOGTEXT_STATS, r.fps, r.bits_per_sec / 1e6, r.decode_avg_ms, r.decode_max_ms,
		     (unsigned long long)status->frames_decoded.load());
	uint64_t audio_packets = status->audio_packets;
	if (audio_packets)
		ostrelin_log(LOG_INFO, LOGTEXT_STATS_AUDIO, (unsigned long long)audio_packets,
			     rx->audio_clock.clock_offset / 1e6);
	if (r.latency_count)
		ostrelin_log(LOG_INFO, LOGTEXT_STATS_LATENCY, r.latency_avg_ms, r.latency_max_ms,
			     (unsigned long long)r.latency_count);
}

void picture_count_bytes(Receiver *rx, uint32_t size)
{
	StreamStats *stats = &rx->stats;
	stats_add_bytes(stats, size);
	uint64_t now = os_gettime_ns();
	if (stats_window_due(stats, now)) {
		report_window(rx, now);
		stats_start(stats, now);
	}
}
