#include "capture.h"

#include <graphics/graphics.h>
#include <graphics/vec4.h>

#include <cstring>

static const char counter_filter_id[] = "ostrelin_host_picture_counter";

void capture_register_types()
{
	obs_source_info filter = {};
	filter.id = counter_filter_id;
	filter.type = OBS_SOURCE_TYPE_FILTER;
	filter.output_flags = OBS_SOURCE_ASYNC_VIDEO;
	filter.get_name = [](void *) {
		return "picture counter";
	};
	/* The filter's data is the Capture, handed over in its settings. */
	filter.create = [](obs_data_t *settings, obs_source_t *) -> void * {
		return reinterpret_cast<void *>(obs_data_get_int(settings, "capture"));
	};
	filter.destroy = [](void *) {
	};
	filter.filter_video = Capture::on_picture;
	obs_register_source(&filter);
}

Capture::Capture(obs_source_t *source) : source_(source)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, "capture", reinterpret_cast<long long>(this));
	filter_ = obs_source_create_private(counter_filter_id, "picture counter", settings);
	obs_data_release(settings);
	obs_source_filter_add(source_, filter_);
	obs_source_add_audio_capture_callback(source_, on_audio, this);
}

Capture::~Capture()
{
	obs_source_remove_audio_capture_callback(source_, on_audio, this);
	obs_source_filter_remove(source_, filter_);
	obs_source_release(filter_);
}

ReceivedCounts Capture::counts() const
{
	ReceivedCounts counts;
	counts.pictures = pictures_.load();
	counts.audio_blocks = audio_blocks_.load();
	counts.audio_frames = audio_frames_.load();
	uint32_t size = size_.load();
	counts.width = size >> 16;
	counts.height = size & 0xFFFF;
	return counts;
}

obs_source_frame *Capture::on_picture(void *data, obs_source_frame *frame)
{
	auto *self = static_cast<Capture *>(data);
	self->size_ = (frame->width & 0xFFFF) << 16 | (frame->height & 0xFFFF);
	self->pictures_++;
	return frame;
}

void Capture::on_audio(void *data, obs_source_t *, const audio_data *audio, bool)
{
	auto *self = static_cast<Capture *>(data);
	self->audio_frames_ += audio->frames;
	self->audio_blocks_++;
}

bool snapshot_source(obs_source_t *source, Snapshot *out)
{
	uint32_t width = obs_source_get_width(source);
	uint32_t height = obs_source_get_height(source);
	if (width == 0 || height == 0)
		return false;

	bool done = false;
	obs_enter_graphics();
	gs_texrender_t *texrender = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
	gs_stagesurf_t *stage = gs_stagesurface_create(width, height, GS_RGBA);
	if (texrender && stage && gs_texrender_begin(texrender, width, height)) {
		vec4 transparent;
		vec4_zero(&transparent);
		gs_clear(GS_CLEAR_COLOR, &transparent, 0.0f, 0);
		gs_ortho(0.0f, (float)width, 0.0f, (float)height, -100.0f, 100.0f);
		gs_blend_state_push();
		gs_blend_function(GS_BLEND_ONE, GS_BLEND_ZERO);
		obs_source_video_render(source);
		gs_blend_state_pop();
		gs_texrender_end(texrender);

		gs_stage_texture(stage, gs_texrender_get_texture(texrender));
		uint8_t *pixels = nullptr;
		uint32_t linesize = 0;
		if (gs_stagesurface_map(stage, &pixels, &linesize)) {
			out->width = width;
			out->height = height;
			out->rgba.resize((size_t)width * height * 4);
			for (uint32_t y = 0; y < height; y++)
				memcpy(out->rgba.data() + (size_t)y * width * 4, pixels + (size_t)y * linesize,
				       (size_t)width * 4);
			gs_stagesurface_unmap(stage);
			done = true;
		}
	}
	if (stage)
		gs_stagesurface_destroy(stage);
	if (texrender)
		gs_texrender_destroy(texrender);
	obs_leave_graphics();
	return done;
}
