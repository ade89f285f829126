#include "handoff-probe.h"
#include "frame-filter.h"
#include "picture-index.h"

#include <util/platform.h>

#include <dlfcn.h>

#include <map>

namespace {

const char filter_id[] = "ostrelin_bench_tick_probe";

std::mutex g_sources_lock;
std::map<obs_source_t *, PictureTrack *> g_sources;
std::map<obs_source_t *, obs_source_t *> g_filters; /* source -> its filter */

PictureTrack *track_of(obs_source_t *source)
{
	std::lock_guard<std::mutex> guard(g_sources_lock);
	auto it = g_sources.find(source);
	return it == g_sources.end() ? nullptr : it->second;
}

obs_source_frame *on_filter_video(void *data, obs_source_frame *frame)
{
	uint64_t now = os_gettime_ns();
	auto *track = static_cast<PictureTrack *>(data);
	int index = picture_index(frame);
	if (index >= 0)
		track->add_render({index, now, frame->width, frame->height, frame->timestamp});
	return frame;
}

using OutputVideo = void (*)(obs_source_t *, const obs_source_frame *);
using OutputAudio = void (*)(obs_source_t *, const obs_source_audio *);

OutputVideo real_output_video()
{
	static OutputVideo real = reinterpret_cast<OutputVideo>(dlsym(RTLD_NEXT, "obs_source_output_video"));
	return real;
}

OutputAudio real_output_audio()
{
	static OutputAudio real = reinterpret_cast<OutputAudio>(dlsym(RTLD_NEXT, "obs_source_output_audio"));
	return real;
}

} // namespace

extern "C" void obs_source_output_video(obs_source_t *source, const obs_source_frame *frame)
{
	uint64_t now = os_gettime_ns();
	if (frame) {
		if (PictureTrack *track = track_of(source)) {
			int index = picture_index(frame);
			if (index >= 0)
				track->add_handoff({index, now, frame->width, frame->height, frame->timestamp});
		}
	}
	real_output_video()(source, frame);
}

extern "C" void obs_source_output_audio(obs_source_t *source, const obs_source_audio *audio)
{
	uint64_t now = os_gettime_ns();
	if (audio) {
		if (PictureTrack *track = track_of(source))
			track->add_audio({now, audio->timestamp, audio->frames, audio->samples_per_sec});
	}
	real_output_audio()(source, audio);
}

void handoff_probe_register()
{
	frame_filter_register(filter_id, "tick probe", on_filter_video);
}

void handoff_probe_attach(obs_source_t *source, PictureTrack *track)
{
	obs_source_t *filter = frame_filter_attach(source, filter_id, track);
	std::lock_guard<std::mutex> guard(g_sources_lock);
	g_sources[source] = track;
	g_filters[source] = filter;
}

void handoff_probe_detach(obs_source_t *source)
{
	obs_source_t *filter = nullptr;
	{
		std::lock_guard<std::mutex> guard(g_sources_lock);
		g_sources.erase(source);
		auto it = g_filters.find(source);
		if (it != g_filters.end()) {
			filter = it->second;
			g_filters.erase(it);
		}
	}
	if (filter)
		frame_filter_detach(source, filter);
}
