#include "platform/net.h"
#include "platform/signal-handle.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#ifdef MSG_NOSIGNAL
static constexpr int send_flags = MSG_NOSIGNAL;
#else
static constexpr int send_flags = 0; /* macOS: SO_NOSIGPIPE is set on the socket instead */
#endif

bool plat_net_init(void)
{
	return true;
}

void plat_net_cleanup(void) {}

plat_socket plat_socket_tcp(void)
{
	int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
#ifdef SO_NOSIGPIPE
	if (s >= 0) {
		int one = 1;
		setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof(one));
	}
#endif
	return s;
}

void plat_socket_close(plat_socket s)
{
	if (s >= 0)
		close(s);
}

bool plat_socket_set_nonblocking(plat_socket s, bool on)
{
	int flags = fcntl(s, F_GETFL, 0);
	if (flags < 0)
		return false;
	flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
	return fcntl(s, F_SETFL, flags) == 0;
}

bool plat_socket_set_nodelay(plat_socket s)
{
	int one = 1;
	return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one)) == 0;
}

bool plat_parse_ipv4(const char *text, uint32_t *addr_be)
{
	in_addr addr = {};
	if (!text || inet_pton(AF_INET, text, &addr) != 1)
		return false;
	*addr_be = addr.s_addr;
	return true;
}

uint32_t plat_loopback_be(void)
{
	return htonl(INADDR_LOOPBACK);
}

bool plat_connect(plat_socket s, uint32_t addr_be, uint16_t port)
{
	sockaddr_in sa = {};
	sa.sin_family = AF_INET;
	sa.sin_port = htons(port);
	sa.sin_addr.s_addr = addr_be;
	return connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) == 0;
}

/* poll rather than select: a busy process (OBS with many sources) can hand out
 * descriptors above FD_SETSIZE, which select cannot take. */
int plat_wait_socket(plat_socket s, int events, plat_stop_signal *const *signals, int signal_count, int timeout_ms)
{
	pollfd entries[1 + PLAT_WAIT_MAX_SIGNALS] = {};
	if (signal_count > PLAT_WAIT_MAX_SIGNALS)
		return -1;
	entries[0].fd = s;
	entries[0].events =
		(short)(((events & PLAT_WAIT_READ) ? POLLIN : 0) | ((events & PLAT_WAIT_WRITE) ? POLLOUT : 0));
	nfds_t count = 1;
	for (int i = 0; i < signal_count; i++) {
		if (!signals[i])
			continue;
		entries[count].fd = plat_stop_fd(signals[i]);
		entries[count].events = POLLIN;
		count++;
	}

	int result;
	do {
		result = poll(entries, count, timeout_ms);
	} while (result < 0 && errno == EINTR);
	if (result < 0)
		return -1;
	for (nfds_t i = 1; i < count; i++) {
		if (entries[i].revents)
			return 0;
	}
	/* An error or a hang-up is reported to whichever event was asked for:
	 * the next call on the socket collects it. */
	int ready = 0;
	short got = entries[0].revents;
	if (got & (POLLIN | POLLERR | POLLHUP))
		ready |= events & PLAT_WAIT_READ;
	if (got & (POLLOUT | POLLERR | POLLHUP))
		ready |= events & PLAT_WAIT_WRITE;
	if (got & POLLNVAL)
		return -1;
	return ready;
}

int plat_socket_pending_error(plat_socket s)
{
	int err = 0;
	socklen_t len = sizeof(err);
	if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
		return -1;
	return err;
}

long plat_send(plat_socket s, const void *buf, size_t len)
{
	ssize_t sent;
	do {
		sent = send(s, buf, len, send_flags);
	} while (sent < 0 && errno == EINTR);
	return (long)sent;
}

long plat_recv(plat_socket s, void *buf, size_t len)
{
	ssize_t got;
	do {
		got = recv(s, buf, len, 0);
	} while (got < 0 && errno == EINTR);
	return (long)got;
}

bool plat_last_error_is_timeout(void)
{
	return errno == EAGAIN || errno == EWOULDBLOCK;
}

bool plat_last_error_is_in_progress(void)
{
	return errno == EINPROGRESS;
}

int plat_last_error_code(void)
{
	return errno;
}
