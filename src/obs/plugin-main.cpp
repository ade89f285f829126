/* The entry points OBS looks up in the module, as OBS_DECLARE_MODULE writes
 * them, with obs_module_lookup exported as well. obs_module_ver reports the
 * libobs API of the headers compiled against: libobs 32.0 and later refuse a
 * module whose major.minor is newer than their own, so a module built against
 * libobs 29.0's headers loads in every OBS from 29.0 on. */

#include "adb/adb-background.h"
#include "obs/i18n.h"
#include "log/ostrelin-log.h"
#include "obs/ostrelin-source.h"
#include "platform/net.h"

#include <obs-module.h>
#include <util/base.h>
#include <util/text-lookup.h>

static obs_module_t *module_pointer;

extern "C" {
EXPORT lookup_t *obs_module_lookup = nullptr;
}

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module)
{
	module_pointer = module;
}

MODULE_EXPORT obs_module_t *obs_current_module(void)
{
	return module_pointer;
}

MODULE_EXPORT uint32_t obs_module_ver(void)
{
	return LIBOBS_API_VER;
}

MODULE_EXPORT void obs_module_set_locale(const char *locale)
{
	if (obs_module_lookup)
		text_lookup_destroy(obs_module_lookup);
	obs_module_lookup = obs_module_load_locale(obs_current_module(), "en-US", locale);
}

MODULE_EXPORT void obs_module_free_locale(void)
{
	text_lookup_destroy(obs_module_lookup);
	obs_module_lookup = nullptr;
}

MODULE_EXPORT const char *obs_module_text(const char *key)
{
	const char *text = nullptr;
	if (text_lookup_getstr(obs_module_lookup, key, &text))
		return text;
	return key;
}

MODULE_EXPORT bool obs_module_get_string(const char *key, const char **text)
{
	return text_lookup_getstr(obs_module_lookup, key, text);
}

MODULE_EXPORT const char *obs_module_description(void)
{
	return "Ostrelin - low latency phone camera source";
}

MODULE_EXPORT bool obs_module_load(void)
{
	if (!plat_net_init()) {
		ostrelin_log(LOG_ERROR, LOGTEXT_NET_INIT_FAILED);
		return false;
	}
	nx_lang_init();
	obs_register_source_s(&ostrelin_source_info, sizeof(struct obs_source_info));
	ostrelin_log(LOG_INFO, LOGTEXT_PLUGIN_LOADED);
	return true;
}

MODULE_EXPORT void obs_module_unload(void)
{
	/* Sources are gone by now; their forward removals get a moment. */
	adb_background_shutdown(ADB_UNLOAD_GRACE_MS);
	nx_lang_free();
	plat_net_cleanup();
}
