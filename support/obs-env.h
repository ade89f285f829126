#pragma once
/* A real libobs for a test or a benchmark: started with a video and an audio
 * reset (OpenGL under Xvfb, RGBA output), an isolated module configuration
 * folder, and the built module loaded through OBS's own loader. The user
 * defines OSTRELIN_MODULE_PATH and OSTRELIN_DATA_DIR. */

#include "obs-runtime.h"

#include <obs-module.h>

#include <stdexcept>
#include <string>

class ObsEnv {
public:
	explicit ObsEnv(uint32_t width = 320, uint32_t height = 240)
	{
		static const char *const failed[] = {"mkdtemp failed", "obs_startup failed", "obs_reset_video failed",
						     "obs_reset_audio failed"};
		ObsStartFailure failure;
		if (!obs_.start("/tmp/ostrelin-obs-", width, height, VIDEO_FORMAT_RGBA, &failure))
			throw std::runtime_error(failed[failure.step]);
	}

	ObsEnv(const ObsEnv &) = delete;
	ObsEnv &operator=(const ObsEnv &) = delete;

	/* Opens and initialises the built module as OBS does; null on failure. */
	obs_module_t *load_module(const char *module_path = OSTRELIN_MODULE_PATH,
				  const char *data_dir = OSTRELIN_DATA_DIR)
	{
		return obs_.load_module(module_path, data_dir).module;
	}

	/* Scenes removed and their sources destroyed, as OBS's frontend does
	 * before it shuts down; the destructor does it too. */
	void clear_scenes() { obs_.clear_scenes(); }

	/* The folder that OBS gives the module for its configuration files. */
	std::string module_config_dir() const { return root() + "/plugin_config/ostrelin"; }
	const std::string &root() const { return obs_.config_dir(); }

private:
	ObsRuntime obs_;
};
