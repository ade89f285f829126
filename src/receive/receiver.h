#pragma once
/* What the connection thread alone reads and writes while it runs: the
 * decoders, the packet buffer, the clock and delay trackers, the held
 * pictures and the statistics window; and its links, set once when it is
 * made, to what it shares with its source. Nothing else touches it then;
 * the source's destroy frees it (receiver_free) once the thread has ended. */

#include "timing/audio-allowance.h"
#include "decode/audio-decoder.h"
#include "timing/clock-sync.h"
#include "decode/video-decoder.h"
#include "receive/obs-tick.h"
#include "receive/smooth-pacing.h"
#include "receive/stream-connection.h"
#include "receive/stream-status.h"
#include "protocol/stream-protocol.h"
#include "timing/stream-stats.h"

#include <obs-module.h>

#include <atomic>
#include <cstdint>

struct Receiver {
	/* Not owned: the source's, for as long as the receiver lives. */
	obs_source_t *source = nullptr;
	StreamConnection *conn = nullptr;
	StreamStatus *status = nullptr;
	const std::atomic<bool> *smooth_sync = nullptr; /* the mode as the settings want it */
	const ObsTick *tick = nullptr;                  /* OBS's last take of a picture (video_tick) */

	VideoDecoder *video_decoder = nullptr; /* kept across connections of the same codec */
	AudioDecoder *audio_decoder = nullptr;
	AudioConfig audio_config = {}; /* the last configuration tried, built or not */
	uint8_t *packet_buf = nullptr;
	uint64_t packet_buf_size = 0;
	AudioClock audio_clock = {};
	AudioAllowance audio_allowance = {};
	VideoClock video_clock = {};
	SmoothPacing smooth;
	StreamStats stats = {};
};

/* Asks an open properties panel to rebuild itself (libobs hands this to the
 * interface thread); free when no panel is open. */
static inline void receiver_panel_refresh(const Receiver *rx)
{
	if (rx->source)
		obs_source_update_properties(rx->source);
}
