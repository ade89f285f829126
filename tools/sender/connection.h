#pragma once
/* One accepted connection of the sender: sends that never raise SIGPIPE and
 * give up when the run ends, waits that wake when the peer leaves, and a
 * reader thread that prints every control message the receiver sends. */

#include "monotonic-clock.h"
#include "protocol/stream-protocol.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

/* When the whole run ends: a stop request (set by the signal handler) or an
 * end time on the monotonic clock (0: none). */
struct ServeLimits {
	const std::atomic<bool> *stop;
	int64_t end_us;
};

struct Connection {
	int fd = -1;
	ServeLimits limits = {};
	std::atomic<bool> gone{false}; /* the peer closed, or a send failed */
	std::mutex mutex;
	std::condition_variable wake;
	std::thread reader;
};

bool limits_reached(const ServeLimits &limits);

/* One whole line on stdout, flushed at once; safe from any thread. */
void print_line(const std::string &line);
/* "control zoom 1500", "control torch 1", "control unknown(9) 7", ... */
std::string control_line(const ControlMessage &msg);

/* Takes the accepted socket and starts reading control messages from it. */
bool connection_start(Connection &conn, int fd, const ServeLimits &limits);
/* Wakes and joins the reader and closes the socket. */
void connection_finish(Connection &conn);

bool connection_alive(Connection &conn);
/* True once the deadline has come with the connection still alive; false as
 * soon as the peer leaves or the run ends. */
bool connection_wait_until(Connection &conn, int64_t deadline_us);
bool connection_wait_ms(Connection &conn, int ms);
/* Sends every byte or gives up (false) when the connection or the run ends. */
bool connection_send(Connection &conn, const void *data, size_t size);
