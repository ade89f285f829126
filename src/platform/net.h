#pragma once
/* Sockets for everything above the platform layer: one handle type, one set of
 * calls, and the platform's errors mapped once to the names used elsewhere. */

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
typedef SOCKET nx_socket;
#define NX_INVALID_SOCKET INVALID_SOCKET
#else
typedef int nx_socket;
#define NX_INVALID_SOCKET (-1)
#endif

/* Starts the socket library (version 2.2 on Windows); a no-op elsewhere. */
bool nx_net_init(void);
void nx_net_cleanup(void);

nx_socket nx_socket_tcp(void);
void nx_socket_close(nx_socket s);
/* Shuts both directions down. On Linux this wakes a receive blocked on the
 * socket in another thread; on Windows and macOS only closing it does. */
void nx_socket_shutdown(nx_socket s);
/* True where shutdown alone wakes a blocked receive. */
bool nx_shutdown_wakes_receive(void);

bool nx_socket_set_nonblocking(nx_socket s, bool on);
bool nx_socket_set_nodelay(nx_socket s);
bool nx_socket_set_recv_timeout(nx_socket s, int ms);
bool nx_socket_set_send_timeout(nx_socket s, int ms);

/* Dotted IPv4 text to an address in network byte order; no name lookup. */
bool nx_parse_ipv4(const char *text, uint32_t *addr_be);
uint32_t nx_loopback_be(void);

/* Starts a connect: true when it completed at once; otherwise nx_last_error_is_in_progress()
 * tells whether it is in progress (non-blocking socket) or failed. */
bool nx_connect(nx_socket s, uint32_t addr_be, uint16_t port);
/* Waits until the socket is writable: >0 ready, 0 time ran out, <0 failure. */
int nx_wait_writable(nx_socket s, int timeout_ms);
/* The socket's pending error (SO_ERROR): 0 when none, -1 when unreadable. */
int nx_socket_pending_error(nx_socket s);

/* One send or receive call. A send never raises SIGPIPE; a receive interrupted
 * by a signal is repeated. */
long nx_send(nx_socket s, const void *buf, size_t len);
long nx_recv(nx_socket s, void *buf, size_t len);

/* What the last failed call on this thread meant. */
bool nx_last_error_is_timeout(void);     /* a time limit ran out, or a non-blocking call found nothing */
bool nx_last_error_is_in_progress(void); /* a non-blocking connect has started */
int nx_last_error_code(void);
