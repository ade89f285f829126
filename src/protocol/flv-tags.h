#pragma once
/* FLV tag bodies, as RTMP's audio and video messages carry them, to media
 * packets: H.264 and H.265 pictures as Annex B access units, AAC frames raw.
 *
 * Video, legacy form (codec id 7 H.264, 12 H.265):
 *   0 frame type (4 bits: 1 key, 2 inter, 5 command) | codec id (4 bits)
 *   1 packet type u8 (0 configuration record, 1 pictures, 2 end of sequence)
 *   2 composition time s24 (ms) | 5 pictures: NAL units, each after its length
 * Video, enhanced form (top bit of byte 0 set):
 *   0 1 | frame type (3 bits) | packet type (4 bits: 0 sequence start,
 *     1 pictures with composition time, 2 sequence end, 3 pictures without)
 *   1 FourCC ("avc1", "hvc1") | 5 composition time s24 (packet type 1 only)
 * Audio:
 *   0 sound format (4 bits: 10 AAC) | rate, size, channels (ignored)
 *   1 AAC packet type u8 (0 AudioSpecificConfig, 1 raw frame) | 2 data
 *
 * A configuration record's parameter sets become a config packet when they
 * differ from the last ones (a repeated record gives nothing), and are put
 * before every key frame's access unit as well, so that a decoder joining at
 * any key frame, or after a size change, has them in-band. The unwrapped
 * 32-bit millisecond timestamps keep increasing across the wrap. */

#include "protocol/media-packet.h"
#include "protocol/rtmp-verdict.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

/* Parameter sets in Annex B at most; a larger record is malformed. */
#define FLV_MAX_PARAMS 65536

/* Milliseconds from a 32-bit wrapping clock onto a 64-bit one, by the signed
 * difference from the last: a step back of up to 2^31 ms is a step back. The
 * result stays within +-2^50 ms, so microseconds never overflow. */
struct TimestampUnwrap {
	bool started;
	uint32_t last;
	int64_t ms;
};
int64_t timestamp_unwrap(TimestampUnwrap *u, uint32_t timestamp);

/* Sample rate and channels from an AudioSpecificConfig (the escape to an
 * explicit 24-bit frequency included; channel configuration 0, "in the
 * program config element", gives 0 channels). False for one too short or
 * longer than AUDIO_CONFIG_MAX_ASC, a reserved rate index or channel
 * configuration, or an explicit frequency of 0. */
bool aac_config_parse(std::span<const uint8_t> asc, AudioConfig *out);

struct FlvReader {
	bool have_video_config;
	MediaCodec video_codec;
	uint8_t length_size; /* of a NAL unit's length, from the configuration record */
	std::vector<uint8_t> params;
	std::vector<uint8_t> access_unit;
	bool have_audio_config;
	AudioConfig audio;
	TimestampUnwrap video_time;
	TimestampUnwrap audio_time;
};

enum class FlvResult { packet, nothing, error };

void flv_reader_init(FlvReader *r);
/* One tag body with its message timestamp: a packet in *out (valid until the
 * next call, or while body lives for audio frames), nothing, or an error:
 * unsupported_video/unsupported_audio for another codec, malformed_video/
 * malformed_audio for a body that does not parse or an access unit larger
 * than STREAM_MAX_PAYLOAD. */
FlvResult flv_read_video(FlvReader *r, std::span<const uint8_t> body, uint32_t timestamp, MediaPacket *out,
			 RtmpError *error);
FlvResult flv_read_audio(FlvReader *r, std::span<const uint8_t> body, uint32_t timestamp, MediaPacket *out,
			 RtmpError *error);
