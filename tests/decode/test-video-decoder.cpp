/* The video decoder on real libx264 and libx265 streams: what OBS gets for
 * each picture (format, size, planes, colour parameters, timestamp, pixels),
 * the same pictures as the ffmpeg program's decode, what it does with
 * payloads that give no picture, and that it leaves nothing behind. */

#include "decode/video-decoder.h"
#include "log-capture.h"
#include "helpers/media-fixtures.h"
#include "log-lines.h"

#include <gtest/gtest.h>
#include <media-io/video-io.h>
#include <util/bmem.h>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/cpu.h>
#include <libavutil/md5.h>
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
}

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using DecoderPtr = std::unique_ptr<VideoDecoder, decltype(&ostrelin_decoder_destroy)>;

DecoderPtr make_decoder()
{
	return DecoderPtr(ostrelin_decoder_create(), &ostrelin_decoder_destroy);
}

std::vector<media::Bytes> payloads(const std::string &fixture)
{
	return media::access_unit_payloads(media::read_fixture(fixture));
}

bool decode(VideoDecoder *decoder, const media::Bytes &payload, uint64_t timestamp, obs_source_frame *out)
{
	return ostrelin_decoder_decode(decoder, payload.data(), payload.size(), timestamp, out);
}

constexpr uint32_t width = 80;
constexpr uint32_t height = 48;

/* The picture of scripts/make-fixtures.sh: 16x16 luma blocks, see there. */
int expected_y(uint32_t x, uint32_t y, int picture)
{
	return 40 + 10 * static_cast<int>(x / 16 + 5 * (y / 16)) + 3 * picture;
}
int expected_u(uint32_t bx, uint32_t by)
{
	return 60 + 25 * static_cast<int>(bx) + 8 * static_cast<int>(by);
}
int expected_v(uint32_t bx, uint32_t by)
{
	return 200 - 20 * static_cast<int>(bx) - 12 * static_cast<int>(by);
}

/* Reads every sample through data[] and linesize[] as OBS would and returns
 * the first one that differs from the pattern, or "" when all match. */
std::string pattern_mismatch(const obs_source_frame &frame, int picture, uint32_t hsub, uint32_t vsub)
{
	for (uint32_t y = 0; y < height; y++) {
		for (uint32_t x = 0; x < width; x++) {
			int got = frame.data[0][y * frame.linesize[0] + x];
			if (got != expected_y(x, y, picture))
				return "Y(" + std::to_string(x) + "," + std::to_string(y) + ")=" + std::to_string(got);
		}
	}
	for (uint32_t y = 0; y < height / vsub; y++) {
		for (uint32_t x = 0; x < width / hsub; x++) {
			uint32_t bx = x * hsub / 16, by = y * vsub / 16;
			int u = frame.data[1][y * frame.linesize[1] + x];
			int v = frame.data[2][y * frame.linesize[2] + x];
			if (u != expected_u(bx, by) || v != expected_v(bx, by))
				return "UV(" + std::to_string(x) + "," + std::to_string(y) + ")=" + std::to_string(u) +
				       "," + std::to_string(v);
		}
	}
	return "";
}

struct ColourParameters {
	std::array<float, 16> matrix;
	std::array<float, 3> range_min;
	std::array<float, 3> range_max;
};

ColourParameters libobs_parameters(video_colorspace cs, video_range_type range, video_format format)
{
	ColourParameters p{};
	EXPECT_TRUE(video_format_get_parameters_for_format(cs, range, format, p.matrix.data(), p.range_min.data(),
							   p.range_max.data()));
	return p;
}

void expect_colour(const obs_source_frame &frame, video_colorspace cs, video_range_type range, video_format format)
{
	ColourParameters want = libobs_parameters(cs, range, format);
	EXPECT_EQ(0, memcmp(frame.color_matrix, want.matrix.data(), sizeof(frame.color_matrix)));
	EXPECT_EQ(0, memcmp(frame.color_range_min, want.range_min.data(), sizeof(frame.color_range_min)));
	EXPECT_EQ(0, memcmp(frame.color_range_max, want.range_max.data(), sizeof(frame.color_range_max)));
	EXPECT_EQ(range == VIDEO_RANGE_FULL, frame.full_range);
}

/* Members the decoder never sets, and the planes a three-plane format leaves
 * empty in libavcodec's picture. */
void expect_defaults(const obs_source_frame &frame)
{
	EXPECT_FALSE(frame.flip);
	EXPECT_EQ(0, frame.flags);
	EXPECT_EQ(0, frame.trc);
	EXPECT_EQ(0, frame.max_luminance);
	for (size_t i = 3; i < MAX_AV_PLANES; i++) {
		EXPECT_EQ(nullptr, frame.data[i]) << "plane " << i;
		EXPECT_EQ(0u, frame.linesize[i]) << "plane " << i;
	}
}

/* The cores libavcodec sees while it lives; all of them again after. */
struct CoreCount {
	explicit CoreCount(int count) { av_cpu_force_count(count); }
	~CoreCount() { av_cpu_force_count(0); }
};

} // namespace

TEST(VideoDecoder, CreateLogsReadyLineWithCodecAndThreadsUpToTheCores)
{
	struct Row {
		int av_codec_id;
		const char *name;
		int cores;
		int threads;
	};
	const Row rows[] = {{AV_CODEC_ID_H264, "h264", 1, 1},
			    {AV_CODEC_ID_HEVC, "hevc", 2, 2},
			    {AV_CODEC_ID_H264, "h264", 4, 4},
			    {AV_CODEC_ID_HEVC, "hevc", 5, 4},
			    {AV_CODEC_ID_H264, "h264", 64, 4}};
	for (const Row &row : rows) {
		CoreCount cores(row.cores);
		LogCapture log;
		DecoderPtr decoder(decoder_create(row.av_codec_id), &ostrelin_decoder_destroy);
		ASSERT_NE(nullptr, decoder);
		EXPECT_EQ(row.av_codec_id, decoder_codec_id(decoder.get()));
		decoder.reset();

		auto lines = log.plugin_lines();
		ASSERT_EQ(1u, lines.size());
		EXPECT_EQ(LOG_INFO, lines[0].level);
		EXPECT_EQ(plugin_line(LOGTEXT_DECODER_READY, row.name, row.threads), lines[0].text)
			<< row.cores << " cores";
	}
	EXPECT_EQ(AV_CODEC_ID_H264, decoder_codec_id(make_decoder().get()));
}

TEST(VideoDecoder, EachAccessUnitGivesItsOwnPictureAtOnce)
{
	auto units = payloads("yuv420.h264");
	ASSERT_EQ(5u, units.size());
	/* Timestamps the decoder must pass through as they are, extremes included. */
	const uint64_t timestamps[] = {0, 1, 1'700'000'000'033'333'333ull, 0x7fffffffffffffffull, UINT64_MAX};

	DecoderPtr decoder = make_decoder();
	LogCapture log;
	for (size_t n = 0; n < units.size(); n++) {
		SCOPED_TRACE("picture " + std::to_string(n));
		obs_source_frame out = media::sentinel<obs_source_frame>();
		ASSERT_TRUE(decode(decoder.get(), units[n], timestamps[n], &out));

		EXPECT_EQ(VIDEO_FORMAT_I420, out.format);
		EXPECT_EQ(width, out.width);
		EXPECT_EQ(height, out.height);
		EXPECT_EQ(timestamps[n], out.timestamp);
		EXPECT_GE(out.linesize[0], width);
		EXPECT_GE(out.linesize[1], width / 2);
		EXPECT_GE(out.linesize[2], width / 2);
		EXPECT_EQ("", pattern_mismatch(out, static_cast<int>(n), 2, 2));
		/* No colour description in the stream: BT.709, limited range. */
		expect_colour(out, VIDEO_CS_709, VIDEO_RANGE_PARTIAL, VIDEO_FORMAT_I420);
		expect_defaults(out);
	}
	EXPECT_TRUE(log.plugin_lines().empty());
}

TEST(VideoDecoder, ParameterSetsAloneGiveNoPictureButPrimeTheDecoder)
{
	media::Bytes params = media::read_fixture("params-only.h264");
	auto nal_units = media::split_nal_units(params);
	ASSERT_EQ(2u, nal_units.size());
	EXPECT_EQ(7, nal_units[0].type);
	EXPECT_EQ(8, nal_units[1].type);

	/* The first picture's slices without the SPS and PPS in front of them. */
	std::vector<media::NalUnit> slices;
	for (auto &unit : media::split_nal_units(payloads("yuv420.h264").at(0)))
		if (unit.is_slice())
			slices.push_back(unit);
	media::Bytes picture = media::join(slices);

	DecoderPtr decoder = make_decoder();
	LogCapture log;
	obs_source_frame out = media::sentinel<obs_source_frame>();
	const obs_source_frame untouched = out;
	EXPECT_FALSE(decode(decoder.get(), params, 5, &out));
	EXPECT_TRUE(media::same_bytes(untouched, out));
	EXPECT_TRUE(log.lines().empty());

	ASSERT_TRUE(decode(decoder.get(), picture, 6, &out));
	EXPECT_EQ(6u, out.timestamp);
	EXPECT_EQ("", pattern_mismatch(out, 0, 2, 2));
}

/* The cases below are shown by the name of their fixture. */
template<typename Case> requires requires(const Case &c)
{
	c.fixture;
}
void PrintTo(const Case &c, std::ostream *os)
{
	*os << c.fixture;
}

struct ColourCase {
	const char *fixture;
	video_format format;
	uint32_t hsub, vsub;
	video_colorspace cs;
	video_range_type range;
};

class VideoDecoderColour : public testing::TestWithParam<ColourCase> {};

TEST_P(VideoDecoderColour, FormatPlanesAndColourParameters)
{
	const ColourCase &c = GetParam();
	auto units = payloads(c.fixture);
	ASSERT_EQ(2u, units.size());

	DecoderPtr decoder = make_decoder();
	for (size_t n = 0; n < units.size(); n++) {
		SCOPED_TRACE("picture " + std::to_string(n));
		obs_source_frame out = media::sentinel<obs_source_frame>();
		ASSERT_TRUE(decode(decoder.get(), units[n], 1000 + n, &out));
		EXPECT_EQ(c.format, out.format);
		EXPECT_EQ(width, out.width);
		EXPECT_EQ(height, out.height);
		EXPECT_EQ(1000 + n, out.timestamp);
		EXPECT_EQ("", pattern_mismatch(out, static_cast<int>(n), c.hsub, c.vsub));
		expect_colour(out, c.cs, c.range, c.format);
		expect_defaults(out);
	}
}

INSTANTIATE_TEST_SUITE_P(
	Streams, VideoDecoderColour,
	testing::Values(
		/* Full range arrives as YUVJ420P and is still I420. */
		ColourCase{"yuvj420-bt470bg.h264", VIDEO_FORMAT_I420, 2, 2, VIDEO_CS_601, VIDEO_RANGE_FULL},
		ColourCase{"bt470bg.h264", VIDEO_FORMAT_I420, 2, 2, VIDEO_CS_601, VIDEO_RANGE_PARTIAL},
		ColourCase{"bt709.h264", VIDEO_FORMAT_I420, 2, 2, VIDEO_CS_709, VIDEO_RANGE_PARTIAL},
		/* Only BT.470BG counts as 601. */
		ColourCase{"smpte170m.h264", VIDEO_FORMAT_I420, 2, 2, VIDEO_CS_709, VIDEO_RANGE_PARTIAL},
		ColourCase{"yuv422.h264", VIDEO_FORMAT_I422, 2, 1, VIDEO_CS_709, VIDEO_RANGE_PARTIAL},
		ColourCase{"yuv444.h264", VIDEO_FORMAT_I444, 1, 1, VIDEO_CS_709, VIDEO_RANGE_PARTIAL}),
	[](const testing::TestParamInfo<ColourCase> &param_info) {
		std::string name = param_info.param.fixture;
		name = name.substr(0, name.find('.'));
		for (char &ch : name)
			if (ch == '-')
				ch = '_';
		return name;
	});

using media::ffmpeg_sums;
using media::PictureSum;

namespace media {
void PrintTo(const PictureSum &sum, std::ostream *os)
{
	*os << sum.size << " " << sum.md5;
}
} // namespace media

/* An I420 picture's planes packed row after row, as ffmpeg hashes them. */
PictureSum picture_sum(const obs_source_frame &frame)
{
	std::unique_ptr<AVMD5, decltype(&av_free)> md5(av_md5_alloc(), &av_free);
	av_md5_init(md5.get());
	size_t size = 0;
	for (int plane = 0; plane < 3; plane++) {
		uint32_t w = plane ? (frame.width + 1) / 2 : frame.width;
		uint32_t h = plane ? (frame.height + 1) / 2 : frame.height;
		for (uint32_t y = 0; y < h; y++)
			av_md5_update(md5.get(), frame.data[plane] + (size_t)y * frame.linesize[plane], w);
		size += (size_t)w * h;
	}
	uint8_t digest[16];
	av_md5_final(md5.get(), digest);
	char hex[33];
	for (int i = 0; i < 16; i++)
		snprintf(hex + 2 * i, 3, "%02x", digest[i]);
	return {size, hex};
}

struct ReferenceCase {
	const char *fixture;
	int av_codec_id;
	size_t payloads;
	size_t pictures;
};

class VideoDecoderReference : public testing::TestWithParam<ReferenceCase> {};

TEST_P(VideoDecoderReference, SamePicturesAsTheFfmpegProgram)
{
	const ReferenceCase &c = GetParam();
	const std::vector<PictureSum> want = ffmpeg_sums(c.fixture);
	ASSERT_EQ(c.pictures, want.size());
	auto units = media::access_unit_payloads(media::read_fixture(c.fixture), c.av_codec_id == AV_CODEC_ID_HEVC);
	ASSERT_EQ(c.payloads, units.size());

	DecoderPtr decoder(decoder_create(c.av_codec_id), &ostrelin_decoder_destroy);
	ASSERT_NE(nullptr, decoder);
	std::vector<PictureSum> got;
	for (size_t n = 0; n < units.size(); n++) {
		obs_source_frame out;
		if (!decode(decoder.get(), units[n], n, &out))
			continue;
		EXPECT_EQ(VIDEO_FORMAT_I420, out.format);
		EXPECT_EQ(n, out.timestamp) << "one payload in, its own picture out";
		got.push_back(picture_sum(out));
	}
	EXPECT_EQ(want, got);
}

INSTANTIATE_TEST_SUITE_P(Streams, VideoDecoderReference,
			 testing::Values(ReferenceCase{"yuv420.h264", AV_CODEC_ID_H264, 5, 5},
					 ReferenceCase{"yuv420.h265", AV_CODEC_ID_HEVC, 5, 5},
					 /* 80x48, then 48x80 from its own key frame. */
					 ReferenceCase{"size-change.h265", AV_CODEC_ID_HEVC, 6, 6},
					 /* Nothing until the key frame: its parameter sets come with it. */
					 ReferenceCase{"cut-before-key.h265", AV_CODEC_ID_HEVC, 6, 4}),
			 [](const testing::TestParamInfo<ReferenceCase> &param_info) {
				 std::string name = param_info.param.fixture;
				 for (char &ch : name)
					 if (ch == '-' || ch == '.')
						 ch = '_';
				 return name;
			 });

TEST(VideoDecoderColour, ParametersTellTheCasesApart)
{
	/* Guards the cases above: a wrong colour space or range must show. */
	auto bt601 = libobs_parameters(VIDEO_CS_601, VIDEO_RANGE_PARTIAL, VIDEO_FORMAT_I420);
	auto bt709 = libobs_parameters(VIDEO_CS_709, VIDEO_RANGE_PARTIAL, VIDEO_FORMAT_I420);
	auto full = libobs_parameters(VIDEO_CS_709, VIDEO_RANGE_FULL, VIDEO_FORMAT_I420);
	EXPECT_NE(bt601.matrix, bt709.matrix);
	EXPECT_NE(bt709.matrix, full.matrix);
	EXPECT_NE(bt709.range_min, full.range_min);
}

struct UnsupportedCase {
	const char *fixture;
	int pixel_format;
	size_t pictures;
};

class VideoDecoderUnsupported : public testing::TestWithParam<UnsupportedCase> {};

TEST_P(VideoDecoderUnsupported, WarnsForEveryPictureAndOutputsNothing)
{
	const UnsupportedCase &c = GetParam();
	const std::string warning = plugin_line(LOGTEXT_PIXEL_FORMAT_UNSUPPORTED, (int)c.pixel_format);
	DecoderPtr decoder = make_decoder();
	LogCapture log; /* from here on: the decoder's start is logged apart */
	auto units = payloads(c.fixture);
	ASSERT_EQ(c.pictures, units.size());
	for (size_t n = 0; n < units.size(); n++) {
		obs_source_frame out = media::sentinel<obs_source_frame>();
		const obs_source_frame untouched = out;
		EXPECT_FALSE(decode(decoder.get(), units[n], n, &out));
		EXPECT_TRUE(media::same_bytes(untouched, out));
		EXPECT_EQ(n + 1, log.count(LOG_WARNING, warning));
	}
	EXPECT_EQ(units.size(), log.plugin_lines().size());
}

INSTANTIATE_TEST_SUITE_P(Streams, VideoDecoderUnsupported,
			 testing::Values(UnsupportedCase{"yuvj422.h264", 13, 2}, UnsupportedCase{"yuvj444.h264", 14, 2},
					 UnsupportedCase{"yuv420p10.h264", AV_PIX_FMT_YUV420P10LE, 3}),
			 [](const testing::TestParamInfo<UnsupportedCase> &param_info) {
				 return "format_" + std::to_string(param_info.param.pixel_format);
			 });

/* Every row of the format table, whether or not this machine's decoder ever
 * gives that format (hardware decoders give NV12), and formats beside them
 * that OBS would have to convert. */
TEST(VideoDecoder, PixelFormatTableEveryRow)
{
	struct Row {
		AVPixelFormat av;
		bool taken;
		video_format obs;
	};
	const Row rows[] = {
		{AV_PIX_FMT_YUV420P, true, VIDEO_FORMAT_I420},      {AV_PIX_FMT_YUV422P, true, VIDEO_FORMAT_I422},
		{AV_PIX_FMT_YUV444P, true, VIDEO_FORMAT_I444},      {AV_PIX_FMT_YUVJ420P, true, VIDEO_FORMAT_I420},
		{AV_PIX_FMT_NV12, true, VIDEO_FORMAT_NV12},         {AV_PIX_FMT_YUVJ422P, false, VIDEO_FORMAT_NONE},
		{AV_PIX_FMT_YUVJ444P, false, VIDEO_FORMAT_NONE},    {AV_PIX_FMT_NV21, false, VIDEO_FORMAT_NONE},
		{AV_PIX_FMT_YUV420P10LE, false, VIDEO_FORMAT_NONE}, {AV_PIX_FMT_NONE, false, VIDEO_FORMAT_NONE}};
	for (const Row &row : rows) {
		video_format got = VIDEO_FORMAT_NONE;
		EXPECT_EQ(row.taken, decoder_obs_format(row.av, &got)) << "format " << row.av;
		EXPECT_EQ(row.obs, got) << "format " << row.av;
	}
}

TEST(VideoDecoder, GoesOnAcrossStreamsWithoutLoggingAgain)
{
	/* A reconnect feeds a new stream, maybe with new parameter sets, into the
	 * same decoder: after a refused 10-bit stream, 4:2:2, then 4:2:0 again. */
	LogCapture log;
	DecoderPtr decoder = make_decoder();
	obs_source_frame out;
	for (auto &unit : payloads("yuv420p10.h264"))
		EXPECT_FALSE(decode(decoder.get(), unit, 1, &out));

	auto yuv422 = payloads("yuv422.h264");
	ASSERT_TRUE(decode(decoder.get(), yuv422[0], 2, &out));
	EXPECT_EQ(VIDEO_FORMAT_I422, out.format);
	EXPECT_EQ("", pattern_mismatch(out, 0, 2, 1));

	auto yuv420 = payloads("yuv420.h264");
	for (size_t n = 0; n < yuv420.size(); n++) {
		ASSERT_TRUE(decode(decoder.get(), yuv420[n], 3, &out));
		EXPECT_EQ(VIDEO_FORMAT_I420, out.format);
		EXPECT_EQ("", pattern_mismatch(out, static_cast<int>(n), 2, 2));
	}
	EXPECT_EQ(1u, log.count_prefix(plugin_line_head(LOGTEXT_DECODER_READY)));
}

TEST(VideoDecoder, NullDecoderAndEmptyPayloadGiveFalse)
{
	LogCapture log;
	auto units = payloads("yuv420.h264");
	obs_source_frame out = media::sentinel<obs_source_frame>();
	const obs_source_frame untouched = out;

	EXPECT_FALSE(decode(nullptr, units[0], 1, &out));
	ostrelin_decoder_destroy(nullptr);

	DecoderPtr decoder = make_decoder();
	/* An empty packet would start libavcodec's draining and end the stream. */
	EXPECT_FALSE(ostrelin_decoder_decode(decoder.get(), nullptr, 0, 1, &out));
	EXPECT_FALSE(ostrelin_decoder_decode(decoder.get(), units[0].data(), 0, 1, &out));
	EXPECT_TRUE(media::same_bytes(untouched, out));

	ASSERT_TRUE(decode(decoder.get(), units[0], 2, &out));
	EXPECT_EQ("", pattern_mismatch(out, 0, 2, 2));
	EXPECT_EQ(1u, log.plugin_lines().size()); /* the ready line */
}

TEST(VideoDecoder, CreateDecodeDestroyLeavesNoAllocation)
{
	auto units = payloads("yuv420.h264");
	media::Bytes params = media::read_fixture("params-only.h264");
	CoreCount cores(4);
	LogCapture log;
	const long start = bnum_allocs();
	for (int i = 0; i < 200; i++) {
		DecoderPtr decoder = make_decoder();
		ASSERT_NE(nullptr, decoder);
		obs_source_frame out;
		EXPECT_FALSE(decode(decoder.get(), params, 0, &out));
		const long before_decoding = bnum_allocs();
		EXPECT_TRUE(decode(decoder.get(), units[0], 0, &out));
		EXPECT_EQ(before_decoding, bnum_allocs()) << "decoding allocated through libobs";
	}
	EXPECT_EQ(start, bnum_allocs());
	EXPECT_EQ(200u, log.count(LOG_INFO, plugin_line(LOGTEXT_DECODER_READY, "h264", 4)));
}
