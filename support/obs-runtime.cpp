#include "obs-runtime.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#define START_ATTEMPTS 5

bool ObsRuntime::start(const std::string &dir_prefix, uint32_t width, uint32_t height, video_format output_format,
		       ObsStartFailure *failure)
{
	std::string pattern = dir_prefix + "XXXXXX";
	if (!mkdtemp(pattern.data())) {
		failure->step = ObsStartFailure::config_dir;
		return false;
	}
	config_dir_ = pattern;
	/* Xvfb now and then refuses a connection made right after another one
	 * closed (EAGAIN), and libobs's start then fails opening the display
	 * for its hotkeys; a failed start is undone, so it is tried again. */
	for (int attempt = 1; !obs_startup("en-US", (config_dir_ + "/plugin_config").c_str(), nullptr); attempt++) {
		if (attempt == START_ATTEMPTS) {
			failure->step = ObsStartFailure::startup;
			return false;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
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
	/* The OpenGL module opens a display of its own: the same may happen. */
	int video = obs_reset_video(&ovi);
	for (int attempt = 1; video == OBS_VIDEO_FAIL && attempt < START_ATTEMPTS; attempt++) {
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
		video = obs_reset_video(&ovi);
	}
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

void ObsRuntime::clear_scenes()
{
	if (!started_)
		return;
	for (uint32_t channel = 0; channel < MAX_CHANNELS; channel++)
		obs_set_output_source(channel, nullptr);
	/* Removed after the enumeration, which holds the list's lock. */
	std::vector<obs_source_t *> scenes;
	obs_enum_scenes(
		[](void *param, obs_source_t *scene) {
			if (obs_source_t *ref = obs_source_get_ref(scene))
				static_cast<std::vector<obs_source_t *> *>(param)->push_back(ref);
			return true;
		},
		&scenes);
	for (obs_source_t *scene : scenes) {
		obs_source_remove(scene);
		obs_source_release(scene);
	}
	obs_wait_for_destroy_queue();
}

void ObsRuntime::shutdown()
{
	if (started_) {
		clear_scenes();
		obs_shutdown();
		started_ = false;
	}
	if (!config_dir_.empty()) {
		std::error_code ignored;
		std::filesystem::remove_all(config_dir_, ignored);
		config_dir_.clear();
	}
}
