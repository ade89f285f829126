#pragma once
/* The records of the stream between the phone app and the plug-in. Every
 * integer is little-endian and every record packed; the sizes below are
 * nowhere on the wire. Parsers take bytes and give records or verdicts, and
 * never touch a socket. Nothing here needs libobs or FFmpeg.
 *
 * Handshake (12 bytes, phone -> plug-in, once, first):
 *   0 magic "NRIX" | 4 version u8 | 5 codec u8 | 6 width u16 | 8 height u16 | 10 fps u8 | 11 reserved u8
 * PacketHeader (13 bytes, before every packet):
 *   0 flags u8 | 1 length u32 | 5 timestamp u64 (sender microseconds)
 * ControlMessage (5 bytes, plug-in -> phone):
 *   0 command u8 | 1 value i32
 */

#include "decode/audio-config.h"

#include <cstddef>
#include <cstdint>
#include <span>

#define HANDSHAKE_SIZE 12
#define HANDSHAKE_MAGIC "NRIX" /* its first four bytes; the NUL is not sent */
#define PACKET_HEADER_SIZE 13
#define CONTROL_MESSAGE_SIZE 5
#define STREAM_PROTOCOL_VERSION 3
#define STREAM_DEFAULT_PORT 27183 /* the phone app's TCP port unless told otherwise */
#define ADB_SOCKET_NAME "nerix"   /* the phone app's socket that a USB forward reaches */
#define STREAM_CODEC_H264 1
#define STREAM_CODEC_H265 2 /* HEVC */
#define STREAM_MAX_PAYLOAD 0x800000u
#define CAPS_FIXED_SIZE 22 /* the capabilities payload before its white balance modes */
#define CAPS_MAX_AWB_MODES 16

#define PACKET_FLAG_CONFIG 0x01
#define PACKET_FLAG_CAPS 0x04
#define PACKET_FLAG_AUDIO 0x08

#define CAPS_ZOOM 0x01
#define CAPS_EV 0x02
#define CAPS_TORCH 0x04
#define CAPS_AE_LOCK 0x08

struct Handshake {
	uint8_t magic[4];
	uint8_t version;
	uint8_t codec;
	uint16_t width;
	uint16_t height;
	uint8_t fps;
	uint8_t reserved;
};

enum class HandshakeVerdict { accepted, wrong_magic, wrong_version, wrong_codec };

struct PacketHeader {
	uint8_t flags;
	uint32_t length;
	uint64_t timestamp;
};

enum class PacketKind { capabilities, audio_config, audio_data, video };

struct CameraCaps {
	uint8_t valid;
	uint8_t flags;
	int32_t zoom_min;
	int32_t zoom_max;
	int32_t ev_min;
	int32_t ev_max;
	int32_t ev_step;
	int32_t awb_count;
	int32_t awb_modes[CAPS_MAX_AWB_MODES];
};

enum ControlCommand : uint8_t {
	CONTROL_ZOOM = 1,
	CONTROL_EV = 2,
	CONTROL_TORCH = 3,
	CONTROL_AWB = 4,
	CONTROL_AE_LOCK = 5,
};

struct ControlMessage {
	uint8_t command;
	int32_t value;
};

/* The handshake a well-behaved phone sends: the magic, this protocol version,
 * H.264, and the picture's size and rate. */
Handshake handshake_make(uint16_t width, uint16_t height, uint8_t fps);
Handshake handshake_parse(const uint8_t bytes[HANDSHAKE_SIZE]);
void handshake_write(const Handshake &hs, uint8_t out[HANDSHAKE_SIZE]);
/* The checks run in the order magic, version, codec; the first that fails
 * decides. H.264 is always taken, H.265 only when h265_decodable says this
 * build's libavcodec can decode it. */
HandshakeVerdict handshake_check(const Handshake &hs, bool h265_decodable);
/* The codec's name as the panel shows it: "H.264", "H.265", or "?" for a
 * number no handshake is accepted with. */
const char *stream_codec_name(uint8_t codec);

PacketHeader packet_header_parse(const uint8_t bytes[PACKET_HEADER_SIZE]);
void packet_header_write(const PacketHeader &header, uint8_t out[PACKET_HEADER_SIZE]);
PacketKind packet_kind(uint8_t flags);

/* False (and *out untouched) for a payload that is too short. */
bool camera_caps_parse(std::span<const uint8_t> payload, CameraCaps *out);
/* Writes the wire form of caps (awb_count modes) and returns its size; out
 * needs room for CAPS_FIXED_SIZE + 4 * awb_count bytes. */
size_t camera_caps_write(const CameraCaps &caps, uint8_t *out);
/* Equal fields, and equal modes up to awb_count; entries past it do not count. */
bool camera_caps_equal(const CameraCaps &a, const CameraCaps &b);

/* The audio configuration's wire form; the record is the audio decoder's.
 * False for a payload that is too short or announces more than 64 ASC bytes. */
bool audio_config_parse(std::span<const uint8_t> payload, AudioConfig *out);
size_t audio_config_write(const AudioConfig &config, uint8_t *out);

void control_message_write(const ControlMessage &msg, uint8_t out[CONTROL_MESSAGE_SIZE]);
ControlMessage control_message_parse(const uint8_t bytes[CONTROL_MESSAGE_SIZE]);
/* Zoom factor to its wire value: factor x 1000, truncated toward zero. */
int32_t control_zoom_value(double zoom);
