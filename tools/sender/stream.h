#pragma once
/* What the sender writes on one connection: handshake, capabilities, audio
 * configuration, then live video and audio paced in real time, with the
 * misbehaviour the options ask for. */

#include "connection.h"
#include "options.h"

/* Serves connection number `connection` (from 0). Returns when the peer
 * leaves, the sender closes on purpose, an encoder fails or the run ends. */
void stream_serve(Connection &conn, const SenderOptions &opts, long connection);
