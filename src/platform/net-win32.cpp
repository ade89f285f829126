#include "platform/net.h"
#include "platform/signal-handle.h"

#include <climits>
#include <mstcpip.h>
#include <ws2tcpip.h>

bool plat_net_init(void)
{
	WSADATA data;
	return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void plat_net_cleanup(void)
{
	WSACleanup();
}

plat_socket plat_socket_tcp(void)
{
	/* Not inheritable, so a child process never keeps the connection open. */
	return WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
			  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

void plat_socket_close(plat_socket s)
{
	if (s != INVALID_SOCKET)
		closesocket(s);
}

bool plat_socket_set_nonblocking(plat_socket s, bool on)
{
	u_long mode = on ? 1 : 0;
	return ioctlsocket(s, FIONBIO, &mode) == 0;
}

bool plat_socket_set_nodelay(plat_socket s)
{
	BOOL one = TRUE;
	return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof(one)) == 0;
}

bool plat_parse_ipv4(const char *text, uint32_t *addr_be)
{
	IN_ADDR addr = {};
	if (!text || inet_pton(AF_INET, text, &addr) != 1)
		return false;
	*addr_be = addr.s_addr;
	return true;
}

uint32_t plat_loopback_be(void)
{
	return htonl(INADDR_LOOPBACK);
}

/* Windows answers a refused SYN by sending it again, twice, so a connect to a
 * closed local port takes about two seconds to fail. Nothing is lost on the
 * loopback, so there the SYN is sent once and a refusal is reported at once.
 * Systems without this control (before Windows 8, Wine) keep their default. */
static void no_syn_retries_on_loopback(plat_socket s, uint32_t addr_be)
{
	if ((ntohl(addr_be) >> 24) != 127)
		return;
	TCP_INITIAL_RTO_PARAMETERS params = {};
	params.Rtt = TCP_INITIAL_RTO_UNSPECIFIED_RTT;
	params.MaxSynRetransmissions = TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS;
	DWORD returned = 0;
	WSAIoctl(s, SIO_TCP_INITIAL_RTO, &params, sizeof(params), nullptr, 0, &returned, nullptr, nullptr);
}

bool plat_connect(plat_socket s, uint32_t addr_be, uint16_t port)
{
	no_syn_retries_on_loopback(s, addr_be);
	sockaddr_in sa = {};
	sa.sin_family = AF_INET;
	sa.sin_port = htons(port);
	sa.sin_addr.s_addr = addr_be;
	return connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) == 0;
}

int plat_socket_pending_error(plat_socket s)
{
	int err = 0;
	int len = sizeof(err);
	if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len) != 0)
		return -1;
	return err;
}

/* The socket's state now, without waiting: select with a zero time limit.
 * A refused or failed connect shows in the exception set only (not in the
 * write set as elsewhere); like an error on POSIX it is reported as ready for
 * whichever event was asked, and the next call on the socket collects it.
 * Windows' fd_set is a list of handles, so no handle value is too large. */
static int ready_now(plat_socket s, int events)
{
	fd_set readable, writable, failed;
	FD_ZERO(&readable);
	FD_ZERO(&writable);
	FD_ZERO(&failed);
	if (events & PLAT_WAIT_READ)
		FD_SET(s, &readable);
	if (events & PLAT_WAIT_WRITE)
		FD_SET(s, &writable);
	FD_SET(s, &failed);
	timeval zero = {};
	if (select(0, &readable, &writable, &failed, &zero) == SOCKET_ERROR)
		return -1;
	int ready = 0;
	if (FD_ISSET(s, &readable))
		ready |= PLAT_WAIT_READ;
	if (FD_ISSET(s, &writable))
		ready |= PLAT_WAIT_WRITE;
	if (FD_ISSET(s, &failed))
		ready |= events;
	return ready & events;
}

static long network_events_for(int events)
{
	long mask = FD_CLOSE;
	if (events & PLAT_WAIT_READ)
		mask |= FD_READ;
	if (events & PLAT_WAIT_WRITE)
		mask |= FD_WRITE | FD_CONNECT;
	return mask;
}

/* Sleeps until the socket records one of the events asked, a signal is
 * raised, or ms pass. Returns 1 when a signal is raised, 0 otherwise (the
 * caller looks at the socket again), -1 on failure. The event stays tied to
 * the socket only for the length of this call: WSAEventSelect is undone
 * before the event is closed, so Winsock never sets a closed (or reused)
 * handle. The socket stays non-blocking, as WSAEventSelect leaves it. */
static int sleep_on_socket(plat_socket s, int events, HANDLE *handles, DWORD signal_count, DWORD ms)
{
	WSAEVENT ready = WSACreateEvent();
	if (ready == WSA_INVALID_EVENT)
		return -1;
	int result = -1;
	if (WSAEventSelect(s, ready, network_events_for(events)) == 0) {
		handles[signal_count] = ready;
		DWORD woke = WaitForMultipleObjects(signal_count + 1, handles, FALSE, ms);
		if (woke < WAIT_OBJECT_0 + signal_count)
			result = 1;
		else if (woke == WAIT_OBJECT_0 + signal_count || woke == WAIT_TIMEOUT)
			result = 0;
		WSAEventSelect(s, nullptr, 0);
		WSANETWORKEVENTS recorded;
		WSAEnumNetworkEvents(s, ready, &recorded); /* clears what was recorded */
	}
	WSACloseEvent(ready);
	return result;
}

static ULONGLONG now_ms(void)
{
	return GetTickCount64();
}

/* Windows cannot poll a socket and an event object in one call, so the wait
 * ties the socket to an event with WSAEventSelect and sleeps on that event
 * and the signals' events together: no polling, and a raised signal ends the
 * wait at once. WSAEventSelect reports an event once, when it happens (a
 * connect's end, or room to send, is not reported again), so the socket's
 * state itself is read with select before each sleep and after each wake-up.
 * WSAPoll is not used: it does not report a refused connect on older
 * Windows 10 releases. */
int plat_wait_socket(plat_socket s, int events, plat_stop_signal *const *signals, int signal_count, int timeout_ms)
{
	if (signal_count > PLAT_WAIT_MAX_SIGNALS)
		return -1;
	HANDLE handles[PLAT_WAIT_MAX_SIGNALS + 1];
	DWORD count = 0;
	for (int i = 0; i < signal_count; i++)
		if (signals[i])
			handles[count++] = plat_stop_handle(signals[i]);

	const ULONGLONG start = now_ms();
	for (;;) {
		if (count && WaitForMultipleObjects(count, handles, FALSE, 0) < WAIT_OBJECT_0 + count)
			return 0;
		int ready = ready_now(s, events);
		if (ready != 0)
			return ready;
		DWORD left = INFINITE;
		if (timeout_ms >= 0) {
			ULONGLONG spent = now_ms() - start;
			if (spent >= (ULONGLONG)timeout_ms)
				return 0;
			left = (DWORD)((ULONGLONG)timeout_ms - spent);
		}
		int slept = sleep_on_socket(s, events, handles, count, left);
		if (slept != 0)
			return slept > 0 ? 0 : -1;
	}
}

/* Windows has no SIGPIPE: a send on a connection the peer closed just fails. */
long plat_send(plat_socket s, const void *buf, size_t len)
{
	int chunk = len > INT_MAX ? INT_MAX : (int)len;
	return send(s, static_cast<const char *>(buf), chunk, 0);
}

long plat_recv(plat_socket s, void *buf, size_t len)
{
	int chunk = len > INT_MAX ? INT_MAX : (int)len;
	return recv(s, static_cast<char *>(buf), chunk, 0);
}

bool plat_last_error_is_timeout(void)
{
	return WSAGetLastError() == WSAEWOULDBLOCK;
}

/* A non-blocking connect that has started fails with WSAEWOULDBLOCK. */
bool plat_last_error_is_in_progress(void)
{
	return WSAGetLastError() == WSAEWOULDBLOCK;
}

int plat_last_error_code(void)
{
	return WSAGetLastError();
}
