#include "platform/thread.h"
#include "platform/signal-handle.h"

#include <new>
#include <process.h>
#include <windows.h>

namespace {

struct ThreadStart {
	plat_thread_fn fn;
	void *arg;
};

unsigned __stdcall thread_main(void *param)
{
	ThreadStart start = *static_cast<ThreadStart *>(param);
	delete static_cast<ThreadStart *>(param);
	start.fn(start.arg);
	return 0;
}

} // namespace

bool plat_thread_start(plat_thread *t, plat_thread_fn fn, void *arg)
{
	auto *start = new (std::nothrow) ThreadStart{fn, arg};
	/* _beginthreadex, not CreateThread: the thread body uses the C runtime,
	 * which sets up and releases its per-thread state only for threads
	 * started this way. Its result is a thread handle, closed by the join. */
	uintptr_t started = start ? _beginthreadex(nullptr, 0, thread_main, start, 0, nullptr) : 0;
	HANDLE handle = reinterpret_cast<HANDLE>(started);
	if (!handle) {
		delete start;
		t->handle = nullptr;
		return false;
	}
	t->handle = handle;
	return true;
}

void plat_thread_join(plat_thread *t)
{
	if (!t->handle)
		return;
	WaitForSingleObject(t->handle, INFINITE);
	CloseHandle(t->handle);
	t->handle = nullptr;
}

bool plat_thread_running(const plat_thread *t)
{
	return t->handle != nullptr;
}

struct plat_stop_signal {
	HANDLE event; /* manual-reset: stays raised until reset */
};

plat_stop_signal *plat_stop_create(void)
{
	auto *stop = new (std::nothrow) plat_stop_signal;
	if (!stop)
		return nullptr;
	stop->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
	if (!stop->event) {
		delete stop;
		return nullptr;
	}
	return stop;
}

void plat_stop_destroy(plat_stop_signal *stop)
{
	if (!stop)
		return;
	CloseHandle(stop->event);
	delete stop;
}

void plat_stop_raise(plat_stop_signal *stop)
{
	SetEvent(stop->event);
}

void plat_stop_reset(plat_stop_signal *stop)
{
	ResetEvent(stop->event);
}

bool plat_stop_raised(plat_stop_signal *stop)
{
	return WaitForSingleObject(stop->event, 0) == WAIT_OBJECT_0;
}

bool plat_stop_wait(plat_stop_signal *stop, uint32_t ms)
{
	return WaitForSingleObject(stop->event, ms) == WAIT_OBJECT_0;
}

HANDLE plat_stop_handle(plat_stop_signal *stop)
{
	return stop->event;
}
