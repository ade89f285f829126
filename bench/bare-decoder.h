#pragma once
/* The reference for the plug-in's video decoder: a bare libavcodec H.264
 * context opened with the same settings as src/decode/video-decoder.cpp, fed with
 * avcodec_send_packet and drained with avcodec_receive_frame. Nothing else:
 * no parser, no OBS frame. */

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstddef>
#include <cstdint>

struct BareDecoder {
	AVCodecContext *ctx = nullptr;
	AVPacket *packet = nullptr;
	AVFrame *frame = nullptr;

	BareDecoder();
	~BareDecoder();
	BareDecoder(const BareDecoder &) = delete;
	BareDecoder &operator=(const BareDecoder &) = delete;

	bool ready() const { return ctx && packet && frame; }
	/* Decodes one access unit; returns the number of pictures it gave. */
	int decode(const uint8_t *data, size_t size);
};
