#include "av-encoder.h"

extern "C" {
#include <libavutil/opt.h>
}

std::string av_error_text(int err)
{
	char text[AV_ERROR_MAX_STRING_SIZE] = {};
	av_strerror(err, text, sizeof(text));
	return text;
}

bool x264_encoder_open(const X264Settings &settings, AvEncoder *out, std::string *error)
{
	const char *name = settings.h265 ? "libx265" : "libx264";
	const AVCodec *codec = avcodec_find_encoder_by_name(name);
	if (!codec) {
		*error = std::string("this FFmpeg has no ") + name + " encoder";
		return false;
	}
	AvEncoder enc;
	enc.ctx.reset(avcodec_alloc_context3(codec));
	enc.frame.reset(av_frame_alloc());
	enc.packet.reset(av_packet_alloc());
	if (!enc.ctx || !enc.frame || !enc.packet) {
		*error = "out of memory";
		return false;
	}

	AVCodecContext *ctx = enc.ctx.get();
	ctx->width = settings.width;
	ctx->height = settings.height;
	ctx->pix_fmt = AV_PIX_FMT_YUV420P;
	ctx->time_base = AVRational{1, settings.fps};
	ctx->framerate = AVRational{settings.fps, 1};
	ctx->gop_size = settings.gop;
	ctx->max_b_frames = 0;
	ctx->thread_count = 1; /* one slice per picture, as most phone encoders */
	if (settings.bit_rate > 0) {
		ctx->bit_rate = settings.bit_rate;
		ctx->rc_max_rate = settings.bit_rate;
		ctx->rc_buffer_size = (int)settings.bit_rate;
	}
	ctx->color_range = AVCOL_RANGE_MPEG;
	ctx->colorspace = AVCOL_SPC_BT709;
	if (settings.bt709_transfer) {
		ctx->color_primaries = AVCOL_PRI_BT709;
		ctx->color_trc = AVCOL_TRC_BT709;
	}
	/* No AV_CODEC_FLAG_GLOBAL_HEADER: the parameter sets stay in the
	 * stream, in front of every keyframe, as a receiver without side data
	 * needs. The presets, the tune and the rest are the same options in
	 * both wrappers. */
	av_opt_set(ctx->priv_data, "preset", settings.preset, 0);
	av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
	if (settings.crf >= 0)
		av_opt_set(ctx->priv_data, "crf", std::to_string(settings.crf).c_str(), 0);
	av_opt_set(ctx->priv_data, "forced-idr", "1", 0);
	if (settings.h265)
		av_opt_set(ctx->priv_data, "x265-params", "repeat-headers=1:annexb=1:bframes=0:log-level=error", 0);
	else
		av_opt_set(ctx->priv_data, "x264-params", "repeat-headers=1:annexb=1", 0);

	int err = avcodec_open2(ctx, codec, nullptr);
	if (err < 0) {
		*error = std::string("cannot open ") + name + ": " + av_error_text(err);
		return false;
	}
	AVFrame *frame = enc.frame.get();
	frame->format = AV_PIX_FMT_YUV420P;
	frame->width = settings.width;
	frame->height = settings.height;
	if ((err = av_frame_get_buffer(frame, 0)) < 0) {
		*error = "cannot allocate a picture: " + av_error_text(err);
		return false;
	}
	*out = std::move(enc);
	return true;
}
