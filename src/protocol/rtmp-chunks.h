#pragma once
/* RTMP's chunk stream: messages cut into chunks, the chunks of several chunk
 * streams interleaved. Each chunk is a basic header, a message header of the
 * form the basic header names, maybe an extended timestamp, then up to
 * chunk-size bytes of its message:
 *
 *   basic header    fmt (2 bits) | csid (6 bits)        csid 2..63
 *                   fmt | 0,  u8  csid - 64              csid 64..319
 *                   fmt | 1,  u16 csid - 64 (LE)         csid 64..65599
 *   message header  fmt 0: timestamp u24 | length u24 | type u8 | stream id u32 LE
 *                   fmt 1: delta u24     | length u24 | type u8
 *                   fmt 2: delta u24
 *                   fmt 3: nothing (continuation, or a new message like the last)
 *   extended ts     u32 when the 24-bit field is 0xFFFFFF; also after a fmt 3
 *                   header of a chunk stream whose last header had one
 *
 * All big-endian but the stream id. Set Chunk Size (type 1) and Abort (type
 * 2) are handled here; every other message is handed to the caller whole.
 * Memory is bounded: at most RTMP_MAX_CHUNK_STREAMS chunk streams,
 * RTMP_MAX_ASSEMBLING of them with a message under way, no message larger
 * than STREAM_MAX_PAYLOAD (refused from its header, before any byte of it is
 * kept), RTMP_MAX_BUFFERED bytes under assembly in all. */

#include "protocol/rtmp-verdict.h"
#include "protocol/stream-protocol.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#define RTMP_DEFAULT_CHUNK_SIZE 128
#define RTMP_MAX_CHUNK_STREAMS 16
#define RTMP_MAX_ASSEMBLING 8
#define RTMP_MAX_BUFFERED (2 * STREAM_MAX_PAYLOAD)
#define RTMP_CHUNK_HEADER_MAX 18 /* 3 + 11 + 4 */

enum RtmpMessageType : uint8_t {
	RTMP_SET_CHUNK_SIZE = 1,
	RTMP_ABORT = 2,
	RTMP_ACKNOWLEDGEMENT = 3,
	RTMP_USER_CONTROL = 4,
	RTMP_WINDOW_ACK_SIZE = 5,
	RTMP_SET_PEER_BANDWIDTH = 6,
	RTMP_AUDIO = 8,
	RTMP_VIDEO = 9,
	RTMP_DATA_AMF3 = 15,
	RTMP_COMMAND_AMF3 = 17,
	RTMP_DATA_AMF0 = 18,
	RTMP_COMMAND_AMF0 = 20,
};

struct RtmpMessage {
	uint8_t type;
	uint32_t stream_id;
	uint32_t timestamp; /* milliseconds, wrapping at 2^32 */
	std::span<const uint8_t> payload;
};

struct RtmpChunkStream {
	uint32_t csid; /* 0: slot unused */
	uint32_t timestamp;
	uint32_t ts_field; /* the last timestamp or delta, extended value included */
	uint32_t length;
	uint32_t stream_id;
	uint8_t type;
	bool extended;
	bool assembling;
	std::vector<uint8_t> data;
};

struct RtmpChunkReader {
	uint32_t chunk_size;
	uint64_t bytes_read;
	size_t buffered;
	uint8_t header[RTMP_CHUNK_HEADER_MAX];
	size_t header_have;
	RtmpChunkStream *current; /* the chunk whose payload is being read */
	size_t chunk_left;
	RtmpChunkStream *delivered; /* its message was handed out; freed next call */
	RtmpError failed;
	RtmpChunkStream streams[RTMP_MAX_CHUNK_STREAMS];
};

enum class RtmpChunkResult { more, message, error };

void rtmp_chunks_init(RtmpChunkReader *r);
/* Takes bytes until a message is complete or the bytes run out, and returns
 * how many it took. On message, *out holds it until the next call; on error,
 * *error says why, and every later call gives the same error and takes
 * nothing. */
size_t rtmp_chunks_read(RtmpChunkReader *r, const uint8_t *data, size_t size, RtmpMessage *out, RtmpChunkResult *result,
			RtmpError *error);

/* Appends one message as chunks of chunk_size bytes on csid (2..63): a fmt 0
 * header (the timestamp below 0xFFFFFF: no extended one), then fmt 3 headers. */
void rtmp_chunks_write(std::vector<uint8_t> *out, uint8_t csid, uint8_t type, uint32_t stream_id, uint32_t timestamp,
		       std::span<const uint8_t> payload, uint32_t chunk_size);
