#pragma once
/* The AAC stream's parameters as the phone announces them, from which the
 * audio decoder is made. Plain data without FFmpeg or libobs, so that the
 * wire parser fills it too. */

#include <cstdint>
#include <cstring>

#define AUDIO_CONFIG_MAX_ASC 64

/* Compared byte for byte as a whole record, so always zero it before filling. */
struct AudioConfig {
	uint8_t valid; /* 1 once filled from a configuration; 0 in a record never filled */
	uint32_t sample_rate;
	uint8_t channels;
	uint8_t asc_len; /* 0 to AUDIO_CONFIG_MAX_ASC */
	uint8_t asc[AUDIO_CONFIG_MAX_ASC];
};

inline bool audio_config_equal(const AudioConfig &a, const AudioConfig &b)
{
	return memcmp(&a, &b, sizeof(AudioConfig)) == 0;
}

/* True when the sample rate is one that AAC defines (7,350 to 96,000 Hz). */
inline bool audio_config_rate_valid(const AudioConfig &config)
{
	static const uint32_t aac_rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
					     22050, 16000, 12000, 11025, 8000,  7350};
	for (uint32_t rate : aac_rates) {
		if (config.sample_rate == rate)
			return true;
	}
	return false;
}
