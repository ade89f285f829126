#pragma once
/* Threads and their waits: a thread that is always joined, and a signal that
 * ends every wait of that thread (pauses and socket waits) as soon as it is
 * raised. */

#include <cstdint>

typedef void (*nx_thread_fn)(void *arg);

struct nx_thread {
	void *handle; /* null when no thread runs */
};

/* Starts fn(arg) on a new thread; false when no thread could be made. */
bool nx_thread_start(nx_thread *t, nx_thread_fn fn, void *arg);
/* Waits until the thread has ended and releases it; nothing when none runs. */
void nx_thread_join(nx_thread *t);
bool nx_thread_running(const nx_thread *t);

/* A signal stays raised until it is reset; nx_wait_socket (net.h) can wait on
 * it together with a socket. Raising and resetting are safe from any thread. */
struct nx_stop_signal;

nx_stop_signal *nx_stop_create(void);
void nx_stop_destroy(nx_stop_signal *stop);
void nx_stop_raise(nx_stop_signal *stop);
void nx_stop_reset(nx_stop_signal *stop);
bool nx_stop_raised(nx_stop_signal *stop);
/* Pauses up to ms milliseconds; returns true at once when the signal is (or
 * becomes) raised, false when the whole pause has passed. */
bool nx_stop_wait(nx_stop_signal *stop, uint32_t ms);
