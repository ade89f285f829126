#pragma once
/* The sender's encoders: H.264 through libx264 or H.265 through libx265
 * (Annex B, parameter sets in
 * band on every keyframe, no B-frames) and AAC-LC through FFmpeg's own
 * encoder (raw access units, no ADTS), fed with the test picture and a sine
 * tone. One pair per connection, so each connection starts on a keyframe. */

#include "av-encoder.h"

#include <cstdint>
#include <vector>

/* One encoded unit: its bytes and its time in the encoder's time base
 * (frames for video, samples for audio). */
struct EncodedUnit {
	std::vector<uint8_t> data;
	int64_t pts;
	bool keyframe;
};

using VideoEncoder = AvEncoder;

/* codec: STREAM_CODEC_H264 or STREAM_CODEC_H265. Null pointers inside on
 * failure (the reason went to stderr). */
VideoEncoder video_encoder_open(int width, int height, int fps, int gop, int crf, uint8_t codec);
/* Draws frame number n of the pattern, encodes it and appends what comes
 * out (one access unit) to out. */
/* flash: the picture white but for its counter row (a sync mark). */
bool video_encoder_encode(VideoEncoder &enc, int64_t frame_number, bool force_keyframe, bool flash,
			  std::vector<EncodedUnit> *out);

inline constexpr int audio_sample_rate = 48000;
inline constexpr int audio_channels = 2;

struct AudioEncoder {
	CodecContextPtr ctx;
	FramePtr frame;
	PacketPtr packet;
	int tone_hz;
	int64_t next_sample;     /* pts of the next input frame, in samples */
	bool sync_marks = false; /* the tone only in a burst at the start of each second */
};

AudioEncoder audio_encoder_open(int tone_hz);
/* Samples in one access unit (1024 for AAC-LC). */
int audio_encoder_frame_size(const AudioEncoder &enc);
/* Feeds the next frame_size samples of the tone and appends every access
 * unit that comes out. */
bool audio_encoder_encode(AudioEncoder &enc, std::vector<EncodedUnit> *out);
