#pragma once
/* Seeing what OBS received from a source: a filter that records every async
 * video frame (format, size, range, timestamp, first samples of each plane)
 * and an audio capture callback that records every audio block. Also a bare
 * async input type that tests can hand to the receive loop as its target. */

#include <obs.h>
#include "frame-filter.h"
#include "obs-settle.h"

#include <obs-module.h>
#include <util/platform.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace probe {

struct Frame {
	uint64_t timestamp;
	uint64_t received_at; /* os_gettime_ns() when the filter saw it */
	uint32_t width;
	uint32_t height;
	video_format format;
	bool full_range;
	uint8_t first_sample[3];
};

struct AudioBlock {
	uint64_t timestamp;
	uint32_t frames;
	float peak;
};

class Recorder {
public:
	void add(const Frame &f)
	{
		std::lock_guard<std::mutex> g(lock_);
		frames_.push_back(f);
	}
	void add(const AudioBlock &a)
	{
		std::lock_guard<std::mutex> g(lock_);
		audio_.push_back(a);
	}
	std::vector<Frame> frames() const
	{
		std::lock_guard<std::mutex> g(lock_);
		return frames_;
	}
	std::vector<AudioBlock> audio() const
	{
		std::lock_guard<std::mutex> g(lock_);
		return audio_;
	}
	bool wait_frames(size_t n, std::chrono::milliseconds limit) const
	{
		return wait_until([&] { return frames().size() >= n; }, limit);
	}
	bool wait_audio(size_t n, std::chrono::milliseconds limit) const
	{
		return wait_until([&] { return audio().size() >= n; }, limit);
	}

private:
	mutable std::mutex lock_;
	std::vector<Frame> frames_;
	std::vector<AudioBlock> audio_;
};

inline obs_source_frame *record_frame(void *data, obs_source_frame *frame)
{
	Frame f = {};
	f.timestamp = frame->timestamp;
	f.received_at = os_gettime_ns();
	f.width = frame->width;
	f.height = frame->height;
	f.format = frame->format;
	f.full_range = frame->full_range;
	for (int i = 0; i < 3; i++)
		f.first_sample[i] = frame->data[i] ? frame->data[i][0] : 0;
	static_cast<Recorder *>(data)->add(f);
	return frame;
}

inline void record_audio(void *param, obs_source_t *, const audio_data *audio, bool muted)
{
	(void)muted;
	AudioBlock a = {};
	a.timestamp = audio->timestamp;
	a.frames = audio->frames;
	if (audio->data[0]) {
		const float *samples = reinterpret_cast<const float *>(audio->data[0]);
		for (uint32_t i = 0; i < audio->frames; i++)
			a.peak = std::max(a.peak, samples[i] < 0 ? -samples[i] : samples[i]);
	}
	static_cast<Recorder *>(param)->add(a);
}

/* Registers the probe filter and the sink input type once per libobs start. */
inline void register_types()
{
	frame_filter_register("ostrelin_test_frame_probe", "frame probe", record_frame);

	obs_source_info sink = {};
	sink.id = "ostrelin_test_sink";
	sink.type = OBS_SOURCE_TYPE_INPUT;
	sink.output_flags = OBS_SOURCE_ASYNC_VIDEO | OBS_SOURCE_AUDIO;
	sink.get_name = [](void *) {
		return "sink";
	};
	sink.create = [](obs_data_t *, obs_source_t *) -> void * {
		return reinterpret_cast<void *>(1);
	};
	sink.destroy = [](void *) {
	};
	obs_register_source(&sink);
}

/* Records what the source outputs from now on; detach() before the
 * recorder goes. */
class Attachment {
public:
	Attachment(obs_source_t *source, Recorder *recorder) : source_(source), recorder_(recorder)
	{
		filter_ = frame_filter_attach(source_, "ostrelin_test_frame_probe", recorder);
		obs_source_add_audio_capture_callback(source_, record_audio, recorder_);
	}
	~Attachment() { detach(); }
	void detach()
	{
		if (!filter_)
			return;
		obs_source_remove_audio_capture_callback(source_, record_audio, recorder_);
		frame_filter_detach(source_, filter_);
		filter_ = nullptr;
	}

private:
	obs_source_t *source_;
	Recorder *recorder_;
	obs_source_t *filter_ = nullptr;
};

} // namespace probe
