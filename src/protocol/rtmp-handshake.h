#pragma once
/* The server side of RTMP's plain handshake (no digest, as FFmpeg's client
 * and OBS take):
 *
 *   publisher -> server   C0: version u8 (3) | C1: 1536 bytes (time, zero, random)
 *   server -> publisher   S0: 3 | S1: 1536 bytes (time 0, zero, pattern) | S2: C1 echoed
 *   publisher -> server   C2: 1536 bytes (S1 echoed; not checked)
 *
 * S1's bytes 4..7 are zero, which tells a client that tries the digest form
 * that this server does not. Bytes in, bytes to send out; no socket. */

#include "protocol/rtmp-verdict.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#define RTMP_VERSION 3
#define RTMP_HANDSHAKE_SIZE 1536

enum class RtmpHandshakeState { c0c1, c2, done, failed };

struct RtmpHandshake {
	RtmpHandshakeState state;
	size_t have; /* bytes of the current part (C0+C1, or C2) so far */
	uint8_t c1[RTMP_HANDSHAKE_SIZE];
};

void rtmp_handshake_init(RtmpHandshake *hs);
/* Takes bytes up to the end of the handshake and returns how many it took;
 * S0+S1+S2 are appended to *out once C0 and C1 are in. A C0 of another
 * version fails the handshake (*error set) before anything is sent. */
size_t rtmp_handshake_read(RtmpHandshake *hs, const uint8_t *data, size_t size, std::vector<uint8_t> *out,
			   RtmpError *error);
