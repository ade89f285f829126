#pragma once
/* One media packet as a reader hands it to the decoders, whichever transport
 * it came over: a picture's Annex B access unit, an AAC frame, or a codec's
 * configuration when it changes. Plain data; nothing here knows sockets. */

#include "protocol/stream-protocol.h"

#include <cstddef>
#include <cstdint>

enum class MediaKind : uint8_t { video, audio };
enum class MediaCodec : uint8_t { h264, h265, aac };

struct MediaPacket {
	MediaKind kind;
	MediaCodec codec;
	/* The codec's configuration, sent when it changes (a new one means a
	 * new picture size may follow): for video the parameter sets in Annex B,
	 * for audio the AudioSpecificConfig, also parsed into audio. */
	bool config;
	bool key_frame;
	/* Microseconds on the sender's clock; pts = dts + composition offset. */
	int64_t dts_us;
	int64_t pts_us;
	/* Valid until the next call into the reader that gave the packet. */
	const uint8_t *data;
	size_t size;
	AudioConfig audio; /* valid when kind is audio and config is set */
};
