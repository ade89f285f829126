#pragma once
/* H.264 or H.265 (HEVC) video decoder tuned for latency: one Annex B payload
 * in, at most one picture out, whose planes the filled OBS frame points into
 * (no copy). The exported create makes an H.264 one.
 *
 * Calling order: create, any number of decode calls from one thread, then
 * destroy after the last decode has returned. The planes of a filled frame
 * stay valid until the next decode call or destroy. */

#include <obs-module.h>

#include <cstddef>
#include <cstdint>

struct VideoDecoder;

MODULE_EXPORT VideoDecoder *ostrelin_decoder_create(void);
MODULE_EXPORT bool ostrelin_decoder_decode(VideoDecoder *decoder, const uint8_t *data, size_t size, uint64_t timestamp,
					   struct obs_source_frame *out);
MODULE_EXPORT void ostrelin_decoder_destroy(VideoDecoder *decoder);

/* A decoder for libavcodec's codec av_codec_id (AV_CODEC_ID_H264 or
 * AV_CODEC_ID_HEVC) with the same settings as every other; null when this
 * libavcodec has no decoder for it or it does not open (logged). */
VideoDecoder *decoder_create(int av_codec_id);
/* The libavcodec codec id that decodes a stream's codec number
 * (STREAM_CODEC_H264 or STREAM_CODEC_H265; any other: H.264's). */
int decoder_codec_of_stream(uint8_t stream_codec);
/* The libavcodec codec id the decoder was made for. */
int decoder_codec_id(const VideoDecoder *decoder);
/* True when this build's libavcodec has a decoder for av_codec_id. */
bool decoder_available(int av_codec_id);
/* The slice threads a decoder asks libavcodec for: one per core, up to four. */
int decoder_slice_threads(void);

/* The OBS format a picture of libavcodec's format av_format is handed on as,
 * without conversion; false (and *obs_format untouched) for a format OBS
 * cannot take as it is. */
bool decoder_obs_format(int av_format, video_format *obs_format);

/* Decoders made and not yet destroyed, in the whole process. */
int decoder_live_count(void);
/* For tests: from now on every decoder is found but fails to open (true),
 * as where libavcodec has the decoder but cannot start it, or opens again
 * (false). */
void decoder_fail_opens(bool fail);
