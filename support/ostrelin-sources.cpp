#include "ostrelin-sources.h"
#include "obs/settings.h"

void set_wifi_target(obs_data_t *settings, uint16_t port, const char *host)
{
	obs_data_set_int(settings, SETTING_CONN_MODE, (long long)ConnMode::wifi);
	obs_data_set_string(settings, SETTING_HOST, host);
	obs_data_set_int(settings, SETTING_PORT, port);
}

void set_controls(obs_data_t *settings, const ControlSettings &controls)
{
	obs_data_set_double(settings, "zoom", controls.zoom);
	obs_data_set_int(settings, "ev", controls.ev);
	obs_data_set_bool(settings, "torch", controls.torch);
	obs_data_set_bool(settings, "ae_lock", controls.ae_lock);
	obs_data_set_int(settings, "awb", controls.awb);
}

obs_source_t *create_ostrelin_source(const char *name, const std::function<void(obs_data_t *)> &edit)
{
	obs_data_t *settings = obs_data_create();
	edit(settings);
	obs_source_t *source = obs_source_create("ostrelin_source", name, settings, nullptr);
	obs_data_release(settings);
	return source;
}

obs_source_t *create_ostrelin_source(const char *name, uint16_t port)
{
	return create_ostrelin_source(name, [&](obs_data_t *settings) { set_wifi_target(settings, port); });
}
