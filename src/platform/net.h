#pragma once
/* Sockets for everything above the platform layer: one handle type, one set of
 * calls, and the platform's errors mapped once to the names used elsewhere.
 *
 * Nothing here blocks without a limit: a socket is switched to non-blocking
 * mode, and every wait goes through plat_wait_socket, which also ends as soon as
 * one of the caller's signals is raised. No other thread ever has to close or
 * shut down a socket to wake the thread that waits on it. */

#include "platform/thread.h"

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
typedef SOCKET plat_socket;
#define PLAT_INVALID_SOCKET INVALID_SOCKET
#else
typedef int plat_socket;
#define PLAT_INVALID_SOCKET (-1)
#endif

/* Starts the socket library (version 2.2 on Windows); a no-op elsewhere. */
bool plat_net_init(void);
void plat_net_cleanup(void);

plat_socket plat_socket_tcp(void);
void plat_socket_close(plat_socket s);

bool plat_socket_set_nonblocking(plat_socket s, bool on);
bool plat_socket_set_nodelay(plat_socket s);

/* Dotted IPv4 text to an address in network byte order; no name lookup. */
bool plat_parse_ipv4(const char *text, uint32_t *addr_be);
uint32_t plat_loopback_be(void);

/* Starts a connect: true when it completed at once; otherwise plat_last_error_is_in_progress()
 * tells whether it is in progress (non-blocking socket) or failed. */
bool plat_connect(plat_socket s, uint32_t addr_be, uint16_t port);
/* The socket's pending error (SO_ERROR): 0 when none, -1 when unreadable. */
int plat_socket_pending_error(plat_socket s);

#define PLAT_WAIT_READ 1  /* data, the end of the stream, or an error to collect */
#define PLAT_WAIT_WRITE 2 /* room to send, or a connect that has ended: made, refused or failed */
#define PLAT_WAIT_MAX_SIGNALS 4

/* Waits until the socket is ready for one of the events asked, one of the
 * signals is raised, or timeout_ms pass. Returns the events ready (> 0), 0
 * when the time ran out or a signal is raised (the caller looks at its
 * signals), -1 when the wait itself failed. signals may hold null entries; at
 * most PLAT_WAIT_MAX_SIGNALS of them. */
int plat_wait_socket(plat_socket s, int events, plat_stop_signal *const *signals, int signal_count, int timeout_ms);

/* Connects s within timeout_ms: the socket is switched to non-blocking mode
 * and stays so; the wait for the connect to end is a plat_wait_socket with
 * the caller's signals, so a raised one cuts it short. True once connected;
 * false when refused, failed, out of time or cut short (the caller closes
 * the socket). */
bool plat_connect_within(plat_socket s, uint32_t addr_be, uint16_t port, plat_stop_signal *const *signals,
			 int signal_count, int timeout_ms);

/* One send or receive call. A send never raises SIGPIPE; a call interrupted
 * by a signal is repeated. On a non-blocking socket a call that would block
 * fails with plat_last_error_is_timeout(). */
long plat_send(plat_socket s, const void *buf, size_t len);
long plat_recv(plat_socket s, void *buf, size_t len);

/* What the last failed call on this thread meant. */
bool plat_last_error_is_timeout(void);     /* a non-blocking call found nothing to do */
bool plat_last_error_is_in_progress(void); /* a non-blocking connect has started */
int plat_last_error_code(void);
