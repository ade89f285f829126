#include "h264-stream.h"
#include "av-encoder.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int pan_pixels_per_frame = 2;
constexpr int block_size = 160;

/* The matrix alone is tagged BT.709. */
bool open_encoder(const StreamShape &shape, AvEncoder *enc, std::string *error)
{
	X264Settings settings = {shape.width, shape.height, shape.fps, shape.gop, shape.preset};
	settings.bit_rate = shape.bit_rate;
	settings.bt709_transfer = false;
	settings.h265 = shape.h265;
	return x264_encoder_open(settings, enc, error);
}

bool collect_packets(AVCodecContext *ctx, AVPacket *packet, EncodedStream *out, std::string *error)
{
	for (;;) {
		int err = avcodec_receive_packet(ctx, packet);
		if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
			return true;
		if (err < 0) {
			*error = "encoding failed: " + av_error_text(err);
			return false;
		}
		out->access_units.emplace_back(packet->data, packet->data + packet->size);
		out->keyframes.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
		av_packet_unref(packet);
	}
}

} // namespace

/* The scene's luma is wide enough to pan across for the whole stream. */
TestPattern::TestPattern(const StreamShape &shape)
	: scene_width_(shape.width + shape.frames * pan_pixels_per_frame),
	  scene_luma_((size_t)scene_width_ * (size_t)shape.height)
{
	uint32_t seed = 12345;
	for (int y = 0; y < shape.height; y++) {
		for (int x = 0; x < scene_width_; x++) {
			seed = seed * 1664525u + 1013904223u;
			double shade = 128 + 50 * std::sin(x * 0.031) * std::sin(y * 0.023) +
				       30 * std::sin((x + 2 * y) * 0.11) + (int)(seed >> 28) - 8;
			scene_luma_[(size_t)y * (size_t)scene_width_ + (size_t)x] =
				(uint8_t)std::clamp(shade, 16.0, 235.0);
		}
	}
}

void TestPattern::draw_next(AVFrame *frame)
{
	const int n = next_++;
	const int w = frame->width;
	const int h = frame->height;
	const int pan = n * pan_pixels_per_frame;
	const int block_x = (n * 7) % (w - block_size);
	const int block_y = (n * 3) % (h - block_size);

	for (int y = 0; y < h; y++) {
		const uint8_t *src = &scene_luma_[(size_t)y * (size_t)scene_width_ + (size_t)pan];
		uint8_t *dst = frame->data[0] + (ptrdiff_t)y * frame->linesize[0];
		const bool in_block_rows = y >= block_y && y < block_y + block_size;
		for (int x = 0; x < w; x++) {
			grain_ ^= grain_ << 13;
			grain_ ^= grain_ >> 17;
			grain_ ^= grain_ << 5;
			int value = src[x] + (int)(grain_ & 7) - 3;
			if (in_block_rows && x >= block_x && x < block_x + block_size)
				value = 220 + (int)(grain_ & 7);
			dst[x] = (uint8_t)std::clamp(value, 16, 235);
		}
	}
	for (int y = 0; y < h / 2; y++) {
		uint8_t *u = frame->data[1] + (ptrdiff_t)y * frame->linesize[1];
		uint8_t *v = frame->data[2] + (ptrdiff_t)y * frame->linesize[2];
		for (int x = 0; x < w / 2; x++) {
			u[x] = (uint8_t)(128 + ((x + n) % 128) / 3 - 21);
			v[x] = (uint8_t)(128 + ((y + 2 * n) % 96) / 3 - 16);
		}
	}
}

size_t EncodedStream::total_bytes() const
{
	size_t total = 0;
	for (const auto &au : access_units)
		total += au.size();
	return total;
}

double EncodedStream::megabits_per_second() const
{
	if (access_units.empty())
		return 0;
	double seconds = (double)access_units.size() / shape.fps;
	return (double)total_bytes() * 8 / seconds / 1e6;
}

bool make_stream(const StreamShape &shape, EncodedStream *out, std::string *error)
{
	*out = {};
	out->shape = shape;

	AvEncoder enc;
	if (!open_encoder(shape, &enc, error))
		return false;
	AVCodecContext *ctx = enc.ctx.get();
	AVFrame *frame = enc.frame.get();
	AVPacket *packet = enc.packet.get();
	int err = 0;

	TestPattern pattern(shape);
	for (int n = 0; n < shape.frames; n++) {
		if (av_frame_make_writable(frame) < 0) {
			*error = "cannot reuse the picture";
			return false;
		}
		pattern.draw_next(frame);
		frame->pts = n;
		if ((err = avcodec_send_frame(ctx, frame)) < 0) {
			*error = "encoding failed: " + av_error_text(err);
			return false;
		}
		if (!collect_packets(ctx, packet, out, error))
			return false;
	}
	avcodec_send_frame(ctx, nullptr);
	if (!collect_packets(ctx, packet, out, error))
		return false;

	if ((int)out->access_units.size() != shape.frames) {
		*error = "the encoder gave " + std::to_string(out->access_units.size()) + " access units for " +
			 std::to_string(shape.frames) + " pictures";
		return false;
	}
	return true;
}
