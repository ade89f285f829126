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

struct AudioDecoder;

/* sample_rate and channels as the stream announces them; asc: its
 * AudioSpecificConfig, asc_len bytes (none: libavcodec reads the
 * configuration from the packets). Null when no decoder could be made, or
 * for a null asc with a length. */
MODULE_EXPORT AudioDecoder *ostrelin_audio_decoder_create(uint32_t sample_rate, uint8_t channels, const uint8_t *asc,
							  size_t asc_len);
MODULE_EXPORT bool ostrelin_audio_decoder_decode(AudioDecoder *decoder, const uint8_t *data, size_t size,
						 uint64_t timestamp, struct obs_source_audio *out);
MODULE_EXPORT void ostrelin_audio_decoder_destroy(AudioDecoder *decoder);

/* An AudioSpecificConfig as libavcodec's extradata: its bytes, then
 * AV_INPUT_BUFFER_PADDING_SIZE zeroed ones, from av_malloc. Null for an
 * empty ASC or when memory runs out. */
uint8_t *audio_decoder_extradata(const uint8_t *asc, size_t asc_len);
/* Removes `frames` frames (fewer than it holds) from the front of a block a
 * decode call filled: each plane then starts at the first frame kept. */
void audio_decoder_cut_front(struct obs_source_audio *block, uint32_t frames);
