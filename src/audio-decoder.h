#pragma once
/* AAC audio decoder: one raw AAC access unit in, one planar-float OBS audio
 * block out, pointing into libavcodec's samples (no copy, no conversion).
 *
 * Calling order: create, any number of decode calls from one thread, then
 * destroy after the last decode has returned. The planes of a filled block
 * stay valid until the next decode call or destroy. */

#include <obs-module.h>

#include <cstddef>
#include <cstdint>

#define AUDIO_CONFIG_MAX_ASC 64

/* Compared byte for byte as a whole record, so always zero it before filling. */
struct AudioConfig {
	uint8_t valid;
	uint32_t sample_rate;
	uint8_t channels;
	uint8_t asc_len;
	uint8_t asc[AUDIO_CONFIG_MAX_ASC];
};

struct AudioDecoder;

MODULE_EXPORT AudioDecoder *ostrelin_audio_decoder_create(const AudioConfig *config);
MODULE_EXPORT bool ostrelin_audio_decoder_decode(AudioDecoder *decoder, const uint8_t *data, size_t size,
						 uint64_t timestamp, struct obs_source_audio *out);
MODULE_EXPORT void ostrelin_audio_decoder_destroy(AudioDecoder *decoder);
