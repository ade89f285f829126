#include "ostrelin-source.h"
#include "lifecycle.h"
#include "properties.h"

static obs_source_info make_source_info()
{
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
	info.icon_type = OBS_ICON_TYPE_CAMERA;
	return info;
}

obs_source_info ostrelin_source_info = make_source_info();
