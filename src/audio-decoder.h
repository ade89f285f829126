#pragma once
/* AAC audio decoder: one raw AAC access unit in, one planar-float OBS audio
 * block out, pointing into libavcodec's samples (no copy, no conversion).
 *
 * Calling order: create, any number of decode calls from one thread, then
 * destroy after the last decode has returned. The planes of a filled block
 * stay valid until the next decode call or destroy. */

#include "source/stream-protocol.h"

#include <obs-module.h>

#include <cstddef>
#include <cstdint>

struct AudioDecoder;

MODULE_EXPORT AudioDecoder *ostrelin_audio_decoder_create(const AudioConfig *config);
MODULE_EXPORT bool ostrelin_audio_decoder_decode(AudioDecoder *decoder, const uint8_t *data, size_t size,
						 uint64_t timestamp, struct obs_source_audio *out);
MODULE_EXPORT void ostrelin_audio_decoder_destroy(AudioDecoder *decoder);
