#pragma once
/* Reading one accepted stream packet by packet: capabilities and audio
 * configuration kept up to date, audio and video decoded, timed on OBS's
 * clock and handed to OBS, statistics logged every five seconds. */

#include <cstddef>
#include <cstdint>

struct SourceInstance;

#define RECEIVE_TIMEOUT_MS 500
#define RECEIVE_SILENCE_LIMIT_MS 5000

enum class ReadResult {
	complete,
	stopped,   /* running was cleared */
	closed,    /* the peer closed the connection */
	timed_out, /* ten receive timeouts in a row: about 5 s without a byte */
	failed,    /* any other receive error, a shut-down socket included */
};

/* Reads exactly size bytes from the instance's stream socket, tolerating nine
 * receive timeouts in a row. */
ReadResult read_exact(SourceInstance *inst, uint8_t *buf, size_t size);

/* Runs until the stream ends or the source is stopped. */
void receive_loop(SourceInstance *inst);
