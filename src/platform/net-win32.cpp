#include "net.h"

#include <ws2tcpip.h>

bool nx_net_init(void)
{
	WSADATA data;
	return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void nx_net_cleanup(void)
{
	WSACleanup();
}

nx_socket nx_socket_tcp(void)
{
	return socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
}

void nx_socket_close(nx_socket s)
{
	if (s != INVALID_SOCKET)
		closesocket(s);
}

void nx_socket_shutdown(nx_socket s)
{
	if (s != INVALID_SOCKET)
		shutdown(s, SD_BOTH);
}

bool nx_shutdown_wakes_receive(void)
{
	return false;
}

bool nx_socket_set_nonblocking(nx_socket s, bool on)
{
	u_long mode = on ? 1 : 0;
	return ioctlsocket(s, FIONBIO, &mode) == 0;
}

bool nx_socket_set_nodelay(nx_socket s)
{
	BOOL one = TRUE;
	return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof(one)) == 0;
}

static bool set_time_limit(nx_socket s, int option, int ms)
{
	DWORD value = (DWORD)ms;
	return setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char *>(&value), sizeof(value)) == 0;
}

bool nx_socket_set_recv_timeout(nx_socket s, int ms)
{
	return set_time_limit(s, SO_RCVTIMEO, ms);
}

bool nx_socket_set_send_timeout(nx_socket s, int ms)
{
	return set_time_limit(s, SO_SNDTIMEO, ms);
}

bool nx_parse_ipv4(const char *text, uint32_t *addr_be)
{
	IN_ADDR addr = {};
	if (!text || inet_pton(AF_INET, text, &addr) != 1)
		return false;
	*addr_be = addr.s_addr;
	return true;
}

uint32_t nx_loopback_be(void)
{
	return htonl(INADDR_LOOPBACK);
}

bool nx_connect(nx_socket s, uint32_t addr_be, uint16_t port)
{
	sockaddr_in sa = {};
	sa.sin_family = AF_INET;
	sa.sin_port = htons(port);
	sa.sin_addr.s_addr = addr_be;
	return connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) == 0;
}

int nx_wait_writable(nx_socket s, int timeout_ms)
{
	fd_set writable;
	FD_ZERO(&writable);
	FD_SET(s, &writable);
	timeval tv = {};
	tv.tv_sec = timeout_ms / 1000;
	tv.tv_usec = (timeout_ms % 1000) * 1000;
	return select(0, nullptr, &writable, nullptr, &tv);
}

int nx_socket_pending_error(nx_socket s)
{
	int err = 0;
	int len = sizeof(err);
	if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len) != 0)
		return -1;
	return err;
}

long nx_send(nx_socket s, const void *buf, size_t len)
{
	return send(s, static_cast<const char *>(buf), (int)len, 0);
}

long nx_recv(nx_socket s, void *buf, size_t len)
{
	return recv(s, static_cast<char *>(buf), (int)len, 0);
}

bool nx_last_error_is_timeout(void)
{
	int err = WSAGetLastError();
	return err == WSAETIMEDOUT || err == WSAEWOULDBLOCK;
}

bool nx_last_error_is_in_progress(void)
{
	return WSAGetLastError() == WSAEWOULDBLOCK;
}

int nx_last_error_code(void)
{
	return WSAGetLastError();
}
