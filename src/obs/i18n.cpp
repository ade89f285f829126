#include "obs/i18n.h"
#include "log/ostrelin-log.h"

#include <util/base.h>
#include <util/bmem.h>
#include <util/platform.h>
#include <util/text-lookup.h>

#include <cstdio>
#include <cstring>

extern "C" {
const LanguageEntry nx_langs[] = {
	{"zh-TW", "\U0001F1F9\U0001F1FC", "繁體中文"},  /* flag: regional indicators TW */
	{"en-US", "\U0001F1FA\U0001F1F8", "English"},   /* flag: regional indicators US */
	{"zh-CN", "\U0001F1E8\U0001F1F3", "简体中文"},  /* flag: regional indicators CN */
	{"ja-JP", "\U0001F1EF\U0001F1F5", "日本語"},    /* flag: regional indicators JP */
	{"ko-KR", "\U0001F1F0\U0001F1F7", "한국어"},    /* flag: regional indicators KR */
	{"es-ES", "\U0001F1EA\U0001F1F8", "Español"},   /* flag: regional indicators ES */
	{"pt-BR", "\U0001F1E7\U0001F1F7", "Português"}, /* flag: regional indicators BR */
};
const int nx_lang_count = 7;
}

static_assert(sizeof(nx_langs) / sizeof(nx_langs[0]) == 7);

static char g_code[16];
static lookup_t *g_lookup;
/* Full path of language.txt, filled anew before each read or write. */
static char path[512];

/* Cuts `text` at the later of its last '/' and last '\\', leaving the folder
 * part. False (text unchanged) when it holds neither separator. */
bool nx_cut_to_folder(char *text)
{
	char *cut = nullptr;
	for (char *c = text; *c; c++)
		if (*c == '/' || *c == '\\')
			cut = c;
	if (!cut)
		return false;
	*cut = '\0';
	return true;
}

static bool fill_config_path(void)
{
	char *config = obs_module_get_config_path(obs_current_module(), "language.txt");
	if (!config)
		return false;
	snprintf(path, sizeof(path), "%s", config);
	bfree(config);
	return true;
}

static void load_lookup(void)
{
	if (g_lookup) {
		text_lookup_destroy(g_lookup);
		g_lookup = nullptr;
	}
	if (!g_code[0])
		return;

	char name[64];
	snprintf(name, sizeof(name), "locale/%s.ini", g_code);
	char *file = obs_find_module_file(obs_current_module(), name);
	if (!file) {
		ostrelin_log(LOG_WARNING, LOGTEXT_LOCALE_FILE_MISSING, name);
		return;
	}
	g_lookup = text_lookup_create(file);
	if (!g_lookup)
		ostrelin_log(LOG_WARNING, LOGTEXT_LOCALE_FILE_UNREADABLE, file);
	bfree(file);
}

static bool is_known_code(const char *code)
{
	for (int i = 0; i < nx_lang_count; i++)
		if (strcmp(code, nx_langs[i].code) == 0)
			return true;
	return false;
}

static void drop_line_ends(char *text)
{
	size_t len = strlen(text);
	while (len > 0 && (text[len - 1] == '\r' || text[len - 1] == '\n'))
		text[--len] = '\0';
}

/* Reads the first line of language.txt, at most 15 characters, without its
 * line ends; empty when the file is missing or holds nothing. The file is read
 * and written by libobs itself: on Windows OBS and this module each have their
 * own C runtime, and a FILE* from one must not be used by the other. */
static bool is_folder(const char *name)
{
	os_dir_t *dir = os_opendir(name);
	if (dir)
		os_closedir(dir);
	return dir != nullptr;
}

static void read_stored_code(char (&text)[16])
{
	memset(text, 0, sizeof(text));
	/* Some systems open a folder as a file whose size is unknown and would
	 * make libobs try to allocate it whole: a folder holds no choice. */
	if (is_folder(path))
		return;
	char *contents = os_quick_read_utf8_file(path);
	if (!contents)
		return;
	size_t len = strcspn(contents, "\n");
	if (contents[len] == '\n')
		len++; /* the line end belongs to the line, as fgets reads it */
	memcpy(text, contents, len < sizeof(text) - 1 ? len : sizeof(text) - 1);
	bfree(contents);
	drop_line_ends(text);
}

void nx_lang_init(void)
{
	/* The library stays mapped when OBS unloads the module, so a later load
	 * in the same process starts from a clean state here. */
	g_code[0] = '\0';
	load_lookup();

	if (!fill_config_path())
		return;

	char text[16];
	read_stored_code(text);
	if (!text[0])
		return;

	if (!is_known_code(text)) {
		ostrelin_log(LOG_WARNING, LOGTEXT_LANGUAGE_UNKNOWN, text);
		return;
	}
	snprintf(g_code, sizeof(g_code), "%s", text);
	load_lookup();
	ostrelin_log(LOG_INFO, LOGTEXT_LANGUAGE, g_code);
}

void nx_lang_free(void)
{
	if (g_lookup) {
		text_lookup_destroy(g_lookup);
		g_lookup = nullptr;
	}
}

const char *nx_text(const char *key)
{
	const char *text = nullptr;
	if (g_lookup && text_lookup_getstr(g_lookup, key, &text))
		return text;
	return obs_module_text(key);
}

const char *nx_lang_get(void)
{
	return g_code;
}

void nx_lang_set(const char *code)
{
	if (!code)
		code = "";
	if (strcmp(code, g_code) == 0)
		return;

	snprintf(g_code, sizeof(g_code), "%s", code);
	load_lookup();

	if (!fill_config_path())
		return;

	char folder[sizeof(path)];
	memcpy(folder, path, sizeof(path));
	if (nx_cut_to_folder(folder))
		os_mkdirs(folder);

	/* The code alone: no byte-order mark, no line end. */
	if (!os_quick_write_utf8_file(path, g_code, strlen(g_code), false))
		ostrelin_log(LOG_WARNING, LOGTEXT_LANGUAGE_NOT_SAVED, path);
}
