#include "platform/net.h"

/* Built from the calls each system implements, so it is the same on all. */
bool plat_connect_within(plat_socket s, uint32_t addr_be, uint16_t port, plat_stop_signal *const *signals,
			 int signal_count, int timeout_ms)
{
	if (!plat_socket_set_nonblocking(s, true))
		return false;
	if (plat_connect(s, addr_be, port))
		return true;
	if (!plat_last_error_is_in_progress())
		return false;
	if (plat_wait_socket(s, PLAT_WAIT_WRITE, signals, signal_count, timeout_ms) <= 0)
		return false;
	return plat_socket_pending_error(s) == 0;
}
