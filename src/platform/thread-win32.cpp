#include "thread.h"
#include "signal-handle.h"

#include <new>
#include <process.h>
#include <windows.h>

namespace {

struct ThreadStart {
	nx_thread_fn fn;
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

bool nx_thread_start(nx_thread *t, nx_thread_fn fn, void *arg)
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

void nx_thread_join(nx_thread *t)
{
	if (!t->handle)
		return;
	WaitForSingleObject(t->handle, INFINITE);
	CloseHandle(t->handle);
	t->handle = nullptr;
}

bool nx_thread_running(const nx_thread *t)
{
	return t->handle != nullptr;
}

struct nx_stop_signal {
	HANDLE event; /* manual-reset: stays raised until reset */
};

nx_stop_signal *nx_stop_create(void)
{
	auto *stop = new (std::nothrow) nx_stop_signal;
	if (!stop)
		return nullptr;
	stop->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
	if (!stop->event) {
		delete stop;
		return nullptr;
	}
	return stop;
}

void nx_stop_destroy(nx_stop_signal *stop)
{
	if (!stop)
		return;
	CloseHandle(stop->event);
	delete stop;
}

void nx_stop_raise(nx_stop_signal *stop)
{
	SetEvent(stop->event);
}

void nx_stop_reset(nx_stop_signal *stop)
{
	ResetEvent(stop->event);
}

bool nx_stop_raised(nx_stop_signal *stop)
{
	return WaitForSingleObject(stop->event, 0) == WAIT_OBJECT_0;
}

bool nx_stop_wait(nx_stop_signal *stop, uint32_t ms)
{
	return WaitForSingleObject(stop->event, ms) == WAIT_OBJECT_0;
}

HANDLE nx_stop_handle(nx_stop_signal *stop)
{
	return stop->event;
}
