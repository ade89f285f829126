/* An audio configuration followed by audio payloads, as the receive loop
 * takes them: the first record is parsed as the configuration and, when it
 * parses and names an AAC sample rate, builds the decoder; every later
 * record is one AAC access unit.
 * Whatever a decode hands on to OBS must be a block OBS can take: a sample
 * rate, samples, a speaker layout and one readable plane per channel. */

#include "decode/audio-decoder.h"
#include "fuzz-packets.h"
#include "fuzz-quiet.h"
#include "protocol/stream-protocol.h"

#include <cstring>

namespace {

uint32_t channels_of(speaker_layout speakers)
{
	switch (speakers) {
	case SPEAKERS_MONO:
		return 1;
	case SPEAKERS_STEREO:
		return 2;
	default:
		return 0;
	}
}

/* Reads the first and last sample of every plane, so that AddressSanitizer
 * sees a plane shorter than the block says. */
float touch_planes(const obs_source_audio &audio, uint32_t channels)
{
	float sum = 0;
	for (uint32_t c = 0; c < channels; c++) {
		const float *samples = reinterpret_cast<const float *>(audio.data[c]);
		sum += samples[0] + samples[audio.frames - 1];
	}
	return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	FuzzPackets packets(data, size);
	std::span<const uint8_t> payload;
	if (!packets.next(&payload))
		return 0;
	AudioConfig config;
	if (!audio_config_parse(payload, &config) || !audio_config_rate_valid(config))
		return 0;
	AudioDecoder *decoder = ostrelin_audio_decoder_create(&config);
	if (!decoder)
		return 0;

	volatile float sink = 0;
	uint64_t timestamp = 1000000000;
	while (packets.next(&payload)) {
		obs_source_audio audio;
		memset(&audio, 0, sizeof(audio));
		timestamp += 21333333;
		if (!ostrelin_audio_decoder_decode(decoder, payload.data(), payload.size(), timestamp, &audio))
			continue;
		uint32_t channels = channels_of(audio.speakers);
		FUZZ_CHECK(channels > 0);
		FUZZ_CHECK(audio.format == AUDIO_FORMAT_FLOAT_PLANAR);
		FUZZ_CHECK(audio.samples_per_sec > 0);
		FUZZ_CHECK(audio.frames > 0);
		FUZZ_CHECK(audio.timestamp == timestamp);
		for (uint32_t c = 0; c < channels; c++)
			FUZZ_CHECK(audio.data[c] != nullptr);
		sink = sink + touch_planes(audio, channels);
	}
	ostrelin_audio_decoder_destroy(decoder);
	return 0;
}
