#pragma once
/* Ostrelin sources made as a user makes them: settings filled in, then
 * obs_source_create with the plug-in's source type. */

#include <obs.h>

#include <cstdint>
#include <functional>

/* Wi-Fi mode aimed at host:port. */
void set_wifi_target(obs_data_t *settings, uint16_t port, const char *host = "127.0.0.1");

/* The camera controls as the properties panel sets them. */
struct ControlSettings {
	double zoom;
	long long ev;
	bool torch;
	bool ae_lock;
	long long awb;
};
void set_controls(obs_data_t *settings, const ControlSettings &controls);

/* A new reference, or null when the plug-in is not loaded. */
obs_source_t *create_ostrelin_source(const char *name, const std::function<void(obs_data_t *)> &edit);

/* One over Wi-Fi aimed at 127.0.0.1:port. */
obs_source_t *create_ostrelin_source(const char *name, uint16_t port);
