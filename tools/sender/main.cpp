/* ostrelin-sender: a reference phone app for Ostrelin, serving the camera
 * stream on a TCP port (see --help). Linux only. */

#include "connection.h"
#include "options.h"
#include "send-log.h"
#include "stream.h"

extern "C" {
#include <libavutil/log.h>
}

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

static std::atomic<bool> g_stop{false};

static void on_stop_signal(int)
{
	g_stop = true;
}

/* No SA_RESTART: a blocked call returns with EINTR, and every wait checks
 * g_stop at least every 100 ms anyway. */
static void install_signal_handlers(void)
{
	struct sigaction sa;
	memset(&sa, 0, sizeof(sa));
	sa.sa_handler = on_stop_signal;
	sigemptyset(&sa.sa_mask);
	sigaction(SIGINT, &sa, nullptr);
	sigaction(SIGTERM, &sa, nullptr);
	signal(SIGPIPE, SIG_IGN);
}

static int open_listener(const SenderOptions &opts, uint16_t *bound_port)
{
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0) {
		perror("ostrelin-sender: socket");
		return -1;
	}
	int one = 1;
	setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
	sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_port = htons((uint16_t)opts.port);
	inet_pton(AF_INET, opts.listen_addr.c_str(), &addr.sin_addr);
	socklen_t len = sizeof(addr);
	if (bind(fd, (sockaddr *)&addr, sizeof(addr)) != 0 || listen(fd, 4) != 0 ||
	    getsockname(fd, (sockaddr *)&addr, &len) != 0) {
		fprintf(stderr, "ostrelin-sender: cannot listen on %s:%d: %s\n", opts.listen_addr.c_str(), opts.port,
			strerror(errno));
		close(fd);
		return -1;
	}
	*bound_port = ntohs(addr.sin_port);
	return fd;
}

/* The next connection, or -1 once the run has ended. */
static int accept_next(int listener, const ServeLimits &limits)
{
	while (!limits_reached(limits)) {
		pollfd pfd = {listener, POLLIN, 0};
		int ready = poll(&pfd, 1, 100);
		if (ready <= 0)
			continue;
		int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
		if (fd >= 0)
			return fd;
		if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN)
			perror("ostrelin-sender: accept");
	}
	return -1;
}

static void serve_one(int fd, const SenderOptions &opts, const ServeLimits &limits, long connection)
{
	print_line("connected");
	send_log_open_connection(connection);
	Connection conn;
	if (connection_start(conn, fd, limits))
		stream_serve(conn, opts, connection);
	else
		fprintf(stderr, "ostrelin-sender: cannot start the control reader\n");
	connection_finish(conn);
	send_log_close_connection(connection);
	print_line("disconnected");
}

int main(int argc, char **argv)
{
	SenderOptions opts;
	OptionsRead read = sender_parse_options(argc, argv, &opts);
	if (read != OptionsRead::run)
		return read == OptionsRead::help ? 0 : 2;
	install_signal_handlers();
	av_log_set_level(AV_LOG_ERROR);
	if (!opts.send_log.empty() && !send_log_open(opts.send_log.c_str()))
		return 1;
	opts.clock.origin_us = monotonic_us();

	uint16_t port = 0;
	int listener = open_listener(opts, &port);
	if (listener < 0)
		return 1;
	print_line("listening on " + opts.listen_addr + ":" + std::to_string(port));

	ServeLimits limits = {&g_stop, 0};
	if (opts.duration_s > 0)
		limits.end_us = monotonic_us() + (int64_t)(opts.duration_s * 1e6);
	for (long served = 0; opts.connections == 0 || served < opts.connections; served++) {
		int fd = accept_next(listener, limits);
		if (fd < 0)
			break;
		serve_one(fd, opts, limits, served);
	}
	close(listener);
	return 0;
}
