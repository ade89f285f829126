#pragma once
/* adb requests that OBS's threads hand off and never wait for: removing a
 * forward, and scanning the device list. One worker thread for the module,
 * started with the first request; each request is bounded by the adb
 * client's own time limit. */

#include "adb-client.h"

#include <obs-module.h>

/* Queues the removal of the forward of local_port (serial may be empty). */
void adb_background_remove_forward(const char *serial, int local_port);

/* Starts a device scan, unless one is already waiting to run; with
 * unless_known, also unless a scan is under way or has ended since the
 * module was loaded. When it ends with a list other than the last one,
 * libobs is asked to rebuild the properties of source (held weakly; null for
 * none). */
void adb_background_scan(obs_source_t *source, bool unless_known);

/* Copies the last device list into out and returns its length (0 to 16);
 * *scanned tells whether a scan has ended since the module was loaded. */
int adb_background_devices(AdbDevice out[ADB_MAX_DEVICES], bool *scanned);

/* Lets queued requests finish for up to grace_ms, then ends the one under
 * way, joins the worker and forgets the device list. A later request starts
 * a new worker. */
void adb_background_shutdown(uint32_t grace_ms);

/* What the module gives queued requests when it is unloaded. */
#define ADB_UNLOAD_GRACE_MS 1000
