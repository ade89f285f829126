#include "decode/video-decoder.h"
#include "log/ostrelin-log.h"
#include "protocol/stream-protocol.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/cpu.h>
}

#include <media-io/video-io.h>
#include <util/bmem.h>

#include <algorithm>
#include <atomic>
#include <climits>

struct VideoDecoder {
	const AVCodec *codec;
	AVCodecContext *codec_ctx;
	AVPacket *packet;
	AVFrame *frame;
};

namespace {

/* Slice threads beyond the cores only wait on each other: on two cores a
 * wavefront H.265 picture took 1.7 times as long with four threads as with
 * two. */
constexpr int max_slice_threads = 4;

std::atomic<int> live_decoders{0};
std::atomic<bool> opens_fail{false};

struct PixelFormatMapping {
	AVPixelFormat av;
	video_format obs;
};

/* Only these decode straight into a format OBS takes without conversion.
 * YUVJ422P/YUVJ444P and every high bit depth format are refused. */
constexpr PixelFormatMapping pixel_formats[] = {
	{AV_PIX_FMT_YUV420P, VIDEO_FORMAT_I420}, {AV_PIX_FMT_YUV422P, VIDEO_FORMAT_I422},
	{AV_PIX_FMT_YUV444P, VIDEO_FORMAT_I444}, {AV_PIX_FMT_YUVJ420P, VIDEO_FORMAT_I420},
	{AV_PIX_FMT_NV12, VIDEO_FORMAT_NV12},
};

} // namespace

bool decoder_obs_format(int av_format, video_format *obs_format)
{
	for (const auto &mapping : pixel_formats) {
		if (mapping.av == av_format) {
			*obs_format = mapping.obs;
			return true;
		}
	}
	return false;
}

namespace {

/* Frees a whole or half-built decoder; every member may still be null. */
void release(VideoDecoder *decoder)
{
	if (decoder->frame)
		av_frame_free(&decoder->frame);
	if (decoder->packet)
		av_packet_free(&decoder->packet);
	if (decoder->codec_ctx)
		avcodec_free_context(&decoder->codec_ctx);
	bfree(decoder);
	live_decoders--;
}

bool open_context(VideoDecoder *decoder, AVCodecID codec_id)
{
	decoder->codec = avcodec_find_decoder(codec_id);
	if (!decoder->codec) {
		if (codec_id == AV_CODEC_ID_HEVC)
			ostrelin_log(LOG_ERROR, LOGTEXT_NO_HEVC_DECODER);
		else
			ostrelin_log(LOG_ERROR, LOGTEXT_NO_H264_DECODER);
		return false;
	}

	decoder->codec_ctx = avcodec_alloc_context3(decoder->codec);
	if (!decoder->codec_ctx)
		return false;

	AVCodecContext *ctx = decoder->codec_ctx;
	ctx->thread_count = decoder_slice_threads();
	/* Frame threading holds pictures back by one frame per thread. */
	ctx->thread_type = FF_THREAD_SLICE;
	ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
	ctx->flags2 |= AV_CODEC_FLAG2_FAST;

	if (opens_fail || avcodec_open2(ctx, decoder->codec, nullptr) < 0) {
		ostrelin_log(LOG_ERROR, LOGTEXT_DECODER_OPEN_FAILED);
		return false;
	}
	return true;
}

/* Sends the payload and takes at most one picture. When libavcodec refuses
 * the payload because a picture is still waiting, that picture is taken and
 * the payload is sent again so it stays queued for a later call. */
bool send_and_receive(VideoDecoder *decoder)
{
	int result = avcodec_send_packet(decoder->codec_ctx, decoder->packet);
	if (result == AVERROR(EAGAIN)) {
		if (avcodec_receive_frame(decoder->codec_ctx, decoder->frame) < 0)
			return false;
		return avcodec_send_packet(decoder->codec_ctx, decoder->packet) >= 0;
	}
	if (result < 0)
		return false;
	return avcodec_receive_frame(decoder->codec_ctx, decoder->frame) >= 0;
}

void fill_frame(const AVFrame *frame, video_format format, uint64_t timestamp, obs_source_frame *out)
{
	*out = {};
	out->format = format;
	out->width = static_cast<uint32_t>(frame->width);
	out->height = static_cast<uint32_t>(frame->height);
	out->timestamp = timestamp;
	for (size_t i = 0; i < MAX_AV_PLANES; i++) {
		out->data[i] = frame->data[i];
		out->linesize[i] = static_cast<uint32_t>(frame->linesize[i]);
	}

	const bool full_range = frame->color_range == AVCOL_RANGE_JPEG;
	const video_colorspace colorspace = frame->colorspace == AVCOL_SPC_BT470BG ? VIDEO_CS_601 : VIDEO_CS_709;
	const video_range_type range = full_range ? VIDEO_RANGE_FULL : VIDEO_RANGE_PARTIAL;
	video_format_get_parameters_for_format(colorspace, range, format, out->color_matrix, out->color_range_min,
					       out->color_range_max);
	out->full_range = full_range;
}

} // namespace

VideoDecoder *decoder_create(int av_codec_id)
{
	auto *decoder = static_cast<VideoDecoder *>(bzalloc(sizeof(VideoDecoder)));
	live_decoders++;

	if (!open_context(decoder, static_cast<AVCodecID>(av_codec_id))) {
		release(decoder);
		return nullptr;
	}

	decoder->packet = av_packet_alloc();
	decoder->frame = decoder->packet ? av_frame_alloc() : nullptr;
	if (!decoder->frame) {
		release(decoder);
		return nullptr;
	}

	ostrelin_log(LOG_INFO, LOGTEXT_DECODER_READY, decoder->codec->name, decoder->codec_ctx->thread_count);
	return decoder;
}

VideoDecoder *ostrelin_decoder_create(void)
{
	return decoder_create(AV_CODEC_ID_H264);
}

int decoder_codec_of_stream(uint8_t stream_codec)
{
	return stream_codec == STREAM_CODEC_H265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
}

int decoder_codec_id(const VideoDecoder *decoder)
{
	return decoder->codec->id;
}

bool decoder_available(int av_codec_id)
{
	return avcodec_find_decoder(static_cast<AVCodecID>(av_codec_id)) != nullptr;
}

int decoder_slice_threads(void)
{
	return std::clamp(av_cpu_count(), 1, max_slice_threads);
}

bool ostrelin_decoder_decode(VideoDecoder *decoder, const uint8_t *data, size_t size, uint64_t timestamp,
			     obs_source_frame *out)
{
	if (!decoder || !decoder->codec_ctx)
		return false;
	/* An empty packet would put libavcodec into draining for good, and the
	 * packet's size is an int. */
	if (!data || size == 0 || size > INT_MAX)
		return false;

	decoder->packet->data = const_cast<uint8_t *>(data);
	decoder->packet->size = static_cast<int>(size);
	if (!send_and_receive(decoder))
		return false;

	video_format format;
	if (!decoder_obs_format(decoder->frame->format, &format)) {
		ostrelin_log(LOG_WARNING, LOGTEXT_PIXEL_FORMAT_UNSUPPORTED, decoder->frame->format);
		return false;
	}

	fill_frame(decoder->frame, format, timestamp, out);
	return true;
}

void ostrelin_decoder_destroy(VideoDecoder *decoder)
{
	if (decoder)
		release(decoder);
}

int decoder_live_count(void)
{
	return live_decoders;
}

void decoder_fail_opens(bool fail)
{
	opens_fail = fail;
}
