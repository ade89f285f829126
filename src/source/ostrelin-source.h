#pragma once
/* The camera source: its registration record and the callbacks it names. */

#include <obs-module.h>

MODULE_EXPORT struct obs_source_info ostrelin_source_info;

struct SourceInstance;

const char *ostrelin_get_name(void *type_data);
void ostrelin_defaults(obs_data_t *settings);
void *ostrelin_create(obs_data_t *settings, obs_source_t *source);
void ostrelin_update(void *data, obs_data_t *settings);
void ostrelin_destroy(void *data);
obs_properties_t *ostrelin_properties(void *data);
