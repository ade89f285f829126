#include "handoff-probe.h"
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
	obs_source_info info = {};
	info.id = filter_id;
	info.type = OBS_SOURCE_TYPE_FILTER;
	info.output_flags = OBS_SOURCE_ASYNC_VIDEO;
	info.get_name = [](void *) {
		return "tick probe";
	};
	info.create = [](obs_data_t *settings, obs_source_t *) -> void * {
		return reinterpret_cast<void *>(obs_data_get_int(settings, "track"));
	};
	info.destroy = [](void *) {
	};
	info.filter_video = on_filter_video;
	obs_register_source(&info);
}

void handoff_probe_attach(obs_source_t *source, PictureTrack *track)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "track", reinterpret_cast<long long>(track));
	obs_source_t *filter = obs_source_create_private(filter_id, "tick probe", settings);
	obs_data_release(settings);
	obs_source_filter_add(source, filter);
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
	if (filter) {
		obs_source_filter_remove(source, filter);
		obs_source_release(filter);
	}
}
