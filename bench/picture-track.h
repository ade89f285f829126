#pragma once
/* What reached OBS from one source, as the benchmarks note it: numbered
 * pictures handed over and taken by OBS's video tick, and audio blocks
 * handed over, each with the time it happened (os_gettime_ns). Safe to add
 * to from several threads. */

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

struct PictureEvent {
	int index; /* the counter drawn in the picture */
	uint64_t ns;
	uint32_t width;
	uint32_t height;
	uint64_t timestamp; /* the frame's, on OBS's clock */
};

/* An audio block the source handed to OBS (obs_source_output_audio). */
struct AudioEvent {
	uint64_t ns;
	uint64_t timestamp;
	uint32_t frames;
	uint32_t samples_per_sec;
};

class PictureTrack {
public:
	/* Room for this many events, its memory touched now, so that a long
	 * run's own records do not show as growth of the process. */
	void reserve(size_t pictures, size_t audio_blocks);
	void add_handoff(const PictureEvent &e);
	void add_render(const PictureEvent &e);
	void add_audio(const AudioEvent &e);
	std::vector<PictureEvent> handoffs() const;
	std::vector<PictureEvent> renders() const;
	std::vector<AudioEvent> audio() const;

private:
	mutable std::mutex lock_;
	std::vector<PictureEvent> handoffs_;
	std::vector<PictureEvent> renders_;
	std::vector<AudioEvent> audio_;
};
