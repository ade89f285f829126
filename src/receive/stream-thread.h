#pragma once
/* The connection thread of one source: forward (USB mode), connect, check the
 * handshake, stream, and after any end pause a second and try again, until
 * the source is stopped. */

#include <cstdint>

struct Receiver;

#define RETRY_PAUSE_MS 1000

/* The applied connection settings; rewritten only while no connection thread
 * runs. */
struct ConnectionSettings {
	char serial[128] = {};
	char host[128] = {};
	int32_t port = 0;
	bool use_adb = false;
};

/* The adb forward a source's connection thread made (USB mode), to be
 * removed when the source goes or its port or device changes: written by
 * that thread while it runs, read and cleared by OBS's callbacks once it has
 * ended. */
struct AdbForward {
	bool made = false;
	char serial[128] = {};
	int32_t port = 0;
};

/* What the connection thread works with. */
struct StreamThreadArgs {
	Receiver *rx = nullptr;
	const ConnectionSettings *settings = nullptr;
	AdbForward *forward = nullptr;
};

/* Thread body; its argument is a StreamThreadArgs. */
void stream_thread(void *arg);

/* The address an attempt connects to: 127.0.0.1 in USB mode and for an empty
 * host; otherwise the host as dotted IPv4 text (no name lookup). */
bool stream_address(const ConnectionSettings *settings, uint32_t *addr_be);
/* The host named in the cannot-connect line. */
const char *stream_display_host(const ConnectionSettings *settings);
