#include "obs-runtime.h"

#include <cstdlib>
#include <filesystem>

bool ObsRuntime::start(const std::string &dir_prefix, uint32_t width, uint32_t height, video_format output_format,
		       ObsStartFailure *failure)
{
	std::string pattern = dir_prefix + "XXXXXX";
	if (!mkdtemp(pattern.data())) {
		failure->step = ObsStartFailure::config_dir;
		return false;
	}
	config_dir_ = pattern;
	if (!obs_startup("en-US", (config_dir_ + "/plugin_config").c_str(), nullptr)) {
		failure->step = ObsStartFailure::startup;
		return false;
	}
	started_ = true;

	obs_video_info ovi = {};
	ovi.graphics_module = "libobs-opengl";
	ovi.fps_num = 30;
	ovi.fps_den = 1;
	ovi.base_width = ovi.output_width = width;
	ovi.base_height = ovi.output_height = height;
	ovi.output_format = output_format;
	ovi.colorspace = VIDEO_CS_709;
	ovi.range = VIDEO_RANGE_PARTIAL;
	ovi.gpu_conversion = true;
	ovi.scale_type = OBS_SCALE_BICUBIC;
	int video = obs_reset_video(&ovi);
	if (video != OBS_VIDEO_SUCCESS) {
		failure->step = ObsStartFailure::reset_video;
		failure->code = video;
		return false;
	}

	obs_audio_info oai = {};
	oai.samples_per_sec = 48000;
	oai.speakers = SPEAKERS_STEREO;
	if (!obs_reset_audio(&oai)) {
		failure->step = ObsStartFailure::reset_audio;
		return false;
	}
	return true;
}

ObsModuleLoad ObsRuntime::load_module(const char *module_path, const char *data_dir)
{
	ObsModuleLoad load;
	obs_module_t *module = nullptr;
	load.open_code = obs_open_module(&module, module_path, data_dir);
	if (load.open_code != MODULE_SUCCESS)
		return load;
	load.initialised = obs_init_module(module);
	if (load.initialised)
		load.module = module;
	return load;
}

void ObsRuntime::shutdown()
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
