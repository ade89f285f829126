#include "receive/stream-connection.h"

#include <algorithm>
#include <chrono>

static uint64_t now_ms(void)
{
	using namespace std::chrono;
	return (uint64_t)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool connection_init(StreamConnection *conn)
{
	conn->stop = plat_stop_create();
	conn->wake = plat_stop_create();
	return conn->stop && conn->wake;
}

void connection_free(StreamConnection *conn)
{
	plat_stop_destroy(conn->stop);
	plat_stop_destroy(conn->wake);
	conn->stop = nullptr;
	conn->wake = nullptr;
}

bool connection_start(StreamConnection *conn, plat_thread_fn body, void *arg)
{
	if (!conn->stop || !conn->wake)
		return false;
	plat_stop_reset(conn->stop);
	conn->running = true;
	if (!plat_thread_start(&conn->thread, body, arg)) {
		conn->running = false;
		return false;
	}
	return true;
}

void connection_stop(StreamConnection *conn)
{
	if (!plat_thread_running(&conn->thread))
		return;
	conn->running = false;
	plat_stop_raise(conn->stop);
	plat_thread_join(&conn->thread);
	/* The thread closes its socket on every way out; this only guards a
	 * thread body that did not. */
	connection_close(conn);
}

bool connection_active(const StreamConnection *conn)
{
	return plat_thread_running(&conn->thread);
}

void connection_want_controls(StreamConnection *conn, const ControlValues &values)
{
	{
		std::lock_guard<std::mutex> guard(conn->controls_lock);
		conn->wanted = values;
		conn->controls_pending = true;
	}
	if (conn->wake)
		plat_stop_raise(conn->wake);
}

ConnectResult connection_open(StreamConnection *conn, uint32_t addr_be, uint16_t port)
{
	plat_socket sock = plat_socket_tcp();
	if (sock == PLAT_INVALID_SOCKET)
		return ConnectResult::failed;
	/* Connected, the socket stays non-blocking: every later wait is a socket wait. */
	plat_stop_signal *signals[] = {conn->stop};
	if (!plat_connect_within(sock, addr_be, port, signals, 1, CONNECT_LIMIT_MS)) {
		plat_socket_close(sock);
		return conn->running ? ConnectResult::failed : ConnectResult::stopped;
	}
	plat_socket_set_nodelay(sock);
	conn->sock = sock;
	conn->announced = {};
	conn->outbox_size = 0;
	conn->outbox_sent = 0;
	conn->last_data_ms = now_ms();
	return ConnectResult::connected;
}

void connection_close(StreamConnection *conn)
{
	plat_socket_close(conn->sock);
	conn->sock = PLAT_INVALID_SOCKET;
	conn->announced = {};
	conn->outbox_size = 0;
	conn->outbox_sent = 0;
}

bool connection_pause(StreamConnection *conn, uint32_t ms)
{
	return plat_stop_wait(conn->stop, ms);
}

void connection_caps_arrived(StreamConnection *conn, const CameraCaps &caps)
{
	conn->announced = caps;
	conn->controls_pending = true;
}

/* Moves the latest wanted values into the empty outbox. */
static void take_controls(StreamConnection *conn)
{
	if (conn->outbox_size > 0 || !conn->announced.valid || !conn->controls_pending)
		return;
	ControlValues values;
	{
		std::lock_guard<std::mutex> guard(conn->controls_lock);
		values = conn->wanted;
		conn->controls_pending = false;
	}
	conn->outbox_size = camera_controls_write(values, conn->announced, conn->outbox);
	conn->outbox_sent = 0;
	conn->outbox_since_ms = now_ms();
}

/* Writes as much of the pending controls as the socket takes without
 * waiting. False when the socket failed, or the phone has left a batch
 * unread for longer than the limit. */
static bool flush_controls(StreamConnection *conn)
{
	for (take_controls(conn); conn->outbox_size > 0; take_controls(conn)) {
		long sent =
			plat_send(conn->sock, conn->outbox + conn->outbox_sent, conn->outbox_size - conn->outbox_sent);
		if (sent < 0 && plat_last_error_is_timeout())
			return now_ms() - conn->outbox_since_ms < CONTROL_SEND_LIMIT_MS;
		if (sent <= 0)
			return false;
		conn->outbox_sent += (size_t)sent;
		if (conn->outbox_sent == conn->outbox_size)
			conn->outbox_size = 0;
	}
	return true;
}

/* How long the next wait may last: until the silence limit, or until a
 * control batch under way runs out of time. */
static int wait_limit_ms(const StreamConnection *conn, uint64_t last_data, uint64_t now)
{
	uint64_t limit = RECEIVE_SILENCE_LIMIT_MS - (now - last_data);
	if (conn->outbox_size > 0) {
		uint64_t spent = now - conn->outbox_since_ms;
		limit = std::min<uint64_t>(limit, spent < CONTROL_SEND_LIMIT_MS ? CONTROL_SEND_LIMIT_MS - spent : 0);
	}
	return (int)limit;
}

bool connection_wait_data(StreamConnection *conn, uint32_t ms)
{
	if (conn->sock == PLAT_INVALID_SOCKET)
		return true;
	plat_stop_signal *signals[] = {conn->stop, conn->wake};
	uint64_t end = now_ms() + ms;
	for (;;) {
		if (!conn->running)
			return false;
		plat_stop_reset(conn->wake);
		if (!flush_controls(conn))
			return true;
		uint64_t now = now_ms();
		if (now >= end)
			return false;
		int events = PLAT_WAIT_READ | (conn->outbox_size > 0 ? PLAT_WAIT_WRITE : 0);
		int ready = plat_wait_socket(conn->sock, events, signals, 2, (int)(end - now));
		if (ready < 0 || (ready & PLAT_WAIT_READ))
			return true;
	}
}

/* Reads into buf[*got, size) until it is full, or (some) until at least
 * one byte came. The silence limit counts from the last byte the phone sent,
 * whatever the connection thread did meanwhile. */
static ReadResult read_into(StreamConnection *conn, uint8_t *buf, size_t size, size_t *got, bool some)
{
	if (conn->sock == PLAT_INVALID_SOCKET)
		return ReadResult::failed;

	plat_stop_signal *signals[] = {conn->stop, conn->wake};
	const size_t start = *got;
	while (*got < size && !(some && *got > start)) {
		if (!conn->running)
			return ReadResult::stopped;
		/* Reset before taking the values: a change recorded after this
		 * raises the signal again, and the next wait returns at once. */
		plat_stop_reset(conn->wake);
		if (!flush_controls(conn))
			return ReadResult::failed;

		long n = plat_recv(conn->sock, buf + *got, size - *got);
		if (n > 0) {
			*got += (size_t)n;
			conn->last_data_ms = now_ms();
			continue;
		}
		if (n == 0)
			return ReadResult::closed;
		if (!plat_last_error_is_timeout())
			return ReadResult::failed;

		uint64_t now = now_ms();
		if (now - conn->last_data_ms >= RECEIVE_SILENCE_LIMIT_MS)
			return ReadResult::timed_out;
		int events = PLAT_WAIT_READ | (conn->outbox_size > 0 ? PLAT_WAIT_WRITE : 0);
		if (plat_wait_socket(conn->sock, events, signals, 2, wait_limit_ms(conn, conn->last_data_ms, now)) < 0)
			return ReadResult::failed;
	}
	return ReadResult::complete;
}

ReadResult connection_read(StreamConnection *conn, uint8_t *buf, size_t size)
{
	size_t got = 0;
	return read_into(conn, buf, size, &got, false);
}

ReadResult connection_read_some(StreamConnection *conn, uint8_t *buf, size_t size, size_t *got)
{
	return read_into(conn, buf, size, got, true);
}
