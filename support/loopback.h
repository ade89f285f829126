#pragma once
/* Plain sockets for the peer side of socket tests on 127.0.0.1: a listener on
 * a free port, accepting, and closing with a reset. The code under test uses
 * the platform layer; its peers use the system's calls directly, so that a
 * fault of the layer cannot hide itself on both ends. */

#include "platform/net.h"

#ifdef _WIN32
#include <ws2tcpip.h>
typedef int loopback_len;
static constexpr int loopback_send_flags = 0;
static constexpr int loopback_stream_type = SOCK_STREAM;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
typedef socklen_t loopback_len;
static constexpr int loopback_send_flags = MSG_NOSIGNAL;
/* Listeners are not handed down to the child processes a test starts. */
static constexpr int loopback_stream_type = SOCK_STREAM | SOCK_CLOEXEC;
#endif

#include <cerrno>
#include <cstdint>

inline sockaddr_in loopback_address(uint16_t port)
{
	sockaddr_in sa = {};
	sa.sin_family = AF_INET;
	sa.sin_port = htons(port);
	sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	return sa;
}

/* A listening socket on 127.0.0.1:port (0: a free port), the port it got in
 * *bound; PLAT_INVALID_SOCKET on failure. */
inline plat_socket loopback_listen_on(uint16_t port, uint16_t *bound, int backlog)
{
	plat_socket s = socket(AF_INET, loopback_stream_type, IPPROTO_TCP);
	if (s == PLAT_INVALID_SOCKET)
		return s;
#ifndef _WIN32
	/* A fixed port again soon after a test: allowed past TIME_WAIT. (On
	 * Windows this option would let two sockets share a port.) */
	int one = 1;
	setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
#endif
	sockaddr_in sa = loopback_address(port);
	loopback_len len = sizeof(sa);
	if (bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) != 0 || listen(s, backlog) != 0 ||
	    getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
		plat_socket_close(s);
		return PLAT_INVALID_SOCKET;
	}
	*bound = ntohs(sa.sin_port);
	return s;
}

inline plat_socket loopback_listen(uint16_t *port)
{
	return loopback_listen_on(0, port, 8);
}

/* A port on 127.0.0.1 where nothing listens: one that was just free. */
inline uint16_t loopback_closed_port(void)
{
	uint16_t port = 0;
	plat_socket s = loopback_listen(&port);
	plat_socket_close(s);
	return port;
}

inline plat_socket loopback_accept(plat_socket listener)
{
	return accept(listener, nullptr, nullptr);
}

/* Waits up to ms (< 0: without a limit) for data, an end or a connection to
 * accept on s: > 0 when one came, 0 when the time ran out, < 0 when the wait
 * failed (see loopback_interrupted). */
inline int loopback_poll_readable(plat_socket s, int ms)
{
#ifdef _WIN32
	WSAPOLLFD entry = {s, POLLRDNORM, 0};
	return WSAPoll(&entry, 1, ms);
#else
	pollfd entry = {s, POLLIN, 0};
	return poll(&entry, 1, ms);
#endif
}

/* True when s has data, an end or a connection to accept within ms. */
inline bool loopback_wait_readable(plat_socket s, int ms)
{
	return loopback_poll_readable(s, ms) > 0;
}

/* One receive: the bytes it gave, 0 at the end of the stream, < 0 on failure. */
inline long loopback_recv(plat_socket s, void *data, size_t n)
{
	return (long)recv(s, static_cast<char *>(data), (int)n, 0);
}

/* True when the last failed wait or receive was only cut short by a signal. */
inline bool loopback_interrupted(void)
{
#ifdef _WIN32
	return WSAGetLastError() == WSAEINTR;
#else
	return errno == EINTR;
#endif
}

/* One send that never raises SIGPIPE; what send returned. */
inline long loopback_send(plat_socket s, const char *data, size_t n)
{
	return (long)send(s, data, (int)n, loopback_send_flags);
}

/* Closes with a reset instead of an orderly end (linger on, time zero). */
inline void loopback_reset(plat_socket s)
{
	linger hard = {};
	hard.l_onoff = 1;
	hard.l_linger = 0;
	setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof(hard));
	plat_socket_close(s);
}

inline int loopback_refused_code(void)
{
#ifdef _WIN32
	return WSAECONNREFUSED;
#else
	return ECONNREFUSED;
#endif
}
