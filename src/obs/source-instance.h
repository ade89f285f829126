#pragma once
/* The one record per camera source, shared by OBS's callbacks (create and the
 * panel on OBS's interface thread, update on its video thread, destroy on its
 * destruction thread) and the source's connection thread.
 *
 * Each field has one writer, said beside it:
 * - the connection (socket, thread, stop): StreamConnection, its one owner;
 * - the connection thread's own state: `rx`, touched by nothing else;
 * - the applied settings and the forward record: rewritten by create, update
 *   and destroy only while no connection thread runs;
 * - what the connection thread publishes for the panel and the update:
 *   atomic, and caps whole under caps_lock. */

#include "receive/obs-tick.h"
#include "receive/receiver.h"
#include "obs/settings.h"
#include "receive/stream-connection.h"
#include "protocol/stream-protocol.h"

#include <obs-module.h>

#include <atomic>
#include <cstdint>
#include <mutex>

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

	/* The connection thread's alone while it runs. */
	Receiver rx;

	/* "Smooth and in sync" as the settings want it (any update); the
	 * connection thread follows it and says in rx.smooth which timing is in
	 * force. */
	std::atomic<bool> smooth_sync = false;

	/* Written by the connection thread, read by the panel and the update. */
	mutable std::mutex caps_lock;
	CameraCaps caps = {};
	std::atomic<bool> connected = false;
	std::atomic<uint32_t> width = 0;
	std::atomic<uint32_t> height = 0;
	std::atomic<uint32_t> stream_fps = 0;
	std::atomic<uint8_t> stream_codec = 0; /* the handshake's codec number */
	std::atomic<int32_t> stat_fps = 0;
	std::atomic<int32_t> stat_kbps = 0;
	std::atomic<uint64_t> frames_decoded = 0;
	std::atomic<uint64_t> audio_packets = 0;
	std::atomic<int32_t> smooth_delay_ms = -1; /* the mode's delay; -1: mode off or no stream */

	/* Written by OBS's video thread (video_tick), read by the connection thread. */
	ObsTick tick;
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
