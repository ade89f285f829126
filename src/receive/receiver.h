#pragma once
/* What the connection thread alone reads and writes while it runs: the
 * decoders, the packet buffer, the clock and delay trackers, the held
 * pictures and the statistics window. Nothing else touches it then; the
 * source's destroy frees it (receiver_free) once the thread has ended. */

#include "timing/audio-allowance.h"
#include "decode/audio-decoder.h"
#include "timing/clock-sync.h"
#include "decode/video-decoder.h"
#include "receive/smooth-pacing.h"
#include "protocol/stream-protocol.h"
#include "timing/stream-stats.h"

#include <cstdint>

struct Receiver {
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
