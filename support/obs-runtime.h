#pragma once
/* libobs started for real as OBS Studio starts it: a configuration folder of
 * its own (removed at the end), obs_startup, OpenGL video at a chosen canvas
 * size, 48 kHz stereo audio. Modules are loaded through OBS's own loader. */

#include <obs.h>

#include <cstdint>
#include <string>

/* The step of a start that failed, and libobs's code for it. */
struct ObsStartFailure {
	enum Step { config_dir, startup, reset_video, reset_audio } step = config_dir;
	int code = 0; /* obs_reset_video's result for reset_video */
};

/* How a module load ended: obs_open_module's code, then whether
 * obs_init_module accepted it. */
struct ObsModuleLoad {
	obs_module_t *module = nullptr; /* set when both succeeded */
	int open_code = MODULE_ERROR;
	bool initialised = false;
};

class ObsRuntime {
public:
	ObsRuntime() = default;
	~ObsRuntime() { shutdown(); }
	ObsRuntime(const ObsRuntime &) = delete;
	ObsRuntime &operator=(const ObsRuntime &) = delete;

	/* Creates the folder dir_prefix + "XXXXXX" and starts libobs with its
	 * module configuration below it. False with *failure filled in; what
	 * was started is undone by shutdown() or the destructor. */
	bool start(const std::string &dir_prefix, uint32_t width, uint32_t height, video_format output_format,
		   ObsStartFailure *failure);

	/* obs_open_module + obs_init_module. */
	ObsModuleLoad load_module(const char *module_path, const char *data_dir);

	/* What OBS's frontend does before it shuts libobs down: clears the
	 * output channels, removes every scene, and waits until libobs's
	 * destruction thread has destroyed what that released, the scenes'
	 * items' sources included. A scene the caller still holds stays. From
	 * libobs 32 on, the main canvas holds a reference to every scene until
	 * the scene is removed, so releasing one is not enough: obs_shutdown
	 * would destroy the sources left in it after unloading their modules,
	 * and then the scene's own deferred destroy would release them again. */
	void clear_scenes();

	/* clear_scenes(), obs_shutdown (which unloads the modules) and removal
	 * of the folder; safe to call more than once. */
	void shutdown();

	/* The configuration folder; empty before start(). */
	const std::string &config_dir() const { return config_dir_; }

private:
	std::string config_dir_;
	bool started_ = false;
};
