#include "frame-filter.h"

/* The data pointer travels to the filter's create callback in its settings. */
static const char data_key[] = "data";

void frame_filter_register(const char *id, const char *name, FrameCallback on_frame)
{
	obs_source_info info = {};
	info.id = id;
	info.type = OBS_SOURCE_TYPE_FILTER;
	info.output_flags = OBS_SOURCE_ASYNC_VIDEO;
	info.type_data = const_cast<char *>(name);
	info.get_name = [](void *type_data) {
		return static_cast<const char *>(type_data);
	};
	info.create = [](obs_data_t *settings, obs_source_t *) -> void * {
		return reinterpret_cast<void *>(obs_data_get_int(settings, data_key));
	};
	info.destroy = [](void *) {
	};
	info.filter_video = on_frame;
	obs_register_source(&info);
}

obs_source_t *frame_filter_attach(obs_source_t *source, const char *id, void *data)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, data_key, reinterpret_cast<long long>(data));
	obs_source_t *filter = obs_source_create_private(id, obs_source_get_display_name(id), settings);
	obs_data_release(settings);
	obs_source_filter_add(source, filter);
	return filter;
}

static void between_frames(void *) {}

void frame_filter_detach(obs_source_t *source, obs_source_t *filter)
{
	obs_source_filter_remove(source, filter);
	/* A picture being drawn holds the filter until it is done. Were that the
	 * last reference, libobs 29 would destroy the filter inside the graphics
	 * context, taking its source list's lock in the reverse of the order its
	 * video tick takes the two in. A task on the graphics thread runs between
	 * frames, so once it has run, this release is the last. */
	obs_queue_task(OBS_TASK_GRAPHICS, between_frames, nullptr, true);
	obs_source_release(filter);
}
