#pragma once
/* What the connection thread publishes about its stream for the panel and
 * the update: written by that thread alone, read by any; each figure atomic,
 * the capabilities whole under their lock. */

#include "protocol/stream-protocol.h"

#include <atomic>
#include <cstdint>
#include <mutex>

struct StreamStatus {
	mutable std::mutex caps_lock;
	CameraCaps caps = {};
	std::atomic<bool> connected = false;
	/* Over USB, adb took the last attempt's connection and the phone closed
	 * it before a byte: the app is not open, or not listening on the port. */
	std::atomic<bool> app_not_listening = false;
	std::atomic<uint32_t> width = 0;
	std::atomic<uint32_t> height = 0;
	std::atomic<uint32_t> stream_fps = 0;
	std::atomic<uint8_t> stream_codec = 0; /* the handshake's codec number */
	std::atomic<int32_t> stat_fps = 0;
	std::atomic<int32_t> stat_kbps = 0;
	std::atomic<uint64_t> frames_decoded = 0;
	std::atomic<uint64_t> audio_packets = 0;
	std::atomic<int32_t> smooth_delay_ms = -1; /* the mode's delay; -1: mode off or no stream */
};

/* A consistent copy of the capabilities last received. */
static inline CameraCaps status_caps(const StreamStatus *status)
{
	std::lock_guard<std::mutex> guard(status->caps_lock);
	return status->caps;
}

static inline void status_set_caps(StreamStatus *status, const CameraCaps &caps)
{
	std::lock_guard<std::mutex> guard(status->caps_lock);
	status->caps = caps;
}
