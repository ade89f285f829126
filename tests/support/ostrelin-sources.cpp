#include "ostrelin-sources.h"

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
	return create_ostrelin_source(name, [&](obs_data_t *settings) {
		obs_data_set_int(settings, "conn_mode", 1);
		obs_data_set_string(settings, "host", "127.0.0.1");
		obs_data_set_int(settings, "port", port);
	});
}
