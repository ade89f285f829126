#include "adb/adb-background.h"
#include "platform/thread.h"

#include <util/bmem.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace {

struct ForwardRemoval {
	char serial[128];
	int port;
};

struct ScanReport {
	AdbScanDone done;
	void *ctx;
};

/* Everything the worker shares with OBS's threads, under one lock. The
 * record is made once and never freed, so a worker still running when the
 * process ends never touches a destroyed lock. */
struct Worker {
	std::mutex lock;
	std::condition_variable changed;
	plat_thread thread = {};
	plat_stop_signal *stop = nullptr; /* ends the request under way */
	bool quitting = false;
	bool busy = false;

	std::deque<ForwardRemoval> removals;
	bool scan_wanted = false;
	bool scanning = false;
	std::vector<ScanReport> reports; /* callers waiting for the scan */

	AdbDevice devices[ADB_MAX_DEVICES] = {};
	int device_count = 0;
	bool scanned = false;
};

Worker &worker()
{
	static Worker *w = new Worker();
	return *w;
}

bool same_devices(const AdbDevice *a, int a_count, const AdbDevice *b, int b_count)
{
	return a_count == b_count && memcmp(a, b, sizeof(AdbDevice) * (size_t)a_count) == 0;
}

void run_scan(Worker &w, std::unique_lock<std::mutex> &held)
{
	std::vector<ScanReport> reports;
	reports.swap(w.reports);
	w.scan_wanted = false;
	w.scanning = true;
	held.unlock();

	AdbDevice *found = nullptr;
	int count = adb_list_devices(&found);
	if (count < 0)
		count = 0;

	held.lock();
	bool changed = !same_devices(w.devices, w.device_count, found ? found : w.devices, count);
	memset(w.devices, 0, sizeof(w.devices));
	if (found)
		memcpy(w.devices, found, sizeof(AdbDevice) * (size_t)count);
	w.device_count = count;
	w.scanned = true;
	w.scanning = false;
	held.unlock();
	bfree(found);

	for (const ScanReport &report : reports)
		report.done(report.ctx, changed);
	held.lock();
}

void worker_main(void *)
{
	Worker &w = worker();
	adb_set_thread_stop(w.stop);
	std::unique_lock<std::mutex> held(w.lock);
	for (;;) {
		w.changed.wait(held, [&] { return w.quitting || w.scan_wanted || !w.removals.empty(); });
		if (w.removals.empty() && !w.scan_wanted)
			break;
		w.busy = true;
		if (!w.removals.empty()) {
			ForwardRemoval job = w.removals.front();
			w.removals.pop_front();
			held.unlock();
			adb_forward_remove(job.serial[0] ? job.serial : nullptr, job.port);
			held.lock();
		} else {
			run_scan(w, held);
		}
		w.busy = false;
		w.changed.notify_all();
	}
	adb_set_thread_stop(nullptr);
}

/* With the lock held: the worker runs once this returns true. */
bool ensure_started(Worker &w)
{
	if (plat_thread_running(&w.thread))
		return true;
	if (!w.stop)
		w.stop = plat_stop_create();
	if (!w.stop)
		return false;
	plat_stop_reset(w.stop);
	w.quitting = false;
	return plat_thread_start(&w.thread, worker_main, nullptr);
}

} // namespace

void adb_background_remove_forward(const char *serial, int local_port)
{
	Worker &w = worker();
	std::lock_guard<std::mutex> guard(w.lock);
	if (w.quitting || !ensure_started(w))
		return;
	ForwardRemoval job = {};
	snprintf(job.serial, sizeof(job.serial), "%s", serial ? serial : "");
	job.port = local_port;
	w.removals.push_back(job);
	w.changed.notify_all();
}

/* With the lock held: whether a scan is now waiting to run. */
static bool queue_scan(Worker &w, bool unless_known, AdbScanDone done, void *ctx)
{
	if (unless_known && (w.scanned || w.scanning || w.scan_wanted))
		return false;
	if (w.quitting || !ensure_started(w))
		return false;
	if (done)
		w.reports.push_back({done, ctx});
	w.scan_wanted = true;
	w.changed.notify_all();
	return true;
}

void adb_background_scan(bool unless_known, AdbScanDone done, void *ctx)
{
	Worker &w = worker();
	std::unique_lock<std::mutex> held(w.lock);
	bool queued = queue_scan(w, unless_known, done, ctx);
	held.unlock();
	if (!queued && done)
		done(ctx, false);
}

int adb_background_devices(AdbDevice out[ADB_MAX_DEVICES], bool *scanned)
{
	Worker &w = worker();
	std::lock_guard<std::mutex> guard(w.lock);
	memcpy(out, w.devices, sizeof(w.devices));
	*scanned = w.scanned;
	return w.device_count;
}

void adb_background_shutdown(uint32_t grace_ms)
{
	Worker &w = worker();
	std::unique_lock<std::mutex> held(w.lock);
	if (!plat_thread_running(&w.thread))
		return;
	w.quitting = true;
	w.changed.notify_all();
	w.changed.wait_for(held, std::chrono::milliseconds(grace_ms),
			   [&] { return !w.busy && w.removals.empty() && !w.scan_wanted; });
	w.removals.clear();
	w.scan_wanted = false;
	plat_stop_raise(w.stop);
	w.changed.notify_all();
	held.unlock();

	plat_thread_join(&w.thread);

	held.lock();
	std::vector<ScanReport> dropped;
	dropped.swap(w.reports);
	memset(w.devices, 0, sizeof(w.devices));
	w.device_count = 0;
	w.scanned = false;
	w.quitting = false;
	held.unlock();
	for (const ScanReport &report : dropped)
		report.done(report.ctx, false);
}
