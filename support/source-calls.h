#pragma once
/* The plug-in's source callbacks called directly, on the caller's thread, for
 * the tests and benchmarks that link the plug-in's code (ostrelin_core). */

#include "elapsed.h"
#include "obs/lifecycle.h"
#include "obs/source-instance.h"

#include <obs.h>

/* The plug-in's record behind an Ostrelin source. */
inline SourceInstance *source_instance(obs_source_t *source)
{
	return static_cast<SourceInstance *>(obs_obj_get_data(source));
}

/* Turns "enabled" off through the update callback, as OBS does when the user
 * disables the source; how long the call took, in ms. */
inline double disable_ms(obs_source_t *source)
{
	obs_data_t *settings = obs_source_get_settings(source);
	obs_data_set_bool(settings, SETTING_ENABLED, false);
	auto start = std::chrono::steady_clock::now();
	ostrelin_update(source_instance(source), settings);
	double ms = since_ms(start);
	obs_data_release(settings);
	return ms;
}
