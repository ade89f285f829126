#pragma once
/* The one record per camera source, shared by OBS's callbacks (create and the
 * panel on OBS's interface thread, update on its video thread, destroy on its
 * destruction thread) and the source's connection thread.
 *
 * Each field has one writer, said beside it:
 * - the connection (socket, thread, stop): StreamConnection, its one owner;
 * - the connection thread's own state: `rx`, touched by nothing else while
 *   the thread runs;
 * - the applied settings: rewritten by create and update only while no
 *   connection thread runs;
 * - the forward record: written by the connection thread while it runs,
 *   read and cleared by update and destroy once it has ended;
 * - what the connection thread publishes for the panel and the update:
 *   `status`. */

#include "receive/obs-tick.h"
#include "obs/settings.h"
#include "receive/stream-connection.h"
#include "receive/stream-status.h"
#include "receive/stream-thread.h"

#include <obs-module.h>

#include <atomic>
#include <cstdint>

struct SourceInstance {
	obs_source_t *source = nullptr;

	StreamConnection conn;

	/* Applied connection settings; rewritten only while no thread runs. */
	ConnectionSettings settings;
	std::atomic<long long> refused_port = 0; /* a "port" setting outside 1-65535; nothing connects */
	std::atomic<bool> enabled = false;

	/* The adb forward this source's thread made (USB mode). */
	AdbForward forward;

	/* The connection thread's record (receive-loop.h makes and frees it),
	 * its alone while it runs, and what the thread is started with. */
	Receiver *rx = nullptr;
	StreamThreadArgs thread_args;

	/* "Smooth and in sync" as the settings want it (any update); the
	 * connection thread follows it and says in its record which timing is
	 * in force. */
	std::atomic<bool> smooth_sync = false;

	/* Written by the connection thread, read by the panel and the update. */
	StreamStatus status;

	/* Written by OBS's video thread (video_tick), read by the connection thread. */
	ObsTick tick;
};
