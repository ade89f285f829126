#include "connection.h"
#include "protocol/camera-controls.h"
#include "exact-read.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

static std::mutex g_print_mutex;

bool limits_reached(const ServeLimits &limits)
{
	if (limits.stop && limits.stop->load())
		return true;
	return limits.end_us != 0 && monotonic_us() >= limits.end_us;
}

void print_line(const std::string &line)
{
	std::lock_guard lock(g_print_mutex);
	fputs(line.c_str(), stdout);
	fputc('\n', stdout);
	fflush(stdout);
}

/* Named by the plug-in's setting key of the control. */
std::string control_line(const ControlMessage &msg)
{
	const CameraControlRow *row = camera_control_by_command(msg.command);
	std::string value = std::to_string(msg.value);
	if (!row)
		return "control unknown(" + std::to_string(msg.command) + ") " + value;
	return std::string("control ") + row->key + " " + value;
}

static void mark_gone(Connection &conn)
{
	{
		std::lock_guard lock(conn.mutex);
		conn.gone = true;
	}
	conn.wake.notify_all();
}

/* Control messages may arrive split across reads or several in one read;
 * a record cut short by the end of the connection is dropped. */
static void read_controls(Connection *conn)
{
	uint8_t record[CONTROL_MESSAGE_SIZE];
	while (read_exact(conn->fd, record, sizeof(record)) == ExactRead::done)
		print_line(control_line(control_message_parse(record)));
	mark_gone(*conn);
}

bool connection_start(Connection &conn, int fd, const ServeLimits &limits)
{
	conn.fd = fd;
	conn.limits = limits;
	conn.gone = false;
	int one = 1;
	setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
	/* Sends wake up now and then so that a receiver that stopped reading
	 * cannot hold the sender past a stop request. */
	timeval tv = {0, 100 * 1000};
	setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
	try {
		conn.reader = std::thread(read_controls, &conn);
	} catch (const std::exception &) {
		return false;
	}
	return true;
}

void connection_finish(Connection &conn)
{
	/* On Linux, shutdown wakes the reader blocked in recv. */
	shutdown(conn.fd, SHUT_RDWR);
	if (conn.reader.joinable())
		conn.reader.join();
	close(conn.fd);
	conn.fd = -1;
}

bool connection_alive(Connection &conn)
{
	return !conn.gone.load() && !limits_reached(conn.limits);
}

bool connection_wait_until(Connection &conn, int64_t deadline_us)
{
	std::unique_lock lock(conn.mutex);
	for (;;) {
		if (!connection_alive(conn))
			return false;
		int64_t now = monotonic_us();
		if (now >= deadline_us)
			return true;
		/* Slices, because a signal handler cannot notify the condition. */
		int64_t slice = std::min<int64_t>(deadline_us - now, 50 * 1000);
		conn.wake.wait_for(lock, std::chrono::microseconds(slice));
	}
}

bool connection_wait_ms(Connection &conn, int ms)
{
	return connection_wait_until(conn, monotonic_us() + (int64_t)ms * 1000);
}

bool connection_send(Connection &conn, const void *data, size_t size)
{
	const uint8_t *p = (const uint8_t *)data;
	while (size > 0) {
		if (!connection_alive(conn))
			return false;
		ssize_t n = send(conn.fd, p, size, MSG_NOSIGNAL);
		if (n < 0) {
			if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
				continue;
			mark_gone(conn);
			return false;
		}
		p += n;
		size -= (size_t)n;
	}
	return true;
}
