#include "protocol/stream-protocol.h"
#include "protocol/byte-order.h"

#include <cmath>
#include <cstring>
#include <limits>

Handshake handshake_make(uint16_t width, uint16_t height, uint8_t fps)
{
	Handshake hs = {{}, STREAM_PROTOCOL_VERSION, STREAM_CODEC_H264, width, height, fps, 0};
	memcpy(hs.magic, HANDSHAKE_MAGIC, sizeof(hs.magic));
	return hs;
}

Handshake handshake_parse(const uint8_t bytes[HANDSHAKE_SIZE])
{
	Handshake hs = {};
	memcpy(hs.magic, bytes, 4);
	hs.version = bytes[4];
	hs.codec = bytes[5];
	hs.width = read_le16(bytes + 6);
	hs.height = read_le16(bytes + 8);
	hs.fps = bytes[10];
	hs.reserved = bytes[11];
	return hs;
}

void handshake_write(const Handshake &hs, uint8_t out[HANDSHAKE_SIZE])
{
	memcpy(out, hs.magic, 4);
	out[4] = hs.version;
	out[5] = hs.codec;
	write_le16(out + 6, hs.width);
	write_le16(out + 8, hs.height);
	out[10] = hs.fps;
	out[11] = hs.reserved;
}

HandshakeVerdict handshake_check(const Handshake &hs, bool h265_decodable)
{
	if (memcmp(hs.magic, HANDSHAKE_MAGIC, sizeof(hs.magic)) != 0)
		return HandshakeVerdict::wrong_magic;
	if (hs.version != STREAM_PROTOCOL_VERSION)
		return HandshakeVerdict::wrong_version;
	if (hs.codec != STREAM_CODEC_H264 && !(hs.codec == STREAM_CODEC_H265 && h265_decodable))
		return HandshakeVerdict::wrong_codec;
	return HandshakeVerdict::accepted;
}

const char *stream_codec_name(uint8_t codec)
{
	switch (codec) {
	case STREAM_CODEC_H264:
		return "H.264";
	case STREAM_CODEC_H265:
		return "H.265";
	default:
		return "?";
	}
}

PacketHeader packet_header_parse(const uint8_t bytes[PACKET_HEADER_SIZE])
{
	PacketHeader header;
	header.flags = bytes[0];
	header.length = read_le32(bytes + 1);
	header.timestamp = read_le64(bytes + 5);
	return header;
}

void packet_header_write(const PacketHeader &header, uint8_t out[PACKET_HEADER_SIZE])
{
	out[0] = header.flags;
	write_le32(out + 1, header.length);
	write_le64(out + 5, header.timestamp);
}

PacketKind packet_kind(uint8_t flags)
{
	if (flags & PACKET_FLAG_CAPS)
		return PacketKind::capabilities;
	if (flags & PACKET_FLAG_AUDIO)
		return (flags & PACKET_FLAG_CONFIG) ? PacketKind::audio_config : PacketKind::audio_data;
	return PacketKind::video;
}

/* Capabilities payload:
 *   0 flags u8 | 1 zoom_min i32 | 5 zoom_max i32 | 9 ev_min i32 | 13 ev_max i32
 *   | 17 ev_step i32 | 21 awb_count u8 | 22 awb_modes i32 x awb_count
 * Modes past the 16th are not read; bytes past the last mode read are ignored. */
bool camera_caps_parse(std::span<const uint8_t> payload, CameraCaps *out)
{
	if (payload.size() < CAPS_FIXED_SIZE)
		return false;
	const uint8_t *p = payload.data();
	int32_t count = p[21] < CAPS_MAX_AWB_MODES ? p[21] : CAPS_MAX_AWB_MODES;
	if (payload.size() < CAPS_FIXED_SIZE + 4 * (size_t)count)
		return false;

	CameraCaps caps = {};
	caps.flags = p[0];
	caps.zoom_min = read_le32s(p + 1);
	caps.zoom_max = read_le32s(p + 5);
	caps.ev_min = read_le32s(p + 9);
	caps.ev_max = read_le32s(p + 13);
	caps.ev_step = read_le32s(p + 17);
	caps.awb_count = count;
	for (int32_t i = 0; i < count; i++)
		caps.awb_modes[i] = read_le32s(p + CAPS_FIXED_SIZE + 4 * i);
	caps.valid = 1;
	*out = caps;
	return true;
}

size_t camera_caps_write(const CameraCaps &caps, uint8_t *out)
{
	out[0] = caps.flags;
	write_le32(out + 1, (uint32_t)caps.zoom_min);
	write_le32(out + 5, (uint32_t)caps.zoom_max);
	write_le32(out + 9, (uint32_t)caps.ev_min);
	write_le32(out + 13, (uint32_t)caps.ev_max);
	write_le32(out + 17, (uint32_t)caps.ev_step);
	int32_t count = caps.awb_count < 0 ? 0 : caps.awb_count > 255 ? 255 : caps.awb_count;
	out[21] = (uint8_t)count;
	for (int32_t i = 0; i < count && i < CAPS_MAX_AWB_MODES; i++)
		write_le32(out + CAPS_FIXED_SIZE + 4 * i, (uint32_t)caps.awb_modes[i]);
	return CAPS_FIXED_SIZE + 4 * (size_t)(count < CAPS_MAX_AWB_MODES ? count : CAPS_MAX_AWB_MODES);
}

bool camera_caps_equal(const CameraCaps &a, const CameraCaps &b)
{
	if (a.valid != b.valid || a.flags != b.flags || a.zoom_min != b.zoom_min || a.zoom_max != b.zoom_max ||
	    a.ev_min != b.ev_min || a.ev_max != b.ev_max || a.ev_step != b.ev_step || a.awb_count != b.awb_count)
		return false;
	for (int32_t i = 0; i < a.awb_count && i < CAPS_MAX_AWB_MODES; i++) {
		if (a.awb_modes[i] != b.awb_modes[i])
			return false;
	}
	return true;
}

/* Audio configuration payload:
 *   0 sample_rate u32 | 4 channels u8 | 5 asc_len u8 | 6 asc (asc_len bytes, at most 64) */
bool audio_config_parse(std::span<const uint8_t> payload, AudioConfig *out)
{
	if (payload.size() < 6)
		return false;
	const uint8_t *p = payload.data();
	uint8_t asc_len = p[5];
	if (asc_len > AUDIO_CONFIG_MAX_ASC || payload.size() < 6 + (size_t)asc_len)
		return false;

	AudioConfig config;
	memset(&config, 0, sizeof(config)); /* gap bytes too: records are compared whole */
	config.sample_rate = read_le32(p);
	config.channels = p[4];
	config.asc_len = asc_len;
	memcpy(config.asc, p + 6, asc_len);
	config.valid = 1;
	memcpy(out, &config, sizeof(config));
	return true;
}

size_t audio_config_write(const AudioConfig &config, uint8_t *out)
{
	write_le32(out, config.sample_rate);
	out[4] = config.channels;
	out[5] = config.asc_len;
	memcpy(out + 6, config.asc, config.asc_len);
	return 6 + (size_t)config.asc_len;
}

void control_message_write(const ControlMessage &msg, uint8_t out[CONTROL_MESSAGE_SIZE])
{
	out[0] = msg.command;
	write_le32(out + 1, (uint32_t)msg.value);
}

ControlMessage control_message_parse(const uint8_t bytes[CONTROL_MESSAGE_SIZE])
{
	return ControlMessage{bytes[0], read_le32s(bytes + 1)};
}

int32_t control_zoom_value(double zoom)
{
	/* Truncation toward zero; values past the int32 range (or NaN) would be
	 * undefined in a plain cast, so they are held at the range's ends. */
	double scaled = std::trunc(zoom * 1000.0);
	if (!(scaled == scaled))
		return 0;
	if (scaled >= (double)std::numeric_limits<int32_t>::max())
		return std::numeric_limits<int32_t>::max();
	if (scaled <= (double)std::numeric_limits<int32_t>::min())
		return std::numeric_limits<int32_t>::min();
	return (int32_t)scaled;
}
