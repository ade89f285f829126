#include "obs-session.h"

#include <obs.h>

#include <cstdlib>
#include <filesystem>

static std::string make_config_dir()
{
	const char *tmp = getenv("TMPDIR");
	std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ostrelin-obs-host-XXXXXX";
	if (!mkdtemp(pattern.data()))
		return "";
	return pattern;
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
	config_dir_ = make_config_dir();
	if (config_dir_.empty()) {
		*error = "cannot create a temporary configuration folder";
		return false;
	}
	if (!obs_startup("en-US", (config_dir_ + "/plugin_config").c_str(), nullptr)) {
		const char *display = getenv("DISPLAY");
		*error = display && *display ? "obs_startup failed (run with --verbose for libobs's reason)"
					     : "obs_startup failed: no X display; run under xvfb-run -a";
		return false;
	}
	started_ = true;

	obs_video_info ovi = {};
	ovi.graphics_module = "libobs-opengl";
	ovi.fps_num = 30;
	ovi.fps_den = 1;
	ovi.base_width = ovi.output_width = canvas_width;
	ovi.base_height = ovi.output_height = canvas_height;
	ovi.output_format = VIDEO_FORMAT_NV12;
	ovi.colorspace = VIDEO_CS_709;
	ovi.range = VIDEO_RANGE_PARTIAL;
	ovi.gpu_conversion = true;
	ovi.scale_type = OBS_SCALE_BICUBIC;
	int video = obs_reset_video(&ovi);
	if (video != OBS_VIDEO_SUCCESS) {
		*error = reset_video_error(video);
		return false;
	}

	obs_audio_info oai = {};
	oai.samples_per_sec = 48000;
	oai.speakers = SPEAKERS_STEREO;
	if (!obs_reset_audio(&oai)) {
		*error = "obs_reset_audio failed";
		return false;
	}
	return true;
}

bool ObsSession::load_plugin(const std::string &module_path, const std::string &data_dir, std::string *error)
{
	obs_module_t *module = nullptr;
	int opened = obs_open_module(&module, module_path.c_str(), data_dir.c_str());
	if (opened != MODULE_SUCCESS) {
		*error = open_module_error(opened, module_path);
		return false;
	}
	if (!obs_init_module(module)) {
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

void ObsSession::shutdown()
{
	if (started_) {
		obs_shutdown();
		started_ = false;
	}
	if (!config_dir_.empty()) {
		std::error_code ignored;
		std::filesystem::remove_all(config_dir_, ignored);
		config_dir_.clear();
	}
}
