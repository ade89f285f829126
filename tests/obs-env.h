#pragma once
/* A real libobs for a test: started with a video and an audio reset (OpenGL
 * under Xvfb), an isolated module configuration folder, and the built module
 * loaded through OBS's own loader. */

#include <obs.h>
#include <obs-module.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

class ObsEnv {
public:
	explicit ObsEnv(uint32_t width = 320, uint32_t height = 240)
	{
		char pattern[] = "/tmp/ostrelin-obs-XXXXXX";
		if (!mkdtemp(pattern))
			throw std::runtime_error("mkdtemp failed");
		config_dir_ = pattern;
		if (!obs_startup("en-US", (config_dir_ + "/plugin_config").c_str(), nullptr))
			throw std::runtime_error("obs_startup failed");

		obs_video_info ovi = {};
		ovi.graphics_module = "libobs-opengl";
		ovi.fps_num = 30;
		ovi.fps_den = 1;
		ovi.base_width = ovi.output_width = width;
		ovi.base_height = ovi.output_height = height;
		ovi.output_format = VIDEO_FORMAT_RGBA;
		ovi.colorspace = VIDEO_CS_709;
		ovi.range = VIDEO_RANGE_PARTIAL;
		ovi.gpu_conversion = true;
		ovi.scale_type = OBS_SCALE_BICUBIC;
		if (obs_reset_video(&ovi) != OBS_VIDEO_SUCCESS)
			throw std::runtime_error("obs_reset_video failed");

		obs_audio_info oai = {};
		oai.samples_per_sec = 48000;
		oai.speakers = SPEAKERS_STEREO;
		if (!obs_reset_audio(&oai))
			throw std::runtime_error("obs_reset_audio failed");
	}

	~ObsEnv()
	{
		obs_shutdown();
		std::error_code ec;
		std::filesystem::remove_all(config_dir_, ec);
	}

	ObsEnv(const ObsEnv &) = delete;
	ObsEnv &operator=(const ObsEnv &) = delete;

	/* Opens and initialises the built module as OBS does; null on failure. */
	obs_module_t *load_module(const char *module_path = OSTRELIN_MODULE_PATH,
				  const char *data_dir = OSTRELIN_DATA_DIR)
	{
		obs_module_t *module = nullptr;
		if (obs_open_module(&module, module_path, data_dir) != MODULE_SUCCESS)
			return nullptr;
		if (!obs_init_module(module))
			return nullptr;
		return module;
	}

	/* The folder that OBS gives the module for its configuration files. */
	std::string module_config_dir() const { return config_dir_ + "/plugin_config/ostrelin"; }
	const std::string &root() const { return config_dir_; }

private:
	std::string config_dir_;
};
