#include "encoder.h"
#include "pattern.h"
#include "protocol/stream-protocol.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

static void report(const char *what, int err)
{
	fprintf(stderr, "ostrelin-sender: %s: %s\n", what, av_error_text(err).c_str());
}

/* Sends one frame (or null to drain) and collects every packet ready. */
static bool encode_and_collect(AVCodecContext *ctx, AVFrame *frame, AVPacket *packet, std::vector<EncodedUnit> *out)
{
	int err = avcodec_send_frame(ctx, frame);
	if (err < 0) {
		report("encoding failed", err);
		return false;
	}
	for (;;) {
		err = avcodec_receive_packet(ctx, packet);
		if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
			return true;
		if (err < 0) {
			report("encoding failed", err);
			return false;
		}
		EncodedUnit unit;
		unit.data.assign(packet->data, packet->data + packet->size);
		unit.pts = packet->pts;
		unit.keyframe = (packet->flags & AV_PKT_FLAG_KEY) != 0;
		out->push_back(std::move(unit));
		av_packet_unref(packet);
	}
}

VideoEncoder video_encoder_open(int width, int height, int fps, int gop, int crf, uint8_t codec)
{
	X264Settings settings = {width, height, fps, gop, sender_encoder_preset};
	settings.crf = crf;
	settings.h265 = codec == STREAM_CODEC_H265;
	VideoEncoder enc;
	std::string error;
	if (!x264_encoder_open(settings, &enc, &error))
		fprintf(stderr, "ostrelin-sender: %s\n", error.c_str());
	return enc;
}

bool video_encoder_encode(VideoEncoder &enc, int64_t frame_number, bool force_keyframe, bool flash,
			  std::vector<EncodedUnit> *out)
{
	AVFrame *frame = enc.frame.get();
	if (av_frame_make_writable(frame) < 0)
		return false;
	YuvPlanes planes = {{frame->data[0], frame->data[1], frame->data[2]},
			    {frame->linesize[0], frame->linesize[1], frame->linesize[2]},
			    frame->width,
			    frame->height};
	pattern_draw(planes, frame_number);
	if (flash)
		pattern_flash(planes);
	frame->pts = frame_number;
	frame->pict_type = force_keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
	return encode_and_collect(enc.ctx.get(), frame, enc.packet.get(), out);
}

AudioEncoder audio_encoder_open(int tone_hz)
{
	AudioEncoder enc;
	enc.tone_hz = tone_hz;
	enc.next_sample = 0;
	const AVCodec *codec = avcodec_find_encoder_by_name("aac");
	if (!codec) {
		fprintf(stderr, "ostrelin-sender: this FFmpeg has no aac encoder\n");
		return enc;
	}
	CodecContextPtr ctx(avcodec_alloc_context3(codec));
	FramePtr frame(av_frame_alloc());
	PacketPtr packet(av_packet_alloc());
	if (!ctx || !frame || !packet)
		return enc;

	ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
	ctx->sample_rate = audio_sample_rate;
	av_channel_layout_default(&ctx->ch_layout, audio_channels);
	ctx->bit_rate = 128000;
	ctx->time_base = AVRational{1, audio_sample_rate};
	/* Asks for the AudioSpecificConfig in extradata; access units stay raw. */
	ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

	int err = avcodec_open2(ctx.get(), codec, nullptr);
	if (err < 0) {
		report("cannot open the aac encoder", err);
		return enc;
	}
	frame->format = AV_SAMPLE_FMT_FLTP;
	frame->sample_rate = audio_sample_rate;
	frame->nb_samples = ctx->frame_size;
	if ((err = av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout)) < 0 ||
	    (err = av_frame_get_buffer(frame.get(), 0)) < 0) {
		report("cannot allocate an audio frame", err);
		return enc;
	}
	enc.ctx = std::move(ctx);
	enc.frame = std::move(frame);
	enc.packet = std::move(packet);
	return enc;
}

int audio_encoder_frame_size(const AudioEncoder &enc)
{
	return enc.ctx->frame_size;
}

bool audio_encoder_encode(AudioEncoder &enc, std::vector<EncodedUnit> *out)
{
	AVFrame *frame = enc.frame.get();
	if (av_frame_make_writable(frame) < 0)
		return false;
	/* The phase is taken modulo one second so that it stays exact however
	 * long the connection runs. */
	for (int i = 0; i < frame->nb_samples; i++) {
		int64_t n = (enc.next_sample + i) % audio_sample_rate;
		float value =
			(float)(0.5 * std::sin(2.0 * std::numbers::pi * enc.tone_hz * (double)n / audio_sample_rate));
		if (enc.sync_marks && n >= audio_sample_rate * SYNC_BURST_MS / 1000)
			value = 0;
		for (int ch = 0; ch < audio_channels; ch++)
			((float *)frame->extended_data[ch])[i] = value;
	}
	frame->pts = enc.next_sample;
	enc.next_sample += frame->nb_samples;
	return encode_and_collect(enc.ctx.get(), frame, enc.packet.get(), out);
}
