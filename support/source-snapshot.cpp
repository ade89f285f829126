#include "source-snapshot.h"

#include <graphics/graphics.h>
#include <graphics/vec4.h>

#include <cstring>

bool snapshot_source(obs_source_t *source, Picture *out)
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
