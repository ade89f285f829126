/* The records a phone sends, as the receive loop meets them: a handshake,
 * then packet headers each followed by its payload, which is read as
 * capabilities or an audio configuration when the flags say so. Every record
 * that parses must survive a write and a second parse unchanged. */

#include "fuzz-quiet.h"
#include "protocol/stream-protocol.h"

#include <cstring>

namespace {

void check_handshake(const uint8_t bytes[HANDSHAKE_SIZE])
{
	Handshake hs = handshake_parse(bytes);
	/* A build without an HEVC decoder refuses more, never less. */
	HandshakeVerdict with_hevc = handshake_check(hs, true);
	FUZZ_CHECK(handshake_check(hs, false) == with_hevc || with_hevc == HandshakeVerdict::accepted);
	uint8_t again[HANDSHAKE_SIZE];
	handshake_write(hs, again);
	FUZZ_CHECK(memcmp(again, bytes, HANDSHAKE_SIZE) == 0);
}

void check_caps(std::span<const uint8_t> payload)
{
	CameraCaps caps;
	if (!camera_caps_parse(payload, &caps))
		return;
	FUZZ_CHECK(caps.awb_count >= 0 && caps.awb_count <= CAPS_MAX_AWB_MODES);
	uint8_t bytes[22 + 4 * CAPS_MAX_AWB_MODES];
	size_t size = camera_caps_write(caps, bytes);
	FUZZ_CHECK(size <= sizeof(bytes));
	CameraCaps again;
	FUZZ_CHECK(camera_caps_parse({bytes, size}, &again));
	FUZZ_CHECK(again.flags == caps.flags && again.zoom_min == caps.zoom_min && again.zoom_max == caps.zoom_max);
	FUZZ_CHECK(again.ev_min == caps.ev_min && again.ev_max == caps.ev_max && again.ev_step == caps.ev_step);
	FUZZ_CHECK(again.awb_count == caps.awb_count);
	FUZZ_CHECK(memcmp(again.awb_modes, caps.awb_modes, sizeof(int32_t) * (size_t)caps.awb_count) == 0);
}

void check_audio_config(std::span<const uint8_t> payload)
{
	AudioConfig config;
	if (!audio_config_parse(payload, &config))
		return;
	FUZZ_CHECK(config.asc_len <= AUDIO_CONFIG_MAX_ASC);
	uint8_t bytes[6 + AUDIO_CONFIG_MAX_ASC];
	size_t size = audio_config_write(config, bytes);
	FUZZ_CHECK(size == 6u + config.asc_len);
	AudioConfig again;
	FUZZ_CHECK(audio_config_parse({bytes, size}, &again));
	FUZZ_CHECK(audio_config_equal(again, config));
}

void check_header(const uint8_t bytes[PACKET_HEADER_SIZE])
{
	PacketHeader header = packet_header_parse(bytes);
	uint8_t again[PACKET_HEADER_SIZE];
	packet_header_write(header, again);
	FUZZ_CHECK(memcmp(again, bytes, PACKET_HEADER_SIZE) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::span<const uint8_t> rest(data, size);
	if (rest.size() < HANDSHAKE_SIZE)
		return 0;
	check_handshake(rest.data());
	rest = rest.subspan(HANDSHAKE_SIZE);

	while (rest.size() >= PACKET_HEADER_SIZE) {
		check_header(rest.data());
		PacketHeader header = packet_header_parse(rest.data());
		rest = rest.subspan(PACKET_HEADER_SIZE);
		/* The loop refuses longer payloads before reading them; a short
		 * input ends the stream as a closed connection would. */
		if (header.length > STREAM_MAX_PAYLOAD || header.length > rest.size())
			return 0;
		std::span<const uint8_t> payload = rest.first(header.length);
		rest = rest.subspan(header.length);
		switch (packet_kind(header.flags)) {
		case PacketKind::capabilities:
			check_caps(payload);
			break;
		case PacketKind::audio_config:
			check_audio_config(payload);
			break;
		case PacketKind::audio_data:
		case PacketKind::video:
			break;
		}
	}
	return 0;
}
