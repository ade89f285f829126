#include "protocol/flv-tags.h"

#include "protocol/byte-order.h"

#include <algorithm>
#include <cstring>

namespace {

const int64_t unwrap_limit = (int64_t)1 << 50;
const uint8_t start_code[4] = {0, 0, 0, 1};

enum VideoPacketType : uint8_t {
	VIDEO_CONFIG = 0,
	VIDEO_FRAMES = 1,
	VIDEO_END = 2,
	VIDEO_FRAMES_X = 3,
	VIDEO_META = 4
};

FlvResult fail(RtmpError *error, RtmpError why)
{
	*error = why;
	return FlvResult::error;
}

int32_t read_be24s(const uint8_t *p)
{
	uint32_t v = read_be24(p);
	return (int32_t)(v ^ 0x800000u) - 0x800000;
}

/* Appends a start code and the NAL unit; false past the parameter sets' or
 * the access unit's bound. */
bool put_nal(std::vector<uint8_t> *out, const uint8_t *nal, size_t size, size_t bound)
{
	if (out->size() + sizeof(start_code) + size > bound)
		return false;
	out->insert(out->end(), start_code, start_code + sizeof(start_code));
	out->insert(out->end(), nal, nal + size);
	return true;
}

/* count NAL units, each a u16 length then its bytes, from *p; false when cut short. */
bool put_counted_nals(std::span<const uint8_t> *p, unsigned count, std::vector<uint8_t> *out)
{
	for (unsigned i = 0; i < count; i++) {
		if (p->size() < 2 || p->size() - 2 < read_be16(p->data()))
			return false;
		size_t size = read_be16(p->data());
		if (!put_nal(out, p->data() + 2, size, FLV_MAX_PARAMS))
			return false;
		*p = p->subspan(2 + size);
	}
	return true;
}

/* AVCDecoderConfigurationRecord:
 *   0 version (1) | 1 profile | 2 compatibility | 3 level | 4 length size - 1 (low 2 bits)
 *   5 SPS count (low 5 bits) | SPS: u16 length, bytes ... | PPS count u8 | PPS ... */
bool avc_config(std::span<const uint8_t> p, uint8_t *length_size, std::vector<uint8_t> *out)
{
	if (p.size() < 6 || p[0] != 1)
		return false;
	*length_size = (uint8_t)((p[4] & 3) + 1);
	unsigned sps = p[5] & 0x1f;
	p = p.subspan(6);
	if (!put_counted_nals(&p, sps, out) || p.empty())
		return false;
	unsigned pps = p[0];
	p = p.subspan(1);
	return put_counted_nals(&p, pps, out);
}

/* HEVCDecoderConfigurationRecord: 21 length size - 1 (low 2 bits) | 22 array count,
 * each array: NAL type u8 | count u16 | NAL units: u16 length, bytes ... */
bool hevc_config(std::span<const uint8_t> p, uint8_t *length_size, std::vector<uint8_t> *out)
{
	if (p.size() < 23)
		return false;
	*length_size = (uint8_t)((p[21] & 3) + 1);
	unsigned arrays = p[22];
	p = p.subspan(23);
	for (unsigned i = 0; i < arrays; i++) {
		if (p.size() < 3)
			return false;
		unsigned count = read_be16(p.data() + 1);
		p = p.subspan(3);
		if (!put_counted_nals(&p, count, out))
			return false;
	}
	return true;
}

FlvResult video_config(FlvReader *r, MediaCodec codec, std::span<const uint8_t> record, MediaPacket *out,
		       RtmpError *error)
{
	std::vector<uint8_t> params;
	uint8_t length_size = 4;
	bool ok = codec == MediaCodec::h264 ? avc_config(record, &length_size, &params)
					    : hevc_config(record, &length_size, &params);
	if (!ok)
		return fail(error, RtmpError::malformed_video);
	r->length_size = length_size;
	if (r->have_video_config && r->video_codec == codec && r->params == params)
		return FlvResult::nothing;
	r->have_video_config = true;
	r->video_codec = codec;
	r->params = std::move(params);
	out->config = true;
	out->data = r->params.data();
	out->size = r->params.size();
	return FlvResult::packet;
}

FlvResult video_frames(FlvReader *r, MediaCodec codec, bool key, std::span<const uint8_t> nals, MediaPacket *out,
		       RtmpError *error)
{
	bool configured = r->have_video_config && r->video_codec == codec;
	size_t length_size = configured ? r->length_size : 4;
	std::vector<uint8_t> &au = r->access_unit;
	au.clear();
	if (key && configured)
		au = r->params;
	size_t params_size = au.size();
	while (!nals.empty()) {
		if (nals.size() < length_size)
			return fail(error, RtmpError::malformed_video);
		size_t size = 0;
		for (size_t i = 0; i < length_size; i++)
			size = size << 8 | nals[i];
		nals = nals.subspan(length_size);
		if (size > nals.size() || !put_nal(&au, nals.data(), size, STREAM_MAX_PAYLOAD))
			return fail(error, RtmpError::malformed_video);
		nals = nals.subspan(size);
	}
	if (au.size() == params_size)
		return FlvResult::nothing;
	out->key_frame = key;
	out->data = au.data();
	out->size = au.size();
	return FlvResult::packet;
}

bool fourcc_is(const uint8_t *p, const char *name)
{
	return memcmp(p, name, 4) == 0;
}

} // namespace

int64_t timestamp_unwrap(TimestampUnwrap *u, uint32_t timestamp)
{
	if (!u->started) {
		u->started = true;
		u->ms = timestamp;
	} else {
		u->ms = std::clamp<int64_t>(u->ms + (int32_t)(timestamp - u->last), -unwrap_limit, unwrap_limit);
	}
	u->last = timestamp;
	return u->ms;
}

bool aac_config_parse(std::span<const uint8_t> asc, AudioConfig *out)
{
	static const uint32_t rates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
					   22050, 16000, 12000, 11025, 8000,  7350};
	static const uint8_t channels[8] = {0, 1, 2, 3, 4, 5, 6, 8};
	if (asc.size() < 2 || asc.size() > AUDIO_CONFIG_MAX_ASC)
		return false;
	size_t bit = 0;
	size_t bits_total = asc.size() * 8;
	auto bits = [&](unsigned n, uint32_t *v) {
		if (bit + n > bits_total)
			return false;
		*v = 0;
		for (unsigned i = 0; i < n; i++, bit++)
			*v = *v << 1 | ((asc[bit / 8] >> (7 - bit % 8)) & 1);
		return true;
	};
	uint32_t object_type, rate_index, rate, channel_config;
	if (!bits(5, &object_type) || (object_type == 31 && !bits(6, &object_type)) || !bits(4, &rate_index))
		return false;
	if (rate_index == 15) {
		if (!bits(24, &rate) || rate == 0)
			return false;
	} else if (rate_index < 13) {
		rate = rates[rate_index];
	} else {
		return false;
	}
	if (!bits(4, &channel_config) || channel_config >= 8)
		return false;
	AudioConfig config;
	memset(&config, 0, sizeof(config));
	config.valid = 1;
	config.sample_rate = rate;
	config.channels = channels[channel_config];
	config.asc_len = (uint8_t)asc.size();
	memcpy(config.asc, asc.data(), asc.size());
	*out = config;
	return true;
}

void flv_reader_init(FlvReader *r)
{
	r->have_video_config = false;
	r->video_codec = MediaCodec::h264;
	r->length_size = 4;
	r->params.clear();
	r->access_unit.clear();
	r->have_audio_config = false;
	memset(&r->audio, 0, sizeof(r->audio));
	r->video_time = {};
	r->audio_time = {};
}

FlvResult flv_read_video(FlvReader *r, std::span<const uint8_t> body, uint32_t timestamp, MediaPacket *out,
			 RtmpError *error)
{
	if (body.empty())
		return FlvResult::nothing;
	int64_t dts_ms = timestamp_unwrap(&r->video_time, timestamp);
	bool enhanced = body[0] & 0x80;
	unsigned frame_type = enhanced ? (body[0] >> 4) & 7 : body[0] >> 4;
	MediaCodec codec;
	unsigned packet_type;
	int32_t cts = 0;
	std::span<const uint8_t> rest;
	if (enhanced) {
		if (body.size() < 5)
			return fail(error, RtmpError::malformed_video);
		if (fourcc_is(&body[1], "avc1"))
			codec = MediaCodec::h264;
		else if (fourcc_is(&body[1], "hvc1"))
			codec = MediaCodec::h265;
		else
			return fail(error, RtmpError::unsupported_video);
		packet_type = body[0] & 0x0f;
		rest = body.subspan(5);
		if (packet_type == VIDEO_FRAMES) {
			if (rest.size() < 3)
				return fail(error, RtmpError::malformed_video);
			cts = read_be24s(rest.data());
			rest = rest.subspan(3);
		} else if (packet_type == VIDEO_FRAMES_X) {
			packet_type = VIDEO_FRAMES;
		} else if (packet_type == VIDEO_META) {
			return FlvResult::nothing;
		} else if (packet_type > VIDEO_FRAMES_X) {
			/* Several tracks in one tag, or modifiers: none that a phone sends. */
			return fail(error, RtmpError::unsupported_video);
		}
	} else {
		unsigned codec_id = body[0] & 0x0f;
		if (codec_id == 7)
			codec = MediaCodec::h264;
		else if (codec_id == 12)
			codec = MediaCodec::h265;
		else
			return fail(error, RtmpError::unsupported_video);
		if (body.size() < 5)
			return fail(error, RtmpError::malformed_video);
		packet_type = body[1];
		cts = read_be24s(&body[2]);
		rest = body.subspan(5);
		if (packet_type > VIDEO_END)
			return fail(error, RtmpError::malformed_video);
	}
	if (frame_type == 5 || packet_type == VIDEO_END)
		return FlvResult::nothing;
	*out = MediaPacket{};
	out->kind = MediaKind::video;
	out->codec = codec;
	out->dts_us = dts_ms * 1000;
	out->pts_us = (dts_ms + cts) * 1000;
	if (packet_type == VIDEO_CONFIG)
		return video_config(r, codec, rest, out, error);
	return video_frames(r, codec, frame_type == 1, rest, out, error);
}

FlvResult flv_read_audio(FlvReader *r, std::span<const uint8_t> body, uint32_t timestamp, MediaPacket *out,
			 RtmpError *error)
{
	if (body.empty())
		return FlvResult::nothing;
	int64_t dts_ms = timestamp_unwrap(&r->audio_time, timestamp);
	if (body[0] >> 4 != 10)
		return fail(error, RtmpError::unsupported_audio);
	if (body.size() < 2 || body[1] > 1)
		return fail(error, RtmpError::malformed_audio);
	std::span<const uint8_t> data = body.subspan(2);
	*out = MediaPacket{};
	out->kind = MediaKind::audio;
	out->codec = MediaCodec::aac;
	out->dts_us = dts_ms * 1000;
	out->pts_us = out->dts_us;
	out->key_frame = true;
	if (body[1] == 0) {
		AudioConfig config;
		if (!aac_config_parse(data, &config))
			return fail(error, RtmpError::malformed_audio);
		if (r->have_audio_config && audio_config_equal(config, r->audio))
			return FlvResult::nothing;
		r->have_audio_config = true;
		r->audio = config;
		out->config = true;
		out->audio = config;
		out->data = r->audio.asc;
		out->size = r->audio.asc_len;
		return FlvResult::packet;
	}
	if (!r->have_audio_config || data.empty())
		return FlvResult::nothing;
	out->data = data.data();
	out->size = data.size();
	return FlvResult::packet;
}
