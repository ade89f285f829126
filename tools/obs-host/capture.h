#pragma once
/* What OBS receives from a source: every picture passes a counting filter
 * (as any async video filter would see it), every audio block reaches an
 * audio capture callback. snapshot_source (source-snapshot.h) draws the
 * source as OBS renders it and reads the pixels back. */

#include <obs.h>

#include <atomic>
#include <cstdint>

struct ReceivedCounts {
	uint64_t pictures = 0;
	uint64_t audio_blocks = 0;
	uint64_t audio_frames = 0; /* samples per channel, after OBS resampled them */
	uint32_t width = 0;        /* of the last picture */
	uint32_t height = 0;
};

/* Registers the counting filter type; once, after obs_startup. */
void capture_register_types();

/* Counts what the source outputs from construction to destruction. */
class Capture {
public:
	explicit Capture(obs_source_t *source);
	~Capture();
	Capture(const Capture &) = delete;
	Capture &operator=(const Capture &) = delete;

	ReceivedCounts counts() const;

	/* The filter's and the audio capture's callbacks; data is the Capture. */
	static obs_source_frame *on_picture(void *data, obs_source_frame *frame);
	static void on_audio(void *data, obs_source_t *source, const audio_data *audio, bool muted);

private:
	obs_source_t *source_;
	obs_source_t *filter_ = nullptr;
	std::atomic<uint64_t> pictures_{0};
	std::atomic<uint64_t> audio_blocks_{0};
	std::atomic<uint64_t> audio_frames_{0};
	std::atomic<uint32_t> size_{0}; /* width << 16 | height of the last picture */
};
