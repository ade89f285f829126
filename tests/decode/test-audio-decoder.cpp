/* The AAC decoder on real access units of FFmpeg's encoder: its creation from
 * an AudioConfig, the audio block OBS gets (planes, speakers, rate, samples
 * of known tones) and that it leaves nothing behind. */

#include "decode/audio-decoder.h"
#include "log-capture.h"
#include "helpers/media-fixtures.h"
#include "log-lines.h"
#include "protocol/stream-protocol.h"

#include <gtest/gtest.h>
#include <util/bmem.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

#include <malloc.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

using AudioDecoderPtr = std::unique_ptr<AudioDecoder, decltype(&ostrelin_audio_decoder_destroy)>;

AudioDecoderPtr make_decoder(const AudioConfig &config)
{
	return AudioDecoderPtr(ostrelin_audio_decoder_create(&config), &ostrelin_audio_decoder_destroy);
}

AudioConfig make_config(uint32_t sample_rate, uint8_t channels, const media::Bytes &asc)
{
	AudioConfig config;
	memset(&config, 0, sizeof(config));
	config.valid = 1;
	config.sample_rate = sample_rate;
	config.channels = channels;
	config.asc_len = static_cast<uint8_t>(asc.size());
	if (!asc.empty())
		memcpy(config.asc, asc.data(), asc.size());
	return config;
}

bool decode(AudioDecoder *decoder, const media::Bytes &unit, uint64_t timestamp, obs_source_audio *out)
{
	return ostrelin_audio_decoder_decode(decoder, unit.data(), unit.size(), timestamp, out);
}

/* Amplitude of the sine at `frequency` in one plane of samples. */
double tone_amplitude(const float *samples, uint32_t count, double frequency, double sample_rate = 48000)
{
	double re = 0, im = 0;
	for (uint32_t i = 0; i < count; i++) {
		double phase = 2 * std::numbers::pi * frequency * i / sample_rate;
		re += samples[i] * std::cos(phase);
		im -= samples[i] * std::sin(phase);
	}
	return 2 * std::hypot(re, im) / count;
}

struct Stream {
	const char *prefix;
	uint32_t sample_rate;
	size_t blocks;
	uint8_t channels;
	speaker_layout speakers;
	std::vector<double> frequencies; /* one per plane, in libavcodec's order */
};

void PrintTo(const Stream &s, std::ostream *os)
{
	*os << s.prefix;
}

const Stream mono{"aac-mono", 44100, 12, 1, SPEAKERS_MONO, {1000}};
const Stream stereo{"aac-stereo", 48000, 13, 2, SPEAKERS_STEREO, {1000, 2000}};
/* FL FR FC LFE BL BR; more than two channels are announced as stereo. */
const Stream surround{"aac-51", 48000, 13, 6, SPEAKERS_STEREO, {1000, 2000, 1500, 100, 3000, 2500}};

/* The fixtures hold 0.25 s of tone after the encoder's 1024 priming samples;
 * these blocks lie wholly inside the tone. */
constexpr size_t first_tone_block = 2;
constexpr size_t last_tone_block = 10;

} // namespace

class AudioDecoderStreams : public testing::TestWithParam<Stream> {};

TEST_P(AudioDecoderStreams, BlocksCarryEachChannelInItsOwnPlane)
{
	const Stream &s = GetParam();
	auto units = media::read_aac_access_units(s.prefix);
	media::Bytes asc = media::read_fixture(std::string(s.prefix) + ".asc");
	ASSERT_EQ(s.blocks, units.size());
	ASSERT_EQ(5u, asc.size());

	LogCapture log;
	AudioDecoderPtr decoder = make_decoder(make_config(s.sample_rate, s.channels, asc));
	ASSERT_NE(nullptr, decoder);
	ASSERT_EQ(1u, log.plugin_lines().size());
	EXPECT_EQ(LOG_INFO, log.plugin_lines()[0].level);
	EXPECT_EQ(plugin_line(LOGTEXT_AUDIO_DECODER_READY, (unsigned)s.sample_rate, (unsigned)s.channels),
		  log.plugin_lines()[0].text);

	for (size_t n = 0; n < units.size(); n++) {
		SCOPED_TRACE("block " + std::to_string(n));
		const uint64_t timestamp = UINT64_MAX - n * 21'333'333;
		obs_source_audio out = media::sentinel<obs_source_audio>();
		ASSERT_TRUE(decode(decoder.get(), units[n], timestamp, &out));
		EXPECT_EQ(1024u, out.frames);
		EXPECT_EQ(s.speakers, out.speakers);
		EXPECT_EQ(AUDIO_FORMAT_FLOAT_PLANAR, out.format);
		EXPECT_EQ(s.sample_rate, out.samples_per_sec);
		EXPECT_EQ(timestamp, out.timestamp);
		for (size_t i = 0; i < MAX_AV_PLANES; i++)
			EXPECT_EQ(i < s.channels, out.data[i] != nullptr) << "plane " << i;
		/* Cut as a lowering cuts: each plane keeps the block's own last samples. */
		obs_source_audio cut = out;
		audio_decoder_cut_front(&cut, 1000);
		ASSERT_EQ(24u, cut.frames);
		for (size_t i = 0; i < MAX_AV_PLANES; i++) {
			if (i >= s.channels)
				EXPECT_EQ(nullptr, cut.data[i]) << "plane " << i;
			else
				EXPECT_EQ(0, memcmp(cut.data[i], reinterpret_cast<const float *>(out.data[i]) + 1000,
						    24 * sizeof(float)))
					<< "plane " << i;
		}

		if (n < first_tone_block || n > last_tone_block)
			continue;
		for (size_t c = 0; c < s.channels; c++) {
			auto *samples = reinterpret_cast<const float *>(out.data[c]);
			for (double frequency : s.frequencies) {
				double amplitude = tone_amplitude(samples, out.frames, frequency, s.sample_rate);
				if (frequency == s.frequencies[c])
					EXPECT_NEAR(0.125, amplitude, 0.04) << "plane " << c << " at " << frequency;
				else
					EXPECT_LT(amplitude, 0.02) << "plane " << c << " at " << frequency;
			}
		}
	}
	EXPECT_EQ(1u, log.plugin_lines().size());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AudioDecoderStreams, testing::Values(mono, stereo, surround),
			 [](const testing::TestParamInfo<Stream> &param_info) {
				 return "channels_" + std::to_string(param_info.param.channels);
			 });

TEST(AudioDecoder, UnusableConfigGivesNullWithoutLogOrAllocation)
{
	const AudioConfig stereo = make_config(48000, 2, media::read_fixture("aac-stereo.asc"));
	AudioConfig never_filled = stereo, asc_too_long = stereo;
	never_filled.valid = 0;
	asc_too_long.asc_len = AUDIO_CONFIG_MAX_ASC + 1;
	const AudioConfig *refused[] = {nullptr, &never_filled, &asc_too_long};
	for (const AudioConfig *config : refused) {
		LogCapture log;
		const long start = bnum_allocs();
		EXPECT_EQ(nullptr, ostrelin_audio_decoder_create(config));
		EXPECT_EQ(start, bnum_allocs());
		EXPECT_TRUE(log.lines().empty());
	}
	/* The same record, filled: a decoder. */
	EXPECT_NE(nullptr, make_decoder(stereo));
}

TEST(AudioDecoder, TwoByteAscDecodesTheSameSamples)
{
	/* The encoder's ASC ends in an SBR sync extension; the first two bytes
	 * alone are the plain AAC-LC configuration a phone sends. */
	media::Bytes asc = media::read_fixture("aac-stereo.asc");
	auto units = media::read_aac_access_units("aac-stereo");
	ASSERT_EQ(5u, asc.size());
	AudioDecoderPtr full = make_decoder(make_config(48000, 2, asc));
	AudioDecoderPtr two_bytes = make_decoder(make_config(48000, 2, {asc[0], asc[1]}));
	ASSERT_NE(nullptr, full);
	ASSERT_NE(nullptr, two_bytes);

	/* The extradata libavcodec gets: the ASC, then the padding it may read,
	 * allocated and zeroed (fresh memory is not zero while M_PERTURB is set). */
	mallopt(M_PERTURB, 0xA5);
	for (const AudioConfig &config : {make_config(48000, 2, asc), make_config(48000, 2, {asc[0], asc[1]})}) {
		const size_t size = config.asc_len + AV_INPUT_BUFFER_PADDING_SIZE;
		std::unique_ptr<uint8_t, decltype(&av_free)> extradata(
			audio_decoder_extradata(config.asc, config.asc_len), &av_free);
		ASSERT_NE(nullptr, extradata);
		ASSERT_GE(malloc_usable_size(extradata.get()), size);
		EXPECT_EQ(media::Bytes(config.asc, config.asc + config.asc_len),
			  media::Bytes(extradata.get(), extradata.get() + config.asc_len));
		EXPECT_EQ(media::Bytes(AV_INPUT_BUFFER_PADDING_SIZE, 0),
			  media::Bytes(extradata.get() + config.asc_len, extradata.get() + size));
	}
	mallopt(M_PERTURB, 0);

	for (size_t n = 0; n < units.size(); n++) {
		obs_source_audio a, b;
		ASSERT_TRUE(decode(full.get(), units[n], n, &a));
		ASSERT_TRUE(decode(two_bytes.get(), units[n], n, &b));
		ASSERT_EQ(a.frames, b.frames);
		EXPECT_EQ(a.samples_per_sec, b.samples_per_sec);
		for (int c = 0; c < 2; c++)
			EXPECT_EQ(0, memcmp(a.data[c], b.data[c], a.frames * sizeof(float))) << "block " << n;
	}
}

TEST(AudioDecoder, NoAscOpensFromRateAndChannels)
{
	auto units = media::read_aac_access_units("aac-stereo");
	LogCapture log;
	AudioDecoderPtr decoder = make_decoder(make_config(48000, 2, {}));
	ASSERT_NE(nullptr, decoder);
	EXPECT_TRUE(log.contains(LOG_INFO, plugin_line(LOGTEXT_AUDIO_DECODER_READY, 48000u, 2u)));

	obs_source_audio out;
	for (size_t n = 0; n <= first_tone_block; n++)
		ASSERT_TRUE(decode(decoder.get(), units[n], n, &out));
	EXPECT_EQ(SPEAKERS_STEREO, out.speakers);
	EXPECT_EQ(48000u, out.samples_per_sec);
	ASSERT_NE(nullptr, out.data[1]);
	EXPECT_NEAR(0.125, tone_amplitude(reinterpret_cast<const float *>(out.data[1]), out.frames, 2000), 0.04);
}

TEST(AudioDecoder, LogShowsTheConfigAndBlocksShowTheStream)
{
	/* A configuration whose rate and channels disagree with its ASC: the log
	 * repeats the configuration, the blocks describe what was decoded. */
	auto units = media::read_aac_access_units("aac-stereo");
	LogCapture log;
	AudioDecoderPtr decoder = make_decoder(make_config(44100, 1, media::read_fixture("aac-stereo.asc")));
	ASSERT_NE(nullptr, decoder);
	EXPECT_TRUE(log.contains(LOG_INFO, plugin_line(LOGTEXT_AUDIO_DECODER_READY, 44100u, 1u)));

	obs_source_audio out;
	ASSERT_TRUE(decode(decoder.get(), units[0], 7, &out));
	EXPECT_EQ(48000u, out.samples_per_sec);
	EXPECT_EQ(SPEAKERS_STEREO, out.speakers);
	EXPECT_NE(nullptr, out.data[1]);
}

TEST(AudioDecoder, UnusableAscLogsOpenFailure)
{
	/* Audio object type 0 is no codec at all. */
	LogCapture log;
	const long start = bnum_allocs();
	AudioConfig config = make_config(48000, 2, {0x00, 0x00});
	EXPECT_EQ(nullptr, make_decoder(config));
	EXPECT_EQ(start, bnum_allocs());

	auto lines = log.plugin_lines();
	ASSERT_EQ(1u, lines.size());
	EXPECT_EQ(LOG_ERROR, lines[0].level);
	EXPECT_EQ(plugin_line(LOGTEXT_AAC_OPEN_FAILED), lines[0].text);
}

TEST(AudioDecoder, NullDecoderAndEmptyPayloadGiveFalse)
{
	auto units = media::read_aac_access_units("aac-mono");
	AudioDecoderPtr decoder = make_decoder(make_config(44100, 1, media::read_fixture("aac-mono.asc")));
	ASSERT_NE(nullptr, decoder);
	LogCapture log;
	obs_source_audio out = media::sentinel<obs_source_audio>();
	const obs_source_audio untouched = out;

	EXPECT_FALSE(decode(nullptr, units[0], 1, &out));
	EXPECT_FALSE(ostrelin_audio_decoder_decode(decoder.get(), units[0].data(), 0, 1, &out));
	EXPECT_FALSE(ostrelin_audio_decoder_decode(decoder.get(), nullptr, 0, 1, &out));
	EXPECT_TRUE(media::same_bytes(untouched, out));
	ostrelin_audio_decoder_destroy(nullptr);
	EXPECT_TRUE(log.lines().empty());

	ASSERT_TRUE(decode(decoder.get(), units[0], 2, &out));
	EXPECT_EQ(2u, out.timestamp);
}

TEST(AudioDecoder, CreateDecodeDestroyLeavesNoAllocation)
{
	const Stream *streams[] = {&mono, &stereo, &surround};
	LogCapture log;
	const long start = bnum_allocs();
	for (int i = 0; i < 200; i++) {
		const Stream &s = *streams[i % 3];
		auto units = media::read_aac_access_units(s.prefix);
		AudioDecoderPtr decoder = make_decoder(
			make_config(s.sample_rate, s.channels, media::read_fixture(std::string(s.prefix) + ".asc")));
		ASSERT_NE(nullptr, decoder);
		obs_source_audio out;
		const long before_decoding = bnum_allocs();
		EXPECT_TRUE(decode(decoder.get(), units[i % units.size()], 0, &out));
		EXPECT_EQ(before_decoding, bnum_allocs()) << "decoding allocated through libobs";
	}
	AudioConfig broken = make_config(48000, 2, {0x00, 0x00});
	EXPECT_EQ(nullptr, make_decoder(broken));
	EXPECT_EQ(start, bnum_allocs());
	EXPECT_EQ(200u, log.count_prefix(plugin_line_head(LOGTEXT_AUDIO_DECODER_READY)));
}
