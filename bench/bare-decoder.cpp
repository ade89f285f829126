#include "bare-decoder.h"
#include "decode/video-decoder.h"

BareDecoder::BareDecoder()
{
	const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
	if (!codec)
		return;
	ctx = avcodec_alloc_context3(codec);
	if (!ctx)
		return;
	/* Keep these in step with open_context() in src/decode/video-decoder.cpp. */
	ctx->thread_count = decoder_slice_threads();
	ctx->thread_type = FF_THREAD_SLICE;
	ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
	ctx->flags2 |= AV_CODEC_FLAG2_FAST;
	if (avcodec_open2(ctx, codec, nullptr) < 0) {
		avcodec_free_context(&ctx);
		return;
	}
	packet = av_packet_alloc();
	frame = av_frame_alloc();
}

BareDecoder::~BareDecoder()
{
	av_frame_free(&frame);
	av_packet_free(&packet);
	avcodec_free_context(&ctx);
}

int BareDecoder::decode(const uint8_t *data, size_t size)
{
	packet->data = const_cast<uint8_t *>(data);
	packet->size = (int)size;
	if (avcodec_send_packet(ctx, packet) < 0)
		return 0;
	int pictures = 0;
	while (avcodec_receive_frame(ctx, frame) >= 0)
		pictures++;
	return pictures;
}
