/* H.264 and H.265 payloads through the video decoder, one record per packet
 * as the receive loop hands them over; every input goes through a decoder of
 * each codec. Every picture handed on to OBS must be one
 * OBS can read: a known format, a size, and planes whose rows all lie inside
 * the decoder's memory (every row's first and last sample is read, so that
 * AddressSanitizer sees a plane or line size that does not match). */

#include "decode/video-decoder.h"
#include "fuzz-packets.h"
#include "fuzz-quiet.h"

#include <media-io/video-io.h>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace {

struct PlaneShape {
	uint32_t width;
	uint32_t height;
};

/* Size of each plane of a picture, in samples (bytes); zero width past the
 * last plane. */
bool plane_shapes(const obs_source_frame &frame, PlaneShape planes[3])
{
	const uint32_t w = frame.width, h = frame.height;
	switch (frame.format) {
	case VIDEO_FORMAT_I420:
		planes[0] = {w, h};
		planes[1] = planes[2] = {(w + 1) / 2, (h + 1) / 2};
		return true;
	case VIDEO_FORMAT_I422:
		planes[0] = {w, h};
		planes[1] = planes[2] = {(w + 1) / 2, h};
		return true;
	case VIDEO_FORMAT_I444:
		planes[0] = planes[1] = planes[2] = {w, h};
		return true;
	case VIDEO_FORMAT_NV12:
		planes[0] = {w, h};
		planes[1] = {2 * ((w + 1) / 2), (h + 1) / 2};
		planes[2] = {0, 0};
		return true;
	default:
		return false;
	}
}

unsigned touch_plane(const uint8_t *data, uint32_t linesize, const PlaneShape &shape)
{
	unsigned sum = 0;
	for (uint32_t y = 0; y < shape.height; y++) {
		const uint8_t *row = data + (size_t)y * linesize;
		sum += row[0] + row[shape.width - 1];
	}
	return sum;
}

void decode_all(int av_codec_id, const uint8_t *data, size_t size)
{
	VideoDecoder *decoder = decoder_create(av_codec_id);
	FUZZ_CHECK(decoder != nullptr);

	FuzzPackets packets(data, size);
	std::span<const uint8_t> payload;
	volatile unsigned sink = 0;
	uint64_t timestamp = 1000000000;
	while (packets.next(&payload)) {
		obs_source_frame frame;
		timestamp += 33333333;
		if (!ostrelin_decoder_decode(decoder, payload.data(), payload.size(), timestamp, &frame))
			continue;
		PlaneShape planes[3];
		FUZZ_CHECK(plane_shapes(frame, planes));
		FUZZ_CHECK(frame.width > 0 && frame.height > 0);
		FUZZ_CHECK(frame.timestamp == timestamp);
		for (int i = 0; i < 3; i++) {
			if (planes[i].width == 0)
				continue;
			FUZZ_CHECK(frame.data[i] != nullptr);
			FUZZ_CHECK(frame.linesize[i] >= planes[i].width);
			sink = sink + touch_plane(frame.data[i], frame.linesize[i], planes[i]);
		}
	}
	ostrelin_decoder_destroy(decoder);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	decode_all(AV_CODEC_ID_H264, data, size);
	decode_all(AV_CODEC_ID_HEVC, data, size);
	return 0;
}
