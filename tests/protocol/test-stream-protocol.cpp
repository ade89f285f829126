#include "protocol/camera-controls.h"
#include "helpers/caps-fields.h"
#include "protocol/stream-protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<uint8_t> caps_payload(uint8_t awb_count, size_t size)
{
	std::vector<uint8_t> p(size, 0);
	if (size >= CAPS_FIXED_SIZE)
		p[CAPS_FIXED_SIZE - 1] = awb_count;
	for (size_t i = CAPS_FIXED_SIZE; i + 4 <= size; i += 4)
		p[i] = (uint8_t)((i - CAPS_FIXED_SIZE) / 4 + 1); /* mode k = k+1 */
	return p;
}

} // namespace

TEST(Handshake, ParsesFieldsLittleEndian)
{
	const uint8_t bytes[HANDSHAKE_SIZE] = {
		'N',  'R',  'I', 'X', /* magic */
		3,                    /* version */
		1,                    /* codec */
		0x80, 0x07,           /* width 1920 */
		0x38, 0x04,           /* height 1080 */
		30,                   /* fps */
		0xEE,                 /* reserved: any value */
	};
	Handshake hs = handshake_parse(bytes);
	EXPECT_EQ(hs.width, 1920);
	EXPECT_EQ(hs.height, 1080);
	EXPECT_EQ(hs.fps, 30);
	EXPECT_EQ(handshake_check(hs, false), HandshakeVerdict::accepted);

	uint8_t round_trip[HANDSHAKE_SIZE];
	handshake_write(hs, round_trip);
	EXPECT_EQ(memcmp(bytes, round_trip, sizeof(bytes)), 0);
}

TEST(Handshake, CodecNamesAsTheStatusShowsThem)
{
	const std::pair<uint8_t, std::string> rows[] = {{0, "?"},
							{STREAM_CODEC_H264, "H.264"},
							{STREAM_CODEC_H265, "H.265"},
							{3, "?"}};
	for (const auto &[codec, name] : rows)
		EXPECT_EQ(stream_codec_name(codec), name) << "codec " << (int)codec;
}

TEST(Handshake, MadeAsAPhoneSendsIt)
{
	Handshake hs = handshake_make(1920, 1080, 30);
	EXPECT_EQ(memcmp(hs.magic, "NRIX", 4), 0);
	EXPECT_EQ(handshake_check(hs, false), HandshakeVerdict::accepted); /* version 3, codec H.264 */
	EXPECT_EQ((std::vector<int>{hs.width, hs.height, hs.fps, hs.reserved}), (std::vector<int>{1920, 1080, 30, 0}));
}

TEST(Handshake, ChecksRunInOrderMagicVersionCodec)
{
	const uint8_t good[HANDSHAKE_SIZE] = {'N', 'R', 'I', 'X', 3, 1, 0, 0, 0, 0, 0, 0};
	Handshake hs = handshake_parse(good);

	Handshake lower = hs;
	lower.magic[3] = 'x'; /* no case folding */
	lower.version = 2;
	EXPECT_EQ(handshake_check(lower, true), HandshakeVerdict::wrong_magic);

	Handshake version2 = hs;
	version2.version = 2;
	version2.codec = 9; /* the codec check is not reached */
	EXPECT_EQ(handshake_check(version2, true), HandshakeVerdict::wrong_version);
	Handshake version4 = hs;
	version4.version = 4; /* a newer protocol is not this one either */
	EXPECT_EQ(handshake_check(version4, true), HandshakeVerdict::wrong_version);

	/* Each codec with and without an HEVC decoder in the build; the magic
	 * and the version still decide before it. */
	struct Row {
		uint8_t codec;
		bool h265_decodable;
		HandshakeVerdict verdict;
	};
	const Row rows[] = {
		{0, true, HandshakeVerdict::wrong_codec},
		{STREAM_CODEC_H264, true, HandshakeVerdict::accepted},
		{STREAM_CODEC_H265, true, HandshakeVerdict::accepted},
		{3, true, HandshakeVerdict::wrong_codec},
		{0, false, HandshakeVerdict::wrong_codec},
		{STREAM_CODEC_H264, false, HandshakeVerdict::accepted},
		{STREAM_CODEC_H265, false, HandshakeVerdict::wrong_codec},
		{3, false, HandshakeVerdict::wrong_codec},
	};
	for (const Row &row : rows) {
		SCOPED_TRACE("codec " + std::to_string(row.codec) + (row.h265_decodable ? ", HEVC decoder" : ""));
		Handshake codec = hs;
		codec.codec = row.codec;
		EXPECT_EQ(handshake_check(codec, row.h265_decodable), row.verdict);
		codec.version = 2;
		EXPECT_EQ(handshake_check(codec, row.h265_decodable), HandshakeVerdict::wrong_version);
		codec.magic[0] = 'n';
		EXPECT_EQ(handshake_check(codec, row.h265_decodable), HandshakeVerdict::wrong_magic);
	}
}

TEST(PacketHeader, LengthComesBeforeTimestamp)
{
	const uint8_t bytes[PACKET_HEADER_SIZE] = {
		0x08,                                           /* flags */
		0x00, 0x00, 0x80, 0x00,                         /* length 0x800000 */
		0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, /* timestamp */
	};
	PacketHeader h = packet_header_parse(bytes);
	EXPECT_EQ(h.flags, 0x08);
	EXPECT_EQ(h.length, 0x800000u);
	EXPECT_EQ(h.timestamp, 0x0102030405060708ull);

	uint8_t round_trip[PACKET_HEADER_SIZE];
	packet_header_write(h, round_trip);
	EXPECT_EQ(memcmp(bytes, round_trip, sizeof(bytes)), 0);
}

TEST(PacketKind, FlagsAreTestedInOrder)
{
	EXPECT_EQ(packet_kind(0x04), PacketKind::capabilities);
	EXPECT_EQ(packet_kind(0x0C), PacketKind::capabilities);
	EXPECT_EQ(packet_kind(0xFF), PacketKind::capabilities);
	EXPECT_EQ(packet_kind(0x09), PacketKind::audio_config);
	EXPECT_EQ(packet_kind(0x08), PacketKind::audio_data);
	EXPECT_EQ(packet_kind(0xFA), PacketKind::audio_data); /* 0x08 set, 0x04 and 0x01 clear */
	EXPECT_EQ(packet_kind(0x00), PacketKind::video);
	EXPECT_EQ(packet_kind(0x01), PacketKind::video);
	EXPECT_EQ(packet_kind(0x02), PacketKind::video);
	EXPECT_EQ(packet_kind(0xF3), PacketKind::video);
}

TEST(CameraCaps, ParsesEveryField)
{
	const uint8_t payload[] = {
		0x0F,                   /* flags */
		0xE8, 0x03, 0x00, 0x00, /* zoom_min 1000 */
		0x40, 0x1F, 0x00, 0x00, /* zoom_max 8000 */
		0xF4, 0xFF, 0xFF, 0xFF, /* ev_min -12 */
		0x0C, 0x00, 0x00, 0x00, /* ev_max 12 */
		0x15, 0x16, 0x05, 0x00, /* ev_step 333333 */
		0x03,                   /* awb_count */
		0x01, 0x00, 0x00, 0x00, /* auto */
		0x05, 0x00, 0x00, 0x00, /* daylight */
		0x2A, 0x00, 0x00, 0x00, /* 42 */
		0xAA, 0xBB,             /* trailing bytes are ignored */
	};
	CameraCaps caps = {};
	ASSERT_TRUE(camera_caps_parse(payload, &caps));
	EXPECT_EQ(caps.valid, 1);
	/* flags, zoom 1000..8000, ev -12..12 step 333333, modes auto, daylight, 42 */
	EXPECT_EQ(caps_fields(caps), (std::vector<int32_t>{0x0F, 1000, 8000, -12, 12, 333333, 3, 1, 5, 42}));
	EXPECT_EQ(caps.awb_modes[3], 0);

	uint8_t written[CAPS_FIXED_SIZE + 4 * 3];
	ASSERT_EQ(camera_caps_write(caps, written), sizeof(written));
	EXPECT_EQ(memcmp(written, payload, sizeof(written)), 0);
}

TEST(CameraCaps, LengthRules)
{
	CameraCaps caps = {};
	CameraCaps untouched = caps;

	/* Exactly the fixed part with no modes: an empty list. */
	auto empty = caps_payload(0, CAPS_FIXED_SIZE);
	ASSERT_TRUE(camera_caps_parse(empty, &caps));
	EXPECT_EQ(caps.awb_count, 0);

	/* One byte less: too short for the fixed part. */
	caps = untouched;
	auto short_fixed = caps_payload(0, CAPS_FIXED_SIZE - 1);
	EXPECT_FALSE(camera_caps_parse(short_fixed, &caps));
	EXPECT_EQ(memcmp(&caps, &untouched, sizeof(caps)), 0);

	/* Three modes need 12 bytes more; one byte less is short. */
	auto short_modes = caps_payload(3, CAPS_FIXED_SIZE + 11);
	EXPECT_FALSE(camera_caps_parse(short_modes, &caps));
	auto exact_modes = caps_payload(3, CAPS_FIXED_SIZE + 12);
	EXPECT_TRUE(camera_caps_parse(exact_modes, &caps));

	/* Twenty modes announced, 16 of them present: only those are needed and kept. */
	auto many = caps_payload(20, CAPS_FIXED_SIZE + 4 * 16);
	ASSERT_TRUE(camera_caps_parse(many, &caps));
	EXPECT_EQ(caps.awb_count, 16);
	EXPECT_EQ(caps.awb_modes[15], 16);
}

/* Every field counts, and the modes up to awb_count: what lies past them is
 * no part of the record. */
TEST(CameraCaps, Equality)
{
	auto parsed = caps_payload(3, CAPS_FIXED_SIZE + 12);
	CameraCaps a = {};
	ASSERT_TRUE(camera_caps_parse(parsed, &a));
	CameraCaps b = a;
	b.awb_modes[5] = 9;
	EXPECT_TRUE(camera_caps_equal(a, b));

	int32_t CameraCaps::*fields[] = {&CameraCaps::zoom_min, &CameraCaps::zoom_max, &CameraCaps::ev_min,
					 &CameraCaps::ev_max,   &CameraCaps::ev_step,  &CameraCaps::awb_count};
	for (int32_t CameraCaps::*field : fields) {
		b = a;
		b.*field += 1;
		EXPECT_FALSE(camera_caps_equal(a, b));
	}
	b = a;
	b.flags ^= CAPS_TORCH;
	EXPECT_FALSE(camera_caps_equal(a, b));
	b = a;
	b.valid = 0;
	EXPECT_FALSE(camera_caps_equal(a, b));
	b = a;
	b.awb_modes[2] = 7;
	EXPECT_FALSE(camera_caps_equal(a, b));
}

TEST(AudioConfig, ParsesAndZeroFillsTheRest)
{
	const uint8_t payload[] = {
		0x80, 0xBB, 0x00, 0x00, /* 48000 Hz */
		0x02,                   /* channels */
		0x02,                   /* asc_len */
		0x11, 0x90,             /* AAC-LC, 48 kHz, stereo */
		0x77,                   /* ignored */
	};
	AudioConfig config;
	memset(&config, 0xCC, sizeof(config));
	ASSERT_TRUE(audio_config_parse(payload, &config));
	EXPECT_EQ(config.valid, 1);
	EXPECT_EQ(config.sample_rate, 48000u);
	EXPECT_EQ(config.channels, 2);
	ASSERT_EQ(config.asc_len, 2);
	EXPECT_EQ(config.asc[0], 0x11);
	EXPECT_EQ(config.asc[1], 0x90);
	for (int i = 2; i < AUDIO_CONFIG_MAX_ASC; i++)
		ASSERT_EQ(config.asc[i], 0) << "asc byte " << i;

	/* Two parses of the same bytes compare equal as whole records. */
	AudioConfig again;
	memset(&again, 0x55, sizeof(again));
	ASSERT_TRUE(audio_config_parse(payload, &again));
	EXPECT_TRUE(audio_config_equal(config, again));

	/* One byte of the ASC differs: a different record. */
	uint8_t changed[sizeof(payload)];
	memcpy(changed, payload, sizeof(payload));
	changed[7] = 0x88;
	ASSERT_TRUE(audio_config_parse(changed, &again));
	EXPECT_FALSE(audio_config_equal(config, again));
}

TEST(AudioConfig, LengthRules)
{
	AudioConfig config = {};
	std::vector<uint8_t> p(70, 0);
	p[5] = 64; /* asc_len 64 in 70 bytes: accepted */
	EXPECT_TRUE(audio_config_parse(p, &config));
	EXPECT_EQ(config.asc_len, 64);

	p[5] = 65; /* more than 64: refused whatever the length */
	p.resize(200);
	EXPECT_FALSE(audio_config_parse(p, &config));

	std::vector<uint8_t> no_asc(6, 0); /* asc_len 0, 6 bytes: accepted */
	EXPECT_TRUE(audio_config_parse(no_asc, &config));
	EXPECT_EQ(config.asc_len, 0);

	std::vector<uint8_t> five(5, 0);
	EXPECT_FALSE(audio_config_parse(five, &config));

	std::vector<uint8_t> short_asc(9, 0);
	short_asc[5] = 4; /* needs 10 bytes */
	EXPECT_FALSE(audio_config_parse(short_asc, &config));
}

TEST(ControlMessage, Bytes)
{
	uint8_t out[CONTROL_MESSAGE_SIZE];
	control_message_write({CONTROL_TORCH, 1}, out);
	EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{0x03, 0x01, 0x00, 0x00, 0x00}));
	control_message_write({CONTROL_AE_LOCK, 0}, out);
	EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{0x05, 0x00, 0x00, 0x00, 0x00}));
	control_message_write({CONTROL_EV, -3}, out);
	EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{0x02, 0xFD, 0xFF, 0xFF, 0xFF}));

	ControlMessage msg = control_message_parse(out);
	EXPECT_EQ(msg.command, CONTROL_EV);
	EXPECT_EQ(msg.value, -3);
}

TEST(ControlMessage, ZoomIsTruncatedTowardZero)
{
	EXPECT_EQ(control_zoom_value(1.0), 1000);
	EXPECT_EQ(control_zoom_value(1.9999), 1999);
	EXPECT_EQ(control_zoom_value(2.5), 2500);
	EXPECT_EQ(control_zoom_value(-1.0005), -1000);
	/* Out of range or not a number: held, never undefined. */
	EXPECT_EQ(control_zoom_value(1e12), INT32_MAX);
	EXPECT_EQ(control_zoom_value(-1e12), INT32_MIN);
	EXPECT_EQ(control_zoom_value(std::nan("")), 0);
}

TEST(AudioConfig, OnlyAacSampleRatesAreValid)
{
	struct Row {
		uint32_t rate;
		bool valid;
	};
	/* Every rate of the table, and its neighbours. */
	const Row rows[] = {{0, false},         {7349, false}, {7350, true},   {7351, false},  {8000, true},
			    {11025, true},      {12000, true}, {16000, true},  {22050, true},  {22051, false},
			    {24000, true},      {32000, true}, {44100, true},  {44101, false}, {48000, true},
			    {64000, true},      {88200, true}, {95999, false}, {96000, true},  {96001, false},
			    {UINT32_MAX, false}};
	for (const Row &row : rows) {
		AudioConfig config = {};
		config.sample_rate = row.rate;
		EXPECT_EQ(audio_config_rate_valid(config), row.valid) << row.rate;
	}
}

/* Each control goes out only when announced, all of them in the order
 * zoom, ev, torch, AE lock, white balance. */
TEST(CameraControls, AnnouncedControlsGoOutInTableOrder)
{
	struct Row {
		uint8_t flags;
		int32_t awb_count;
		uint8_t command;
	};
	const Row rows[] = {{CAPS_ZOOM, 0, CONTROL_ZOOM},
			    {CAPS_EV, 0, CONTROL_EV},
			    {CAPS_TORCH, 0, CONTROL_TORCH},
			    {CAPS_AE_LOCK, 0, CONTROL_AE_LOCK},
			    {0, 1, CONTROL_AWB}};
	ASSERT_EQ(std::size(rows), (size_t)CAMERA_CONTROL_COUNT);
	ControlValues values = {{2500, -3, 1, 0, 5}};
	uint8_t out[CAMERA_CONTROLS_WIRE_SIZE];

	CameraCaps all = {};
	all.valid = 1;
	for (size_t i = 0; i < std::size(rows); i++) {
		CameraCaps caps = {};
		caps.valid = 1;
		caps.flags = rows[i].flags;
		caps.awb_count = rows[i].awb_count;
		ASSERT_EQ(camera_controls_write(values, caps, out), (size_t)CONTROL_MESSAGE_SIZE) << i;
		EXPECT_EQ(control_message_parse(out).command, rows[i].command) << i;
		EXPECT_EQ(control_message_parse(out).value, values.value[i]) << i;
		all.flags |= rows[i].flags;
		all.awb_count += rows[i].awb_count;
	}

	ASSERT_EQ(camera_controls_write(values, all, out), sizeof(out));
	for (size_t i = 0; i < std::size(rows); i++)
		EXPECT_EQ(control_message_parse(out + i * CONTROL_MESSAGE_SIZE).command, rows[i].command) << i;

	all.valid = 0; /* nothing announced yet */
	EXPECT_EQ(camera_controls_write(values, all, out), 0u);
}
