#include "protocol/byte-order.h"
#include "protocol/flv-tags.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

Bytes fixture(const char *name)
{
	std::ifstream in(std::string(OSTRELIN_FIXTURES_DIR) + "/" + name, std::ios::binary);
	return Bytes(std::istreambuf_iterator<char>(in), {});
}

/* The NAL units of an Annex B stream, start codes of 3 or 4 bytes dropped. */
std::vector<Bytes> nal_units(const Bytes &annex_b)
{
	std::vector<Bytes> nals;
	size_t i = 0, start = SIZE_MAX;
	while (i + 3 <= annex_b.size()) {
		if (annex_b[i] == 0 && annex_b[i + 1] == 0 && annex_b[i + 2] == 1) {
			if (start != SIZE_MAX)
				nals.emplace_back(annex_b.begin() + (long)start,
						  annex_b.begin() + (long)(i - (i > start && annex_b[i - 1] == 0)));
			start = i += 3;
		} else {
			i++;
		}
	}
	if (start != SIZE_MAX)
		nals.emplace_back(annex_b.begin() + (long)start, annex_b.end());
	return nals;
}

struct Reader {
	std::unique_ptr<FlvReader> r = std::make_unique<FlvReader>();
	Reader() { flv_reader_init(r.get()); }
	FlvResult video(const Bytes &body, uint32_t ts, MediaPacket *out, RtmpError *error)
	{
		return flv_read_video(r.get(), body, ts, out, error);
	}
};

/* HEVCDecoderConfigurationRecord: 21 bytes of profile and the like, length
 * size 4, then 3 arrays (VPS 0x40 01, SPS 0x42 01, PPS 0x44 01) of one each. */
const Bytes hvcc = Bytes(21, 0) + Bytes{0x03, 3, 0x20, 0,    1,    0, 2, 0x40, 0x01, 0x21, 0,   1,
					0,    2, 0x42, 0x01, 0x22, 0, 1, 0,    2,    0x44, 0x01};

} // namespace

/* One reader through the rows in order: each row's config changes what the
 * next rows' key frames start with. */
TEST(FlvTags, VideoTagsToAnnexB)
{
	const Bytes avcc = {
		0x17, 0x00, 0, 0,    0,    /* key, AVC | sequence header | cts 0 */
		0x01, 0x64, 0, 0x1E,       /* version 1, profile, compatibility, level */
		0xFD,                      /* length size 2 */
		0xE1, 0,    3, 0x67, 1, 2, /* 1 SPS of 3 bytes */
		0x01, 0,    2, 0x68, 9,    /* 1 PPS of 2 bytes */
	};
	Bytes avcc_changed = avcc;
	avcc_changed[15] = 3; /* another SPS: a new size, say */
	const Bytes sps_pps = {0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 9};
	const Bytes vps_sps_pps = {0, 0, 0, 1, 0x40, 1, 0, 0, 0, 1, 0x42, 1, 0, 0, 0, 1, 0x44, 1};
	const Bytes slice = {0, 0, 0, 2, 0x26, 0x01};
	struct Row {
		const char *what;
		Bytes body;
		FlvResult result;
		RtmpError error;
		Bytes annex_b;
		int cts_ms;
	};
	const Row rows[] = {
		{"avcC", avcc, FlvResult::packet, RtmpError::none, sps_pps, 0},
		{"the same avcC again", avcc, FlvResult::nothing, RtmpError::none, {}, 0},
		{"AVC key frame, cts -40",
		 {0x17, 1, 0xFF, 0xFF, 0xD8, 0, 2, 0x65, 0xAA, 0, 1, 0x65},
		 FlvResult::packet,
		 RtmpError::none,
		 sps_pps + Bytes{0, 0, 0, 1, 0x65, 0xAA, 0, 0, 0, 1, 0x65},
		 -40},
		{"AVC inter frame",
		 {0x27, 1, 0, 0, 0, 0, 1, 0x41},
		 FlvResult::packet,
		 RtmpError::none,
		 {0, 0, 0, 1, 0x41},
		 0},
		{"NAL unit past the end",
		 {0x27, 1, 0, 0, 0, 0, 2, 0x41},
		 FlvResult::error,
		 RtmpError::malformed_video,
		 {},
		 0},
		{"a changed avcC",
		 avcc_changed,
		 FlvResult::packet,
		 RtmpError::none,
		 {0, 0, 0, 1, 0x67, 1, 3, 0, 0, 0, 1, 0x68, 9},
		 0},
		{"hvc1 sequence start", Bytes{0x90, 'h', 'v', 'c', '1'} + hvcc, FlvResult::packet, RtmpError::none,
		 vps_sps_pps, 0},
		{"hvc1 coded frames, cts", Bytes{0x91, 'h', 'v', 'c', '1', 0, 0, 40} + slice, FlvResult::packet,
		 RtmpError::none, vps_sps_pps + Bytes{0, 0, 0, 1, 0x26, 1}, 40},
		{"hvc1 coded frames X",
		 Bytes{0xA3, 'h', 'v', 'c', '1'} + slice,
		 FlvResult::packet,
		 RtmpError::none,
		 {0, 0, 0, 1, 0x26, 1},
		 0},
		{"hvc1 sequence end", {0x92, 'h', 'v', 'c', '1'}, FlvResult::nothing, RtmpError::none, {}, 0},
		{"hvc1 record cut short",
		 Bytes{0x90, 'h', 'v', 'c', '1'} + Bytes(hvcc.begin(), hvcc.end() - 1),
		 FlvResult::error,
		 RtmpError::malformed_video,
		 {},
		 0},
		{"av01", {0x91, 'a', 'v', '0', '1', 0, 0, 0}, FlvResult::error, RtmpError::unsupported_video, {}, 0},
		{"legacy Sorenson", {0x12, 0}, FlvResult::error, RtmpError::unsupported_video, {}, 0},
	};
	Reader flv;
	for (const Row &row : rows) {
		MediaPacket p{};
		RtmpError error = RtmpError::none;
		EXPECT_EQ(flv.video(row.body, 2000, &p, &error), row.result) << row.what;
		EXPECT_EQ(error, row.error) << row.what;
		if (row.result == FlvResult::packet) {
			EXPECT_EQ(Bytes(p.data, p.data + p.size), row.annex_b) << row.what;
			EXPECT_EQ(p.pts_us - p.dts_us, row.cts_ms * 1000) << row.what;
		}
	}
}

TEST(FlvTags, AacConfigRatesAndChannels)
{
	struct Row {
		const char *what;
		Bytes asc;
		bool ok;
		uint32_t rate;
		uint8_t channels;
	};
	const Row rows[] = {
		{"LC 44.1 kHz stereo", {0x12, 0x10}, true, 44100, 2},
		{"LC 24 kHz mono", {0x13, 0x08}, true, 24000, 1},
		{"explicit 44,100 Hz stereo", {0x17, 0x80, 0x56, 0x22, 0x10}, true, 44100, 2},
		{"explicit 1 Hz, mono", {0x17, 0x80, 0x00, 0x00, 0x88}, true, 1, 1},
		{"explicit frequency cut short", {0x17, 0x80, 0x56}, false, 0, 0},
		{"escaped object type, 48 kHz", {0xF8, 0x26, 0x40}, true, 48000, 2},
		{"7.1 (configuration 7)", {0x11, 0xB8}, true, 48000, 8},
		{"reserved rate index 13", {0x16, 0x88}, false, 0, 0},
		{"reserved channel configuration 8", {0x11, 0xC0}, false, 0, 0},
		{"one byte", {0x12}, false, 0, 0},
		{"64 bytes", Bytes{0x12, 0x10} + Bytes(62, 0), true, 44100, 2},
		{"65 bytes", Bytes{0x12, 0x10} + Bytes(63, 0), false, 0, 0},
		{"the AAC fixture's (with SBR extension)", fixture("aac-stereo.asc"), true, 48000, 2},
	};
	for (const Row &row : rows) {
		AudioConfig config{};
		ASSERT_EQ(aac_config_parse(row.asc, &config), row.ok) << row.what;
		if (!row.ok)
			continue;
		EXPECT_EQ(config.sample_rate, row.rate) << row.what;
		EXPECT_EQ(config.channels, row.channels) << row.what;
	}
}

TEST(FlvTags, TimestampsUnwrapAndStayBounded)
{
	TimestampUnwrap u{};
	EXPECT_EQ(timestamp_unwrap(&u, 0xFFFFFF00u), 0xFFFFFF00ll);
	EXPECT_EQ(timestamp_unwrap(&u, 0x10), 0x100000010ll);       /* across the wrap */
	EXPECT_EQ(timestamp_unwrap(&u, 0xFFFFFFF0u), 0xFFFFFFF0ll); /* a step back */
	for (int i = 0; i < 1000000; i++)
		timestamp_unwrap(&u, (uint32_t)i * 0x7FFFFFFFu);
	EXPECT_LE(timestamp_unwrap(&u, 0x7FFFFFFE), (int64_t)1 << 50);
}

TEST(FlvTags, FfmpegsFlvGivesTheFixturesParameterSetsAndPictures)
{
	Bytes flv = fixture("yuv420.flv");
	ASSERT_GT(flv.size(), 13u);
	Reader reader;
	Bytes params, pictures;
	/* FLV: a 9-byte header and a u32; then tags: type u8 | size u24 |
	 * timestamp u24 + u8 | stream u24 | body | previous size u32 */
	for (size_t at = 13; at + 11 <= flv.size();) {
		size_t size = read_be24(&flv[at + 1]);
		ASSERT_LE(at + 11 + size, flv.size());
		Bytes body(flv.begin() + (long)at + 11, flv.begin() + (long)(at + 11 + size));
		MediaPacket p{};
		RtmpError error = RtmpError::none;
		if (flv[at] == 9 && reader.video(body, read_be24(&flv[at + 4]), &p, &error) == FlvResult::packet) {
			Bytes &to = p.config ? params : pictures;
			to.insert(to.end(), p.data, p.data + p.size);
		}
		EXPECT_EQ(error, RtmpError::none);
		at += 11 + size + 4;
	}
	EXPECT_EQ(params, fixture("params-only.h264"));
	/* The first key frame carries the parameter sets twice: put in front, and
	 * in the fixture's own access unit. */
	std::vector<Bytes> expected = nal_units(fixture("params-only.h264"));
	for (const Bytes &nal : nal_units(fixture("yuv420.h264")))
		expected.push_back(nal);
	EXPECT_EQ(nal_units(pictures), expected);
}
