#include "stream.h"
#include "encoder.h"
#include "send-log.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

struct StreamState {
	Connection &conn;
	const SenderOptions &opts;
	int64_t start_us; /* this machine's monotonic clock */
	size_t zero_length_sent;
	long connection;
	int width; /* of the pictures now, turned by --rotate-every */
	int height;
	DelayLine *line; /* --jitter and spikes: packets go through it */
};

/* The phone's clock now (see --clock-drift). */
int64_t phone_now_us(const StreamState &s)
{
	return drift_phone_us(s.opts.clock, monotonic_us());
}

} // namespace

/* Flags of the empty packets that --zero-length puts in front of every real
 * packet, in turn: capabilities first, then every other kind and unused bits. */
static const uint8_t zero_length_flags[] = {0x04, 0x00, 0x01, 0x08, 0x09, 0x0C, 0x02, 0xFF};

/* Filler of the --exact-max and --oversize payloads: it holds no start code,
 * and a receiver that reads a byte too few or too many meets it as flags. */
static const uint8_t filler_byte = 0xA5;

/* A frame that comes this late is not sent in a burst to catch up: the
 * schedule moves on, and timestamps show the gap. */
static const int64_t max_lateness_us = 200 * 1000;

/* The sender's clock as written on the wire, moved by --clock-jump once
 * --clock-jump-after has passed on this connection. */
static uint64_t wire_time(const StreamState &s, int64_t us)
{
	const SenderOptions &o = s.opts;
	if (o.clock_jump_ms != 0 && us - s.start_us >= (int64_t)(o.clock_jump_after_s * 1e6))
		us += (int64_t)o.clock_jump_ms * 1000;
	return us < 0 ? 0 : (uint64_t)us;
}

static bool send_header(StreamState &s, uint8_t flags, uint32_t length, uint64_t timestamp)
{
	uint8_t header[PACKET_HEADER_SIZE];
	packet_header_write(PacketHeader{flags, length, timestamp}, header);
	return connection_send(s.conn, header, sizeof(header));
}

static bool send_zero_length(StreamState &s)
{
	uint8_t flags = zero_length_flags[s.zero_length_sent++ % std::size(zero_length_flags)];
	return send_header(s, flags, 0, wire_time(s, phone_now_us(s)));
}

/* A header and its payload in one send; with --zero-length an empty packet
 * goes first. */
static bool send_packet(StreamState &s, uint8_t flags, uint64_t timestamp, const uint8_t *payload, size_t size)
{
	if (s.opts.zero_length && !send_zero_length(s))
		return false;
	std::vector<uint8_t> bytes(PACKET_HEADER_SIZE + size);
	packet_header_write(PacketHeader{flags, (uint32_t)size, timestamp}, bytes.data());
	if (size > 0)
		memcpy(bytes.data() + PACKET_HEADER_SIZE, payload, size);
	if (s.line)
		return delay_line_send(*s.line, std::move(bytes));
	return connection_send(s.conn, bytes.data(), bytes.size());
}

static bool send_handshake(StreamState &s)
{
	const SenderOptions &o = s.opts;
	Handshake hs = handshake_make((uint16_t)o.width, (uint16_t)o.height, (uint8_t)o.fps);
	hs.codec = o.codec;
	if (o.bad_magic) /* "nrix" */
		for (uint8_t &c : hs.magic)
			c = (uint8_t)tolower(c);
	if (o.bad_version >= 0)
		hs.version = (uint8_t)o.bad_version;
	if (o.bad_codec >= 0)
		hs.codec = (uint8_t)o.bad_codec;
	hs.reserved = o.reserved;
	uint8_t bytes[HANDSHAKE_SIZE];
	handshake_write(hs, bytes);
	if (o.stall_handshake_ms <= 0)
		return connection_send(s.conn, bytes, sizeof(bytes));
	return connection_send(s.conn, bytes, 6) && connection_wait_ms(s.conn, o.stall_handshake_ms) &&
	       connection_send(s.conn, bytes + 6, 6);
}

static bool send_caps(StreamState &s)
{
	uint8_t payload[CAPS_FIXED_SIZE + 4 * CAPS_MAX_AWB_MODES];
	size_t size = camera_caps_write(s.opts.caps, payload);
	uint64_t now = wire_time(s, phone_now_us(s));
	if (!s.opts.malformed_caps)
		return send_packet(s, PACKET_FLAG_CAPS, now, payload, size);

	/* One byte short of the fixed part; then three modes announced and the
	 * last one a byte short. */
	CameraCaps three = s.opts.caps;
	three.awb_count = 3;
	three.awb_modes[0] = 1;
	three.awb_modes[1] = 2;
	three.awb_modes[2] = 3;
	uint8_t list[CAPS_FIXED_SIZE + 4 * 3];
	camera_caps_write(three, list);
	return send_packet(s, PACKET_FLAG_CAPS, now, payload, CAPS_FIXED_SIZE - 1) &&
	       send_packet(s, PACKET_FLAG_CAPS, now, list, sizeof(list) - 1);
}

static AudioConfig audio_config_of(const AudioEncoder &enc)
{
	AudioConfig config;
	memset(&config, 0, sizeof(config));
	config.valid = 1;
	config.sample_rate = (uint32_t)enc.ctx->sample_rate;
	config.channels = (uint8_t)enc.ctx->ch_layout.nb_channels;
	int asc_len = enc.ctx->extradata_size;
	config.asc_len = (uint8_t)(asc_len < AUDIO_CONFIG_MAX_ASC ? asc_len : AUDIO_CONFIG_MAX_ASC);
	if (enc.ctx->extradata)
		memcpy(config.asc, enc.ctx->extradata, config.asc_len);
	return config;
}

static bool send_audio_config(StreamState &s, const AudioConfig &config)
{
	const uint8_t flags = PACKET_FLAG_AUDIO | PACKET_FLAG_CONFIG;
	uint8_t payload[6 + AUDIO_CONFIG_MAX_ASC];
	size_t size = audio_config_write(config, payload);
	uint64_t now = wire_time(s, phone_now_us(s));
	if (!s.opts.malformed_audio_config)
		return send_packet(s, flags, now, payload, size);

	/* asc_len 65 with all its bytes there; the real one cut a byte short;
	 * and a payload shorter than the fixed part. */
	uint8_t too_long[6 + AUDIO_CONFIG_MAX_ASC + 1] = {};
	memcpy(too_long, payload, size);
	too_long[5] = AUDIO_CONFIG_MAX_ASC + 1;
	return send_packet(s, flags, now, too_long, sizeof(too_long)) &&
	       send_packet(s, flags, now, payload, size - 1) && send_packet(s, flags, now, payload, 5);
}

/* The second video packet of a connection carries the stalls and the close,
 * so that the receiver has seen a whole picture before. */
static bool send_video(StreamState &s, const EncodedUnit &unit, uint64_t timestamp, int64_t frame_number)
{
	const SenderOptions &o = s.opts;
	send_log_video(s.connection, frame_number, s.width, s.height, timestamp);
	if (o.annexb)
		return connection_send(s.conn, unit.data.data(), unit.data.size());
	bool special = frame_number == 1 && (o.stall_header_ms > 0 || o.stall_payload_ms > 0 || o.close_mid_packet);
	if (!special)
		return send_packet(s, o.video_flags, timestamp, unit.data.data(), unit.data.size());

	if (o.zero_length && !send_zero_length(s))
		return false;
	uint8_t header[PACKET_HEADER_SIZE];
	packet_header_write(PacketHeader{o.video_flags, (uint32_t)unit.data.size(), timestamp}, header);
	const size_t header_part = 6;
	if (o.stall_header_ms > 0) {
		if (!connection_send(s.conn, header, header_part) || !connection_wait_ms(s.conn, o.stall_header_ms) ||
		    !connection_send(s.conn, header + header_part, sizeof(header) - header_part))
			return false;
	} else if (!connection_send(s.conn, header, sizeof(header))) {
		return false;
	}
	size_t half = unit.data.size() / 2;
	if (!connection_send(s.conn, unit.data.data(), half))
		return false;
	if (o.close_mid_packet)
		return false; /* the caller closes the connection */
	if (o.stall_payload_ms > 0 && !connection_wait_ms(s.conn, o.stall_payload_ms))
		return false;
	return connection_send(s.conn, unit.data.data() + half, unit.data.size() - half);
}

static bool send_filler_packet(StreamState &s, uint32_t length)
{
	if (s.opts.zero_length && !send_zero_length(s))
		return false;
	std::vector<uint8_t> filler(length, filler_byte);
	return send_header(s, s.opts.video_flags, length, wire_time(s, phone_now_us(s))) &&
	       connection_send(s.conn, filler.data(), filler.size());
}

/* --oversize and --exact-max, right after the first video packet. The
 * filler leaves the receiver's decoder in a mess, so the next picture is a
 * keyframe. */
static bool inject_after_first_frame(StreamState &s, bool *force_keyframe)
{
	if (s.opts.exact_max) {
		if (!send_filler_packet(s, STREAM_MAX_PAYLOAD))
			return false;
		*force_keyframe = true;
	}
	if (s.opts.oversize) {
		if (!send_filler_packet(s, STREAM_MAX_PAYLOAD + 1))
			return false;
		*force_keyframe = true;
	}
	return true;
}

/* --drop-every: true once this connection has lasted long enough. */
static bool drop_due(const StreamState &s)
{
	return s.opts.drop_every_s > 0 && monotonic_us() - s.start_us >= (int64_t)(s.opts.drop_every_s * 1e6);
}

/* --rotate-every: a new encoder for the turned picture when its time has
 * come; its first picture is an IDR with new SPS/PPS. */
static bool turn_if_due(StreamState &s, VideoEncoder &video, int gop)
{
	const SenderOptions &o = s.opts;
	if (o.rotate_every_s <= 0)
		return true;
	int64_t turns = (monotonic_us() - s.start_us) / (int64_t)(o.rotate_every_s * 1e6);
	bool portrait = turns % 2 == 1;
	int width = portrait ? o.height : o.width;
	int height = portrait ? o.width : o.height;
	if (width == s.width && height == s.height)
		return true;
	VideoEncoder turned = video_encoder_open(width, height, o.fps, gop, o.crf, o.codec);
	if (!turned.ctx)
		return false;
	video = std::move(turned);
	s.width = width;
	s.height = height;
	return true;
}

static void run_media(StreamState &s, VideoEncoder &video, AudioEncoder *audio, int gop)
{
	const SenderOptions &o = s.opts;
	const int64_t audio_frame = audio ? audio_encoder_frame_size(*audio) : 0;
	int64_t t0 = phone_now_us(s);
	int64_t frames = 0;
	int64_t audio_frames = 0;
	bool force_keyframe = false;
	std::vector<EncodedUnit> units;
	for (;;) {
		/* Video frame n is taken at t0 + n/fps; an audio frame is encoded
		 * once all of its samples have been "captured". */
		int64_t video_due = t0 + frames * 1000000 / o.fps;
		int64_t audio_due = audio ? t0 + (audio_frames + 1) * audio_frame * 1000000 / audio_sample_rate
					  : INT64_MAX;
		bool video_next = video_due <= audio_due;
		int64_t due = video_next ? video_due : audio_due;
		if (!connection_wait_until(s.conn, drift_real_us(o.clock, due)) || drop_due(s))
			return;
		int64_t late = phone_now_us(s) - due;
		if (late > max_lateness_us) {
			t0 += late;
			continue;
		}

		units.clear();
		if (video_next) {
			if (!turn_if_due(s, video, gop))
				return;
			bool flash = o.sync_marks && frames % o.fps == 0;
			if (!video_encoder_encode(video, frames, force_keyframe, flash, &units))
				return;
			force_keyframe = false;
			for (const EncodedUnit &unit : units) {
				int64_t us = t0 + unit.pts * 1000000 / o.fps;
				if (!send_video(s, unit, wire_time(s, us), frames))
					return;
			}
			if (frames == 0 && !inject_after_first_frame(s, &force_keyframe))
				return;
			frames++;
		} else {
			if (!audio_encoder_encode(*audio, &units))
				return;
			for (const EncodedUnit &unit : units) {
				int64_t us = t0 + unit.pts * 1000000 / audio_sample_rate;
				send_log_audio(s.connection, wire_time(s, us));
				if (!send_packet(s, PACKET_FLAG_AUDIO, wire_time(s, us), unit.data.data(),
						 unit.data.size()))
					return;
			}
			audio_frames++;
		}
	}
}

void stream_serve(Connection &conn, const SenderOptions &opts, long connection)
{
	StreamState s{conn, opts, monotonic_us(), 0, connection, opts.width, opts.height, nullptr};
	if (opts.handshake_only) {
		if (send_handshake(s))
			connection_wait_until(conn, INT64_MAX);
		return;
	}

	/* Both encoders are ready before the first byte, so that nothing the
	 * receiver waits for comes late. */
	int gop = opts.gop > 0 ? opts.gop : sender_keyframe_seconds * opts.fps;
	VideoEncoder video = video_encoder_open(opts.width, opts.height, opts.fps, gop, opts.crf, opts.codec);
	if (!video.ctx)
		return;
	AudioEncoder audio;
	if (opts.annexb) {
		run_media(s, video, nullptr, gop);
		return;
	}
	if (!opts.no_audio) {
		audio = audio_encoder_open(opts.tone_hz);
		if (!audio.ctx)
			return;
		audio.sync_marks = opts.sync_marks;
	}

	if (!send_handshake(s))
		return;
	DelayLine line(conn);
	if (net_delay_enabled(opts.net)) {
		delay_line_start(line, opts.net);
		s.line = &line;
	}
	if ((opts.no_caps || send_caps(s)) && (opts.no_audio || send_audio_config(s, audio_config_of(audio))))
		run_media(s, video, opts.no_audio ? nullptr : &audio, gop);
	delay_line_stop(line);
}
