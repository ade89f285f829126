#pragma once
/* AAC audio decoder: one raw AAC access unit in, one planar-float OBS audio
 * block out, pointing into libavcodec's samples (no copy, no conversion).
 *
 * Calling order: create, any number of decode calls from one thread, then
 * destroy after the last decode has returned. The planes of a filled block
 * stay valid until the next decode call or destroy. */

#include "decode/audio-config.h"

#include <obs-module.h>

#include <cstddef>
#include <cstdint>

struct AudioDecoder;

/* A decoder for the stream config describes (read, not kept); an ASC of no
 * bytes lets libavcodec read the configuration from the packets. Null when
 * no decoder could be made, and without a log line for a null config, one
 * never filled (valid 0) or one announcing more than AUDIO_CONFIG_MAX_ASC
 * ASC bytes. */
MODULE_EXPORT AudioDecoder *ostrelin_audio_decoder_create(const AudioConfig *config);
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
