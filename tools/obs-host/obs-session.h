#pragma once
/* libobs started as OBS Studio starts it (OpenGL video, 48 kHz stereo audio),
 * with the plug-in loaded through OBS's own module loader, in a configuration
 * folder of its own that is removed at the end. */

#include "obs-runtime.h"

#include <cstdint>
#include <string>

class ObsSession {
public:
	/* obs_startup, obs_reset_video with libobs-opengl at the canvas size,
	 * obs_reset_audio. False with the reason in *error. */
	bool start(uint32_t canvas_width, uint32_t canvas_height, std::string *error);

	/* obs_open_module + obs_init_module, then obs_post_load_modules; true
	 * when the plug-in's source type is registered. */
	bool load_plugin(const std::string &module_path, const std::string &data_dir, std::string *error);

	/* obs_shutdown (which unloads the plug-in) and removal of the
	 * configuration folder; safe to call more than once. */
	void shutdown() { obs_.shutdown(); }

private:
	ObsRuntime obs_;
};
