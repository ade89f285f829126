#pragma once
/* A publish-only RTMP server for one connection, as plain logic: the
 * publisher's bytes go in, and out come events (publishing, media packets,
 * the end of the publish, verdicts) and the bytes to send back, in output.
 * The caller owns the socket, sends output after every call and clears it,
 * and drops the connection on an error or a refusal.
 *
 *   handshake -> connect -> [releaseStream, FCPublish] -> createStream -> publish(key)
 *             -> media ... -> FCUnpublish / deleteStream
 *
 * connect is answered by Window Acknowledgement Size, Set Peer Bandwidth,
 * Set Chunk Size (RTMP_SERVER_CHUNK_SIZE) and _result
 * NetConnection.Connect.Success; releaseStream, FCPublish and createStream
 * (stream id 1) by _result; publish by onStatus NetStream.Publish.Start, or
 * NetStream.Publish.BadName and a refusal when a key is set and the name
 * differs. The name is compared without a "?..." suffix, which some apps add
 * for their own parameters; the app name in the address is not checked.
 * Media before publish is dropped; data messages (onMetaData) are skipped.
 * A publish again after an end starts afresh; one while publishing changes
 * nothing. */

#include "protocol/flv-tags.h"
#include "protocol/rtmp-chunks.h"
#include "protocol/rtmp-handshake.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#define RTMP_SERVER_CHUNK_SIZE 4096
#define RTMP_SERVER_WINDOW 2500000
#define RTMP_STREAM_ID 1
/* Replies the caller has not sent; more is an error, not more memory. */
#define RTMP_MAX_PENDING_OUTPUT 65536

enum class RtmpPhase { handshake, connecting, connected, publishing, ended, closed };

enum class RtmpEventKind {
	none,        /* every byte taken, nothing to tell */
	publishing,  /* publish accepted: media follows */
	media,       /* packet holds one, valid until the next call */
	ended,       /* FCUnpublish or deleteStream */
	unsupported, /* error names the codec (video or audio); told once each, not fatal */
	refused,     /* wrong key: send output, then drop the connection */
	error,       /* error says why: drop the connection */
};

struct RtmpEvent {
	RtmpEventKind kind;
	RtmpError error;
	MediaPacket packet;
};

struct RtmpSession {
	std::string key;
	RtmpPhase phase;
	RtmpError closed_by;
	RtmpHandshake handshake;
	RtmpChunkReader chunks;
	FlvReader flv;
	std::vector<uint8_t> output;
	uint32_t out_chunk_size;
	uint32_t peer_window; /* 0 until the publisher sets it: no acknowledgements */
	uint64_t acked;
	bool told_video;
	bool told_audio;
};

/* Ready for a new connection; an empty key takes any stream name. */
void rtmp_session_init(RtmpSession *s, std::string_view key);
/* Takes bytes up to the first event and returns how many it took; the
 * caller feeds the rest again. After an error or a refusal every call takes
 * all bytes and gives that error again. */
size_t rtmp_session_feed(RtmpSession *s, const uint8_t *data, size_t size, RtmpEvent *event);
