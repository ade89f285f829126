#pragma once
/* One stream connection to the phone, and the thread that owns it.
 *
 * Only the connection thread touches the socket: it opens it, reads from it,
 * writes the camera controls to it and closes it. No other thread ever holds
 * the handle, so none can close it under a waiting call, or send on a handle
 * that the system has meanwhile given to another socket.
 *
 * Other threads reach the connection through:
 *   running  cleared by connection_stop; the thread ends at its next test
 *   stop     raised by connection_stop; ends every wait of the thread at once
 *            (connect, reads, pauses, and its adb requests)
 *   wake     raised when camera controls are waiting to go out
 * Stopping is: clear running, raise stop, join. It never calls the socket.
 *
 * Camera controls: OBS's threads record the wanted values and return at once.
 * The thread writes them whole, in the table's order, once the phone has
 * announced its capabilities on this connection, and again whenever it
 * announces them anew. Values that change faster than the phone reads
 * collapse into the latest ones. A batch the phone does not take within
 * CONTROL_SEND_LIMIT_MS ends the connection, so no later message can follow a
 * cut one. */

#include "protocol/camera-controls.h"
#include "platform/net.h"
#include "platform/thread.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#define CONNECT_LIMIT_MS 3000
#define RECEIVE_SILENCE_LIMIT_MS 5000 /* no byte from the phone for this long: a read ends with timed_out */
#define CONTROL_SEND_LIMIT_MS 2000

enum class ReadResult {
	complete,
	stopped,   /* running was cleared */
	closed,    /* the peer closed the connection */
	timed_out, /* RECEIVE_SILENCE_LIMIT_MS without a byte */
	failed,    /* any other error, a control batch the phone did not take included */
};

enum class ConnectResult { connected, failed, stopped };

struct StreamConnection {
	plat_thread thread = {};
	std::atomic<bool> running = false;
	plat_stop_signal *stop = nullptr;
	plat_stop_signal *wake = nullptr;

	/* The connection thread's alone. */
	plat_socket sock = PLAT_INVALID_SOCKET;
	CameraCaps announced = {}; /* capabilities received on this connection */
	uint64_t last_data_ms = 0; /* when the last byte came (or the connection was made) */
	uint8_t outbox[CAMERA_CONTROLS_WIRE_SIZE] = {};
	size_t outbox_size = 0;
	size_t outbox_sent = 0;
	uint64_t outbox_since_ms = 0;

	/* Recorded by OBS's threads, taken by the connection thread. */
	std::mutex controls_lock;
	ControlValues wanted = {};
	std::atomic<bool> controls_pending = false;
};

/* Makes the signals; false when the system could not. */
bool connection_init(StreamConnection *conn);
/* Releases the signals; the thread must have been stopped. */
void connection_free(StreamConnection *conn);

/* Starts body(arg) as the connection thread; false when no thread could be made. */
bool connection_start(StreamConnection *conn, plat_thread_fn body, void *arg);
/* Ends the thread and waits until it has: every wait of the thread ends at
 * once, so this takes as long as the thread's current step of work. */
void connection_stop(StreamConnection *conn);
bool connection_active(const StreamConnection *conn);

/* Any thread: the values to write to the phone; returns at once. */
void connection_want_controls(StreamConnection *conn, const ControlValues &values);

/* The connection thread's side. */

/* A new socket, connected within CONNECT_LIMIT_MS (a stop cuts the attempt
 * short) and held by the connection. */
ConnectResult connection_open(StreamConnection *conn, uint32_t addr_be, uint16_t port);
/* Reads exactly size bytes, writing pending camera controls meanwhile. */
ReadResult connection_read(StreamConnection *conn, uint8_t *buf, size_t size);
/* Reads what has come of buf[*got, size), at least one byte, into its place
 * and adds it to *got; otherwise as connection_read. */
ReadResult connection_read_some(StreamConnection *conn, uint8_t *buf, size_t size, size_t *got);
/* Waits up to ms for something to read, writing pending camera controls
 * meanwhile. True when there is (data, the end of the stream or an error: the
 * next read reports it); false when the time ran out or a stop came. */
bool connection_wait_data(StreamConnection *conn, uint32_t ms);
/* The phone announced its capabilities: controls follow them from now on,
 * and the current values go out once. */
void connection_caps_arrived(StreamConnection *conn, const CameraCaps &caps);
void connection_close(StreamConnection *conn);
/* Pauses up to ms; true when a stop ended the pause. */
bool connection_pause(StreamConnection *conn, uint32_t ms);
