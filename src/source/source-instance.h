#pragma once
/* The one record per camera source, shared by OBS's callbacks (create and the
 * panel on OBS's interface thread, update on its video thread, destroy on its
 * destruction thread) and the source's connection thread.
 *
 * The connection (socket, thread, stop) has one owner, StreamConnection.
 * Fields that cross threads are atomic; caps is published whole under
 * caps_lock. The applied settings and the forward record change only while
 * no connection thread runs. */

#include "audio-allowance.h"
#include "audio-decoder.h"
#include "clock-sync.h"
#include "decoder.h"
#include "settings.h"
#include "stream-connection.h"
#include "stream-protocol.h"
#include "sync-delay.h"

#include <obs-module.h>

#include <atomic>
#include <cstdint>
#include <mutex>

struct HeldPictures;

struct SourceInstance {
	obs_source_t *source = nullptr;

	StreamConnection conn;

	/* Applied connection settings; rewritten only while no thread runs. */
	char serial[128] = {};
	char host[128] = {};
	int32_t port = 0;
	std::atomic<long long> refused_port = 0; /* a "port" setting outside 1-65535; nothing connects */
	bool use_adb = false;
	std::atomic<bool> enabled = false;

	/* The adb forward this source's thread made (USB mode), to be removed
	 * when the source goes or its port or device changes. */
	bool forward_made = false;
	char forward_serial[128] = {};
	int32_t forward_port = 0;

	/* Owned by the instance, released by destroy; made and used by the
	 * connection thread only. */
	VideoDecoder *video_decoder = nullptr;
	AudioDecoder *audio_decoder = nullptr;
	uint8_t *packet_buf = nullptr;
	uint64_t packet_buf_size = 0;
	AudioConfig audio_config = {}; /* the last configuration tried, built or not */
	AudioClock audio_clock = {};
	AudioAllowance audio_allowance = {};
	VideoClock video_clock = {};

	/* "Smooth and in sync": wanted by the settings (any update), followed
	 * by the connection thread, whose copy says which timing is in force.
	 * Its pictures wait in `held` until their time. */
	std::atomic<bool> smooth_sync = false;
	bool sync_applied = false;
	SyncDelay sync_delay = {};
	HeldPictures *held = nullptr;
	uint64_t last_handover = 0;              /* when the last held picture went to OBS */
	uint64_t tick_interval = 0;              /* OBS's video tick (ns), taken when the mode starts */
	std::atomic<int32_t> sync_delay_ms = -1; /* for the panel; -1: mode off or no stream */

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

/* Asks an open properties panel to rebuild itself (libobs hands this to the
 * interface thread); free when no panel is open. */
static inline void source_panel_refresh(SourceInstance *inst)
{
	if (inst->source)
		obs_source_update_properties(inst->source);
}
