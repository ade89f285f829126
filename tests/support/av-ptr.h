#pragma once
/* FFmpeg's records owned by unique_ptr, each freed by its own free function,
 * so that every way out of a function releases them. */

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <memory>

struct CodecContextFree {
	void operator()(AVCodecContext *ctx) const { avcodec_free_context(&ctx); }
};
struct FrameFree {
	void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct PacketFree {
	void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
