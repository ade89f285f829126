#pragma once
/* adb requests that OBS's threads hand off and never wait for: removing a
 * forward, and scanning the device list. One worker thread for the module,
 * started with the first request; each request is bounded by the adb
 * client's own time limit. */

#include "adb/adb-client.h"

/* Queues the removal of the forward of local_port (serial may be empty). */
void adb_background_remove_forward(const char *serial, int local_port);

/* How a scan reports back to whoever asked: called once for each scan asked
 * with it, on the worker when the scan has ended (changed: its list differs
 * from the last one), or with changed false when the scan will not run (at
 * once on the asking thread, or when the worker is shut down). ctx is the
 * callback's from then on: it releases whatever ctx holds. */
typedef void (*AdbScanDone)(void *ctx, bool changed);

/* Starts a device scan, unless one is already waiting to run; with
 * unless_known, also unless a scan is under way or has ended since the
 * module was loaded. done (null for none) is called as said above. */
void adb_background_scan(bool unless_known, AdbScanDone done, void *ctx);

/* Copies the last device list into out and returns its length (0 to 16);
 * *scanned tells whether a scan has ended since the module was loaded. */
int adb_background_devices(AdbDevice out[ADB_MAX_DEVICES], bool *scanned);

/* Lets queued requests finish for up to grace_ms, then ends the one under
 * way, joins the worker and forgets the device list. A later request starts
 * a new worker. */
void adb_background_shutdown(uint32_t grace_ms);

/* What the module gives queued requests when it is unloaded. */
#define ADB_UNLOAD_GRACE_MS 1000
