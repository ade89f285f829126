#pragma once
/* The plug-in's own interface language: seven languages, the choice kept in
 * language.txt in the module's configuration folder, text lookups that fall
 * back to OBS's locale texts of the module. */

#include <obs-module.h>

struct LanguageEntry {
	const char *code;
	const char *flag;
	const char *name;
};

extern "C" {
EXPORT extern const LanguageEntry nx_langs[];
EXPORT extern const int nx_lang_count;
}

MODULE_EXPORT void nx_lang_init(void);
MODULE_EXPORT void nx_lang_free(void);
MODULE_EXPORT const char *nx_text(const char *key);
MODULE_EXPORT const char *nx_lang_get(void);
MODULE_EXPORT void nx_lang_set(const char *code);
