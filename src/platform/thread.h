#pragma once
/* Threads and their waits: a thread that is always joined, and a signal that
 * ends every wait of that thread (pauses and socket waits) as soon as it is
 * raised. */

#include <cstdint>

typedef void (*plat_thread_fn)(void *arg);

struct plat_thread {
	void *handle; /* null when no thread runs */
};

/* Starts fn(arg) on a new thread; false when no thread could be made. */
bool plat_thread_start(plat_thread *t, plat_thread_fn fn, void *arg);
/* Waits until the thread has ended and releases it; nothing when none runs. */
void plat_thread_join(plat_thread *t);
bool plat_thread_running(const plat_thread *t);

/* A signal stays raised until it is reset; plat_wait_socket (net.h) can wait on
 * it together with a socket. Raising and resetting are safe from any thread. */
struct plat_stop_signal;

plat_stop_signal *plat_stop_create(void);
void plat_stop_destroy(plat_stop_signal *stop);
void plat_stop_raise(plat_stop_signal *stop);
void plat_stop_reset(plat_stop_signal *stop);
bool plat_stop_raised(plat_stop_signal *stop);
/* Pauses up to ms milliseconds; returns true at once when the signal is (or
 * becomes) raised, false when the whole pause has passed. */
bool plat_stop_wait(plat_stop_signal *stop, uint32_t ms);
