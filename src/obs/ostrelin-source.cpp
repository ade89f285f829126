#include "obs/ostrelin-source.h"
#include "obs/lifecycle.h"
#include "obs/properties.h"

static obs_source_info make_source_info()
{
	/* Zero-initialised, then filled field by field: a callback left null is
	 * one libobs does without. */
	obs_source_info info = {};
	info.id = "ostrelin_source";
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_AUDIO | OBS_SOURCE_ASYNC | OBS_SOURCE_DO_NOT_DUPLICATE;
	info.get_name = ostrelin_get_name;
	info.create = ostrelin_create;
	info.destroy = ostrelin_destroy;
	info.get_defaults = ostrelin_defaults;
	info.get_properties = ostrelin_properties;
	info.update = ostrelin_update;
	info.video_tick = ostrelin_video_tick;
	info.icon_type = OBS_ICON_TYPE_CAMERA;
	/* Fields later libobs versions add to the record, null on purpose: not a
	 * filter, so nothing to do when added to a source (30.0); no icon files
	 * of its own, icon_type's camera serves both themes (32.2). */
#if LIBOBS_API_VER >= MAKE_SEMANTIC_VERSION(30, 0, 0)
	info.filter_add = nullptr;
#endif
#if LIBOBS_API_VER >= MAKE_SEMANTIC_VERSION(32, 2, 0)
	info.get_dark_icon = nullptr;
	info.get_light_icon = nullptr;
#endif
	return info;
}

obs_source_info ostrelin_source_info = make_source_info();
