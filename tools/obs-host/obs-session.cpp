#include "obs-session.h"

#include <obs.h>

#include <cstdlib>

static std::string config_dir_prefix()
{
	const char *tmp = getenv("TMPDIR");
	return std::string(tmp && *tmp ? tmp : "/tmp") + "/ostrelin-obs-host-";
}

static std::string reset_video_error(int code)
{
	switch (code) {
	case OBS_VIDEO_MODULE_NOT_FOUND:
		return "obs_reset_video: the graphics module libobs-opengl was not found";
	case OBS_VIDEO_NOT_SUPPORTED:
		return "obs_reset_video: OpenGL is not supported on this display";
	case OBS_VIDEO_INVALID_PARAM:
		return "obs_reset_video: invalid video settings";
	default:
		return "obs_reset_video failed (" + std::to_string(code) + ")";
	}
}

static std::string open_module_error(int code, const std::string &path)
{
	switch (code) {
	case MODULE_FILE_NOT_FOUND:
		return "obs_open_module: no module at " + path + " (build it first)";
	case MODULE_MISSING_EXPORTS:
		return "obs_open_module: " + path + " lacks the OBS module entry points";
	case MODULE_INCOMPATIBLE_VER:
		return "obs_open_module: " + path + " was built for a newer libobs";
	default:
		return "obs_open_module: cannot load " + path + " (run with --verbose for libobs's reason)";
	}
}

bool ObsSession::start(uint32_t canvas_width, uint32_t canvas_height, std::string *error)
{
	ObsStartFailure failure;
	if (obs_.start(config_dir_prefix(), canvas_width, canvas_height, VIDEO_FORMAT_NV12, &failure))
		return true;
	switch (failure.step) {
	case ObsStartFailure::config_dir:
		*error = "cannot create a temporary configuration folder";
		break;
	case ObsStartFailure::startup: {
		const char *display = getenv("DISPLAY");
		*error = display && *display ? "obs_startup failed (run with --verbose for libobs's reason)"
					     : "obs_startup failed: no X display; run under xvfb-run -a";
		break;
	}
	case ObsStartFailure::reset_video:
		*error = reset_video_error(failure.code);
		break;
	case ObsStartFailure::reset_audio:
		*error = "obs_reset_audio failed";
		break;
	}
	return false;
}

bool ObsSession::load_plugin(const std::string &module_path, const std::string &data_dir, std::string *error)
{
	ObsModuleLoad load = obs_.load_module(module_path.c_str(), data_dir.c_str());
	if (load.open_code != MODULE_SUCCESS) {
		*error = open_module_error(load.open_code, module_path);
		return false;
	}
	if (!load.initialised) {
		*error = "obs_init_module: the plug-in did not load (see its log lines)";
		return false;
	}
	obs_post_load_modules();
	if (!obs_source_get_display_name("ostrelin_source")) {
		*error = "the plug-in loaded but registered no \"ostrelin_source\"";
		return false;
	}
	return true;
}
