#include "decode/audio-decoder.h"
#include "log/ostrelin-log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <util/bmem.h>

#include <climits>
#include <cstring>

struct AudioDecoder {
	const AVCodec *codec;
	AVCodecContext *codec_ctx;
	AVPacket *packet;
	AVFrame *frame;
	bool format_warned;
};

uint8_t *audio_decoder_extradata(const uint8_t *asc, size_t asc_len)
{
	if (asc_len == 0)
		return nullptr;
	/* libavcodec requires the padding, zeroed, past every extradata buffer. */
	auto *extradata = static_cast<uint8_t *>(av_mallocz(asc_len + AV_INPUT_BUFFER_PADDING_SIZE));
	if (extradata)
		memcpy(extradata, asc, asc_len);
	return extradata;
}

void audio_decoder_cut_front(obs_source_audio *block, uint32_t frames)
{
	for (size_t ch = 0; ch < MAX_AV_PLANES && block->data[ch]; ch++)
		block->data[ch] += frames * sizeof(float);
	block->frames -= frames;
}

namespace {

/* Frees a whole or half-built decoder; every member may still be null. */
void release(AudioDecoder *decoder)
{
	if (decoder->frame)
		av_frame_free(&decoder->frame);
	if (decoder->packet)
		av_packet_free(&decoder->packet);
	if (decoder->codec_ctx)
		avcodec_free_context(&decoder->codec_ctx); /* also frees the extradata */
	bfree(decoder);
}

/* The AudioSpecificConfig goes in as extradata; the codec context frees it. */
bool set_extradata(AVCodecContext *ctx, const uint8_t *asc, size_t asc_len)
{
	if (asc_len == 0)
		return true;
	uint8_t *extradata = audio_decoder_extradata(asc, asc_len);
	if (!extradata)
		return false;
	ctx->extradata = extradata;
	ctx->extradata_size = (int)asc_len;
	return true;
}

bool open_context(AudioDecoder *decoder, const AudioConfig &config)
{
	decoder->codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
	if (!decoder->codec) {
		ostrelin_log(LOG_ERROR, LOGTEXT_NO_AAC_DECODER);
		return false;
	}

	decoder->codec_ctx = avcodec_alloc_context3(decoder->codec);
	if (!decoder->codec_ctx)
		return false;

	AVCodecContext *ctx = decoder->codec_ctx;
	ctx->sample_rate = static_cast<int>(config.sample_rate);
	av_channel_layout_default(&ctx->ch_layout, config.channels);
	if (!set_extradata(ctx, config.asc, config.asc_len))
		return false;

	if (avcodec_open2(ctx, decoder->codec, nullptr) < 0) {
		ostrelin_log(LOG_ERROR, LOGTEXT_AAC_OPEN_FAILED);
		return false;
	}
	return true;
}

void fill_audio(const AVFrame *frame, uint32_t sample_rate, uint64_t timestamp, obs_source_audio *out)
{
	*out = {};
	const int channels = frame->ch_layout.nb_channels;
	for (int i = 0; i < channels && i < MAX_AV_PLANES; i++)
		out->data[i] = frame->data[i];
	out->frames = static_cast<uint32_t>(frame->nb_samples);
	/* More than two channels are still announced as stereo: OBS takes the
	 * first two. */
	out->speakers = channels == 1 ? SPEAKERS_MONO : SPEAKERS_STEREO;
	out->format = AUDIO_FORMAT_FLOAT_PLANAR;
	out->samples_per_sec = sample_rate;
	out->timestamp = timestamp;
}

} // namespace

AudioDecoder *ostrelin_audio_decoder_create(const AudioConfig *config)
{
	if (!config || !config->valid || config->asc_len > AUDIO_CONFIG_MAX_ASC)
		return nullptr;

	auto *decoder = static_cast<AudioDecoder *>(bzalloc(sizeof(AudioDecoder)));
	if (!open_context(decoder, *config)) {
		release(decoder);
		return nullptr;
	}

	decoder->packet = av_packet_alloc();
	decoder->frame = decoder->packet ? av_frame_alloc() : nullptr;
	if (!decoder->frame) {
		release(decoder);
		return nullptr;
	}

	ostrelin_log(LOG_INFO, LOGTEXT_AUDIO_DECODER_READY, config->sample_rate,
		     static_cast<unsigned>(config->channels));
	return decoder;
}

bool ostrelin_audio_decoder_decode(AudioDecoder *decoder, const uint8_t *data, size_t size, uint64_t timestamp,
				   obs_source_audio *out)
{
	if (!decoder || !decoder->codec_ctx || !data || size == 0 || size > INT_MAX)
		return false;

	decoder->packet->data = const_cast<uint8_t *>(data);
	decoder->packet->size = static_cast<int>(size);
	/* A refused payload is dropped, whatever the reason: audio never waits. */
	if (avcodec_send_packet(decoder->codec_ctx, decoder->packet) < 0)
		return false;
	if (avcodec_receive_frame(decoder->codec_ctx, decoder->frame) < 0)
		return false;

	if (decoder->frame->format != AV_SAMPLE_FMT_FLTP) {
		if (!decoder->format_warned) {
			decoder->format_warned = true;
			ostrelin_log(LOG_WARNING, LOGTEXT_AUDIO_FORMAT_UNSUPPORTED, decoder->frame->format);
		}
		return false;
	}

	/* OBS cannot play a block without a rate: such a stream gives no audio. */
	if (decoder->codec_ctx->sample_rate <= 0 || decoder->frame->ch_layout.nb_channels <= 0)
		return false;
	fill_audio(decoder->frame, static_cast<uint32_t>(decoder->codec_ctx->sample_rate), timestamp, out);
	return true;
}

void ostrelin_audio_decoder_destroy(AudioDecoder *decoder)
{
	if (decoder)
		release(decoder);
}
