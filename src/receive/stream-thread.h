#pragma once
/* The connection thread of one source: forward (USB mode), connect, check the
 * handshake, stream, and after any end pause a second and try again, until
 * the source is stopped. */

#include <cstdint>

struct SourceInstance;

#define RETRY_PAUSE_MS 1000

/* Thread body; its argument is the SourceInstance. */
void stream_thread(void *arg);

/* The address an attempt connects to: 127.0.0.1 in USB mode and for an empty
 * host; otherwise the host as dotted IPv4 text (no name lookup). */
bool stream_address(const SourceInstance *inst, uint32_t *addr_be);
/* The host named in the cannot-connect line. */
const char *stream_display_host(const SourceInstance *inst);
