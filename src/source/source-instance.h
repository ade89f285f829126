#pragma once
/* The one record per camera source, shared by OBS's callbacks (the interface
 * thread) and the source's connection thread.
 *
 * Fields that cross threads are atomic. The stream socket belongs to the
 * connection thread: it publishes it under sock_lock, closes it exactly once
 * under sock_lock, and the interface thread only sends on it or shuts it down
 * while holding sock_lock. caps is published whole under caps_lock. */

#include "audio-decoder.h"
#include "clock-sync.h"
#include "decoder.h"
#include "platform/net.h"
#include "platform/thread.h"
#include "stream-protocol.h"

#include <obs-module.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#define SOURCE_DEFAULT_PORT 27183

struct SourceInstance {
	obs_source_t *source = nullptr;

	/* The connection thread and how it is stopped. */
	nx_thread thread = {};
	std::atomic<bool> running = false;
	nx_stop_signal *stop = nullptr; /* wakes the thread's pauses and connect wait */

	std::mutex sock_lock;
	nx_socket sock = NX_INVALID_SOCKET;

	/* Applied connection settings; rewritten only while no thread runs. */
	char serial[128] = {};
	char host[128] = {};
	int32_t port = 0;
	bool use_adb = false;
	std::atomic<bool> enabled = false;

	/* Owned by the instance; used by the connection thread only. */
	VideoDecoder *video_decoder = nullptr;
	AudioDecoder *audio_decoder = nullptr;
	uint8_t *packet_buf = nullptr;
	uint64_t packet_buf_size = 0;
	AudioConfig audio_config = {};
	AudioClock audio_clock = {};
	VideoClock video_clock = {};

	mutable std::mutex caps_lock;
	CameraCaps caps = {};

	/* Written by the connection thread, read by the panel and the update. */
	std::atomic<bool> connected = false;
	std::atomic<uint32_t> width = 0;
	std::atomic<uint32_t> height = 0;
	std::atomic<uint32_t> stream_fps = 0;
	std::atomic<int32_t> stat_fps = 0;
	std::atomic<int32_t> stat_kbps = 0;
	std::atomic<uint64_t> frames_decoded = 0;
	std::atomic<uint64_t> audio_packets = 0;
};

/* A consistent copy of the capabilities last received. */
static inline CameraCaps source_caps(const SourceInstance *inst)
{
	std::lock_guard<std::mutex> guard(inst->caps_lock);
	return inst->caps;
}

static inline void source_set_caps(SourceInstance *inst, const CameraCaps &caps)
{
	std::lock_guard<std::mutex> guard(inst->caps_lock);
	inst->caps = caps;
}
