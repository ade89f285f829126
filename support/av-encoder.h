#pragma once
/* libavcodec for the reference sender, the headless host and the benchmarks:
 * owners of FFmpeg's records that free them on every way out, error texts,
 * and an H.264 encoder through libx264 (or H.265 through libx265) set up as
 * a phone's: Annex B, parameter sets in band before every keyframe, no
 * B-frames, zero latency, one slice per picture. */

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <memory>
#include <string>

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

/* FFmpeg's text for an AVERROR code. */
std::string av_error_text(int err);

/* An open encoder, the picture it is fed with (reused frame after frame) and
 * the packet it gives back. */
struct AvEncoder {
	CodecContextPtr ctx;
	FramePtr frame;
	PacketPtr packet;
};

/* The reference sender's speed preset, the same name in both wrappers: the
 * fastest, as a phone's hardware encoder costs its CPU nothing. The
 * benchmarks that compare the two encoders use it too. */
constexpr const char *sender_encoder_preset = "ultrafast";
/* The reference sender's keyframe interval unless told otherwise. */
constexpr int sender_keyframe_seconds = 2;

struct X264Settings {
	int width;
	int height;
	int fps;
	int gop;
	const char *preset;         /* libx264's speed preset */
	int crf = -1;               /* >= 0: constant quality */
	int64_t bit_rate = 0;       /* > 0: this rate, and never above it */
	bool bt709_transfer = true; /* also tag BT.709 primaries and transfer, not only the matrix */
	bool h265 = false;          /* H.265 through libx265 with the same settings */
};

/* Opens libx264 (libx265) with a YUV 4:2:0 picture of the size; false with
 * the reason in *error ("this FFmpeg has no libx264 encoder", "cannot open
 * libx264: ..."). */
bool x264_encoder_open(const X264Settings &settings, AvEncoder *out, std::string *error);
