/* A stand-in obs.dll for running a module under Wine without OBS: the libobs
 * functions the module imports (cmake/windows/obs.symbols), compiled against
 * libobs's own headers so that their ABI is the one the module was built
 * with. It records what the module hands over (log lines, registration,
 * pictures, audio) for the harness to read. */

#include "obs-standin.h"

#include <obs-module.h>
#include <util/base.h>
#include <util/bmem.h>
#include <util/platform.h>
#include <util/text-lookup.h>
#include <media-io/video-io.h>

#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static SRWLOCK lock = SRWLOCK_INIT;
static volatile LONG allocations;

/* ---- memory ---- */

void *bmalloc(size_t size)
{
	void *p = malloc(size ? size : 1);
	if (!p) {
		fprintf(stderr, "obs stand-in: out of memory\n");
		abort();
	}
	InterlockedIncrement(&allocations);
	return p;
}

void bfree(void *ptr)
{
	if (ptr) {
		InterlockedDecrement(&allocations);
		free(ptr);
	}
}

long standin_allocations(void)
{
	return allocations;
}

static char *copy_string(const char *s)
{
	size_t n = strlen(s) + 1;
	return memcpy(bmalloc(n), s, n);
}

/* ---- log ---- */

#define LOG_LINES 4096
static char log_lines[LOG_LINES][512];
static size_t log_total;

void blog(int level, const char *format, ...)
{
	char line[512];
	va_list args;
	va_start(args, format);
	vsnprintf(line, sizeof(line), format, args);
	va_end(args);

	AcquireSRWLockExclusive(&lock);
	if (log_total < LOG_LINES)
		memcpy(log_lines[log_total++], line, sizeof(line));
	printf("log %d: %s\n", level, line);
	fflush(stdout);
	ReleaseSRWLockExclusive(&lock);
}

size_t standin_log_count(void)
{
	AcquireSRWLockShared(&lock);
	size_t n = log_total;
	ReleaseSRWLockShared(&lock);
	return n;
}

bool standin_log_line(size_t index, char *out, size_t size)
{
	AcquireSRWLockShared(&lock);
	bool ok = index < log_total;
	if (ok)
		snprintf(out, size, "%s", log_lines[index]);
	ReleaseSRWLockShared(&lock);
	return ok;
}

/* ---- settings ---- */

enum kind { K_NONE, K_INT, K_DOUBLE, K_BOOL, K_STRING };
struct value {
	enum kind kind;
	long long i;
	double d;
	char *s;
};
struct item {
	char name[64];
	struct value user, def;
};
#define DATA_ITEMS 64
struct obs_data {
	volatile LONG refs;
	size_t count;
	struct item items[DATA_ITEMS];
};

obs_data_t *standin_data_create(void)
{
	obs_data_t *data = bmalloc(sizeof(*data));
	memset(data, 0, sizeof(*data));
	data->refs = 1;
	return data;
}

static void value_clear(struct value *v)
{
	bfree(v->s);
	memset(v, 0, sizeof(*v));
}

void obs_data_release(obs_data_t *data)
{
	if (!data || InterlockedDecrement(&data->refs) > 0)
		return;
	for (size_t i = 0; i < data->count; i++) {
		value_clear(&data->items[i].user);
		value_clear(&data->items[i].def);
	}
	bfree(data);
}

static struct item *find(obs_data_t *data, const char *name, bool add)
{
	for (size_t i = 0; i < data->count; i++)
		if (strcmp(data->items[i].name, name) == 0)
			return &data->items[i];
	if (!add)
		return NULL;
	if (data->count == DATA_ITEMS || strlen(name) >= sizeof(data->items[0].name)) {
		fprintf(stderr, "obs stand-in: settings item %s does not fit\n", name);
		abort();
	}
	struct item *item = &data->items[data->count++];
	memset(item, 0, sizeof(*item));
	strcpy(item->name, name);
	return item;
}

/* The user value when there is one, else the default. */
static const struct value *current(obs_data_t *data, const char *name)
{
	struct item *item = find(data, name, false);
	if (!item)
		return NULL;
	return item->user.kind != K_NONE ? &item->user : item->def.kind != K_NONE ? &item->def : NULL;
}

static void set(obs_data_t *data, const char *name, bool user, struct value v)
{
	struct value *slot = user ? &find(data, name, true)->user : &find(data, name, true)->def;
	value_clear(slot);
	*slot = v;
}

static void set_number(obs_data_t *data, const char *name, bool user, enum kind kind, long long i, double d)
{
	struct value v = {kind, i, d, NULL};
	set(data, name, user, v);
}

static void set_text(obs_data_t *data, const char *name, bool user, const char *text)
{
	struct value v = {K_STRING, 0, 0, copy_string(text ? text : "")};
	set(data, name, user, v);
}

void obs_data_set_int(obs_data_t *data, const char *name, long long val)
{
	set_number(data, name, true, K_INT, val, 0);
}
void obs_data_set_bool(obs_data_t *data, const char *name, bool val)
{
	set_number(data, name, true, K_BOOL, val, 0);
}
void obs_data_set_string(obs_data_t *data, const char *name, const char *val)
{
	set_text(data, name, true, val);
}
void standin_data_set_double(obs_data_t *data, const char *name, double val)
{
	set_number(data, name, true, K_DOUBLE, 0, val);
}
void obs_data_set_default_int(obs_data_t *data, const char *name, long long val)
{
	set_number(data, name, false, K_INT, val, 0);
}
void obs_data_set_default_double(obs_data_t *data, const char *name, double val)
{
	set_number(data, name, false, K_DOUBLE, 0, val);
}
void obs_data_set_default_bool(obs_data_t *data, const char *name, bool val)
{
	set_number(data, name, false, K_BOOL, val, 0);
}
void obs_data_set_default_string(obs_data_t *data, const char *name, const char *val)
{
	set_text(data, name, false, val);
}

bool obs_data_has_user_value(obs_data_t *data, const char *name)
{
	struct item *item = find(data, name, false);
	return item && item->user.kind != K_NONE;
}

/* As libobs: numbers read as either kind, anything else as zero. */
long long obs_data_get_int(obs_data_t *data, const char *name)
{
	const struct value *v = current(data, name);
	return !v ? 0 : v->kind == K_INT ? v->i : v->kind == K_DOUBLE ? (long long)v->d : 0;
}
double obs_data_get_double(obs_data_t *data, const char *name)
{
	const struct value *v = current(data, name);
	return !v ? 0 : v->kind == K_DOUBLE ? v->d : v->kind == K_INT ? (double)v->i : 0;
}
bool obs_data_get_bool(obs_data_t *data, const char *name)
{
	const struct value *v = current(data, name);
	return v && v->kind == K_BOOL && v->i;
}
const char *obs_data_get_string(obs_data_t *data, const char *name)
{
	const struct value *v = current(data, name);
	return v && v->kind == K_STRING ? v->s : "";
}

/* ---- properties: kept as a tree so that lookups find what was added ---- */

struct obs_property {
	char name[64];
	obs_properties_t *group;
	obs_property_t *next;
	size_t list_items;
};
struct obs_properties {
	obs_property_t *first, *last;
	void *param;
	void (*destroy)(void *param);
};

obs_properties_t *obs_properties_create(void)
{
	obs_properties_t *props = bmalloc(sizeof(*props));
	memset(props, 0, sizeof(*props));
	return props;
}

void standin_properties_destroy(obs_properties_t *props)
{
	if (!props)
		return;
	for (obs_property_t *p = props->first, *next; p; p = next) {
		next = p->next;
		standin_properties_destroy(p->group);
		bfree(p);
	}
	if (props->destroy)
		props->destroy(props->param);
	bfree(props);
}

size_t standin_properties_count(obs_properties_t *props)
{
	size_t n = 0;
	for (obs_property_t *p = props ? props->first : NULL; p; p = p->next)
		n += 1 + standin_properties_count(p->group);
	return n;
}

static obs_property_t *add(obs_properties_t *props, const char *name)
{
	obs_property_t *p = bmalloc(sizeof(*p));
	memset(p, 0, sizeof(*p));
	snprintf(p->name, sizeof(p->name), "%s", name);
	if (props->last)
		props->last->next = p;
	else
		props->first = p;
	props->last = p;
	return p;
}

void obs_properties_set_param(obs_properties_t *props, void *param, void (*destroy)(void *param))
{
	if (props->destroy)
		props->destroy(props->param);
	props->param = param;
	props->destroy = destroy;
}
void *obs_properties_get_param(obs_properties_t *props)
{
	return props ? props->param : NULL;
}

obs_property_t *obs_properties_get(obs_properties_t *props, const char *name)
{
	for (obs_property_t *p = props ? props->first : NULL; p; p = p->next) {
		if (strcmp(p->name, name) == 0)
			return p;
		obs_property_t *inner = obs_properties_get(p->group, name);
		if (inner)
			return inner;
	}
	return NULL;
}

obs_property_t *obs_properties_add_bool(obs_properties_t *props, const char *name, const char *description)
{
	(void)description;
	return add(props, name);
}
obs_property_t *obs_properties_add_int(obs_properties_t *props, const char *name, const char *description, int min,
				       int max, int step)
{
	(void)description, (void)min, (void)max, (void)step;
	return add(props, name);
}
obs_property_t *obs_properties_add_int_slider(obs_properties_t *props, const char *name, const char *description,
					      int min, int max, int step)
{
	return obs_properties_add_int(props, name, description, min, max, step);
}
obs_property_t *obs_properties_add_float_slider(obs_properties_t *props, const char *name, const char *description,
						double min, double max, double step)
{
	(void)description, (void)min, (void)max, (void)step;
	return add(props, name);
}
obs_property_t *obs_properties_add_text(obs_properties_t *props, const char *name, const char *description,
					enum obs_text_type type)
{
	(void)description, (void)type;
	return add(props, name);
}
obs_property_t *obs_properties_add_list(obs_properties_t *props, const char *name, const char *description,
					enum obs_combo_type type, enum obs_combo_format format)
{
	(void)description, (void)type, (void)format;
	return add(props, name);
}
obs_property_t *obs_properties_add_button2(obs_properties_t *props, const char *name, const char *text,
					   obs_property_clicked_t callback, void *priv)
{
	(void)text, (void)callback, (void)priv;
	return add(props, name);
}
obs_property_t *obs_properties_add_group(obs_properties_t *props, const char *name, const char *description,
					 enum obs_group_type type, obs_properties_t *group)
{
	(void)description, (void)type;
	obs_property_t *p = add(props, name);
	p->group = group;
	return p;
}

size_t obs_property_list_add_string(obs_property_t *p, const char *name, const char *val)
{
	(void)name, (void)val;
	return p->list_items++;
}
size_t obs_property_list_add_int(obs_property_t *p, const char *name, long long val)
{
	(void)name, (void)val;
	return p->list_items++;
}
void obs_property_list_clear(obs_property_t *p)
{
	p->list_items = 0;
}

/* What only a properties panel shows. */
void obs_property_set_description(obs_property_t *p, const char *description)
{
	(void)p, (void)description;
}
void obs_property_set_long_description(obs_property_t *p, const char *long_description)
{
	(void)p, (void)long_description;
}
void obs_property_set_visible(obs_property_t *p, bool visible)
{
	(void)p, (void)visible;
}
void obs_property_set_modified_callback(obs_property_t *p, obs_property_modified_t modified)
{
	(void)p, (void)modified;
}

/* ---- module files, configuration and text ---- */

static char data_folder[MAX_PATH], config_folder[MAX_PATH];

void standin_set_module_paths(const char *data_path, const char *config_path)
{
	snprintf(data_folder, sizeof(data_folder), "%s", data_path);
	snprintf(config_folder, sizeof(config_folder), "%s", config_path);
}

static char *join(const char *folder, const char *file)
{
	size_t n = strlen(folder) + strlen(file) + 2;
	char *path = bmalloc(n);
	snprintf(path, n, "%s/%s", folder, file);
	return path;
}

char *obs_find_module_file(obs_module_t *module, const char *file)
{
	(void)module;
	char *path = join(data_folder, file ? file : "");
	struct stat st;
	if (stat(path, &st) != 0) {
		bfree(path);
		return NULL;
	}
	return path;
}

char *obs_module_get_config_path(obs_module_t *module, const char *file)
{
	(void)module;
	return join(config_folder, file ? file : "");
}

char *os_quick_read_utf8_file(const char *path)
{
	FILE *f = fopen(path, "rb");
	if (!f)
		return NULL;
	fseek(f, 0, SEEK_END);
	long size = ftell(f);
	fseek(f, 0, SEEK_SET);
	char *text = bmalloc((size_t)size + 1);
	size_t got = fread(text, 1, (size_t)size, f);
	fclose(f);
	text[got] = 0;
	if (got >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0)
		memmove(text, text + 3, got - 2);
	return text;
}

bool os_quick_write_utf8_file(const char *path, const char *str, size_t len, bool marker)
{
	FILE *f = fopen(path, "wb");
	if (!f)
		return false;
	bool ok = (!marker || fwrite("\xEF\xBB\xBF", 1, 3, f) == 3) && fwrite(str, 1, len, f) == len;
	return fclose(f) == 0 && ok;
}

int os_mkdirs(const char *path)
{
	DWORD attributes = GetFileAttributesA(path);
	if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
		return MKDIR_EXISTS;
	char partial[MAX_PATH];
	snprintf(partial, sizeof(partial), "%s", path);
	for (char *c = partial + 1; *c; c++) {
		if (*c != '/' && *c != '\\')
			continue;
		char kept = *c;
		*c = 0;
		CreateDirectoryA(partial, NULL);
		*c = kept;
	}
	return CreateDirectoryA(partial, NULL) ? MKDIR_SUCCESS : MKDIR_ERROR;
}

struct os_dir {
	int unused;
};

os_dir_t *os_opendir(const char *path)
{
	DWORD attributes = GetFileAttributesA(path);
	if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
		return NULL;
	return bmalloc(sizeof(os_dir_t));
}

void os_closedir(os_dir_t *dir)
{
	bfree(dir);
}

uint64_t os_gettime_ns(void)
{
	LARGE_INTEGER now, frequency;
	QueryPerformanceCounter(&now);
	QueryPerformanceFrequency(&frequency);
	return (uint64_t)((double)now.QuadPart * 1e9 / (double)frequency.QuadPart);
}

/* Sleeps until the target, the last millisecond spun; false when it had
 * passed. */
bool os_sleepto_ns(uint64_t target)
{
	uint64_t now = os_gettime_ns();
	if (now >= target)
		return false;
	while (target - now > 2000000) {
		Sleep(1);
		now = os_gettime_ns();
	}
	while (os_gettime_ns() < target)
		;
	return true;
}

/* A 30 fps canvas whose ticks fall on whole intervals of os_gettime_ns. */
bool obs_get_video_info(struct obs_video_info *ovi)
{
	memset(ovi, 0, sizeof(*ovi));
	ovi->fps_num = 30;
	ovi->fps_den = 1;
	ovi->base_width = ovi->output_width = 1280;
	ovi->base_height = ovi->output_height = 720;
	return true;
}

uint64_t obs_get_video_frame_time(void)
{
	const uint64_t tick = 1000000000ULL / 30;
	return os_gettime_ns() / tick * tick;
}

/* Locale files: Key="value" lines, \n and \" escapes in the value. */
struct text_lookup {
	size_t count;
	char *keys[1024], *values[1024];
};

static void lookup_add_file(lookup_t *lookup, const char *path)
{
	char *text = os_quick_read_utf8_file(path);
	if (!text)
		return;
	for (char *line = strtok(text, "\r\n"); line; line = strtok(NULL, "\r\n")) {
		char *eq = strchr(line, '=');
		if (!eq || line[0] == '#' || line[0] == ';' || line[0] == '[' || lookup->count == 1024)
			continue;
		*eq = 0;
		char *value = eq + 1, *end = value + strlen(value);
		if (*value == '"' && end > value + 1 && end[-1] == '"')
			*--end = 0, value++;
		char *out = value;
		for (char *in = value; *in; in++)
			*out++ = (*in == '\\' && in[1]) ? (++in, *in == 'n' ? '\n' : *in) : *in;
		*out = 0;
		lookup->keys[lookup->count] = copy_string(line);
		lookup->values[lookup->count++] = copy_string(value);
	}
	bfree(text);
}

lookup_t *text_lookup_create(const char *path)
{
	lookup_t *lookup = bmalloc(sizeof(*lookup));
	memset(lookup, 0, sizeof(*lookup));
	lookup_add_file(lookup, path);
	return lookup;
}

void text_lookup_destroy(lookup_t *lookup)
{
	if (!lookup)
		return;
	for (size_t i = 0; i < lookup->count; i++) {
		bfree(lookup->keys[i]);
		bfree(lookup->values[i]);
	}
	bfree(lookup);
}

/* The last file read wins, so the chosen locale overrides the default one. */
bool text_lookup_getstr(lookup_t *lookup, const char *key, const char **out)
{
	for (size_t i = lookup ? lookup->count : 0; i > 0; i--) {
		if (strcmp(lookup->keys[i - 1], key) == 0) {
			*out = lookup->values[i - 1];
			return true;
		}
	}
	return false;
}

lookup_t *obs_module_load_locale(obs_module_t *module, const char *default_locale, const char *locale)
{
	char file[64];
	snprintf(file, sizeof(file), "locale/%s.ini", default_locale);
	char *path = obs_find_module_file(module, file);
	if (!path)
		return NULL;
	lookup_t *lookup = text_lookup_create(path);
	bfree(path);
	snprintf(file, sizeof(file), "locale/%s.ini", locale);
	if (strcmp(locale, default_locale) != 0 && (path = obs_find_module_file(module, file))) {
		lookup_add_file(lookup, path);
		bfree(path);
	}
	return lookup;
}

/* ---- modules ---- */

#ifndef STANDIN_LIBOBS_VER
#define STANDIN_LIBOBS_VER LIBOBS_API_VER
#endif

uint32_t standin_libobs_version(void)
{
	return STANDIN_LIBOBS_VER;
}

bool standin_module_accepted(uint32_t module_ver)
{
	if (STANDIN_LIBOBS_VER < MAKE_SEMANTIC_VERSION(32, 0, 0))
		return true;
	/* The patch part is not compared. */
	if ((module_ver & 0xFFFF0000u) > (STANDIN_LIBOBS_VER & 0xFFFF0000u)) {
		blog(LOG_WARNING, "Module compiled with newer libobs %u.%u", module_ver >> 24,
		     (module_ver >> 16) & 0xFF);
		return false;
	}
	return true;
}

/* OBS's module path for all users, "obs-studio/plugins/%module%" under the
 * common application data folder, with bin/64bit and data below it; the
 * folders under plugins/ are the candidate names. */
size_t standin_find_modules(void (*found)(const char *name, const char *bin, const char *data, void *param),
			    void *param)
{
	char program_data[MAX_PATH], pattern[MAX_PATH + 32];
	if (SHGetFolderPathA(NULL, CSIDL_COMMON_APPDATA, NULL, SHGFP_TYPE_CURRENT, program_data) != S_OK)
		return 0;
	snprintf(pattern, sizeof(pattern), "%s/obs-studio/plugins/*", program_data);
	WIN32_FIND_DATAA entry;
	HANDLE search = FindFirstFileA(pattern, &entry);
	if (search == INVALID_HANDLE_VALUE)
		return 0;
	size_t count = 0;
	do {
		const char *name = entry.cFileName;
		if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || strcmp(name, ".") == 0 ||
		    strcmp(name, "..") == 0)
			continue;
		char bin[3 * MAX_PATH], data[3 * MAX_PATH];
		snprintf(bin, sizeof(bin), "%s/obs-studio/plugins/%s/bin/64bit/%s.dll", program_data, name, name);
		snprintf(data, sizeof(data), "%s/obs-studio/plugins/%s/data", program_data, name);
		if (GetFileAttributesA(bin) == INVALID_FILE_ATTRIBUTES)
			continue;
		found(name, bin, data, param);
		count++;
	} while (FindNextFileA(search, &entry));
	FindClose(search);
	return count;
}

/* ---- sources ---- */

static struct obs_source_info registered;
static size_t registered_size;

void obs_register_source_s(const struct obs_source_info *info, size_t size)
{
	/* As libobs does: a record larger than the one of its own headers comes
	 * from a module built for a later libobs, and is refused. */
	if (size > sizeof(registered)) {
		blog(LOG_ERROR, "obs_register_source: Tried to register obs_source_info with size %llu, more than %llu",
		     (unsigned long long)size, (unsigned long long)sizeof(registered));
		return;
	}
	memset(&registered, 0, sizeof(registered));
	memcpy(&registered, info, size);
	registered_size = size;
}

const struct obs_source_info *standin_registered(size_t *size)
{
	*size = registered_size;
	return registered_size ? &registered : NULL;
}

/* libobs 29's record ends with video_get_color_space; what later versions
 * add comes after it. */
size_t standin_record_size_29(void)
{
	return offsetof(struct obs_source_info, video_get_color_space) + sizeof(registered.video_get_color_space);
}

size_t standin_registered_past_29(size_t *set)
{
	const size_t end_29 = standin_record_size_29();
	const size_t end = registered_size < sizeof(registered) ? registered_size : sizeof(registered);
	const uint8_t *bytes = (const uint8_t *)&registered;
	*set = 0;
	for (size_t i = end_29; i < end; i++)
		*set += bytes[i] != 0;
	return end > end_29 ? end - end_29 : 0;
}

struct obs_source {
	volatile LONG refs;
	obs_data_t *settings;
	void *context;
};
struct obs_weak_source {
	obs_source_t *source;
};

obs_source_t *standin_source_create(obs_data_t *settings)
{
	obs_source_t *source = bmalloc(sizeof(*source));
	source->refs = 1;
	source->settings = settings;
	source->context = NULL;
	InterlockedIncrement(&settings->refs);
	return source;
}

void standin_source_set_context(obs_source_t *source, void *context)
{
	source->context = context;
}

long standin_source_refs(obs_source_t *source)
{
	return source->refs;
}

void standin_source_destroy(obs_source_t *source)
{
	obs_data_release(source->settings);
	bfree(source);
}

obs_data_t *obs_source_get_settings(const obs_source_t *source)
{
	InterlockedIncrement(&source->settings->refs);
	return source->settings;
}

void obs_source_release(obs_source_t *source)
{
	if (source)
		InterlockedDecrement(&source->refs);
}

obs_weak_source_t *obs_source_get_weak_source(obs_source_t *source)
{
	obs_weak_source_t *weak = bmalloc(sizeof(*weak));
	weak->source = source;
	return weak;
}

obs_source_t *obs_weak_source_get_source(obs_weak_source_t *weak)
{
	if (!weak)
		return NULL;
	InterlockedIncrement(&weak->source->refs);
	return weak->source;
}

void obs_weak_source_release(obs_weak_source_t *weak)
{
	bfree(weak);
}

void obs_source_set_async_unbuffered(obs_source_t *source, bool unbuffered)
{
	(void)source, (void)unbuffered;
}

/* Only a properties panel refreshes. */
void obs_source_update_properties(obs_source_t *source)
{
	(void)source;
}

/* ---- pictures and audio ---- */

#define RECORDS 4096
static struct standin_video videos[RECORDS];
static size_t video_total;
static struct standin_audio audios[RECORDS];
static size_t audio_total;

static uint64_t fnv(uint64_t h, const uint8_t *p, size_t n)
{
	for (size_t i = 0; i < n; i++)
		h = (h ^ p[i]) * 1099511628211ull;
	return h;
}

static void sample(const struct obs_source_frame *f, uint32_t x, uint32_t y, uint8_t out[3])
{
	out[0] = f->data[0][(size_t)y * f->linesize[0] + x];
	out[1] = f->data[1][(size_t)(y / 2) * f->linesize[1] + x / 2];
	out[2] = f->data[2][(size_t)(y / 2) * f->linesize[2] + x / 2];
}

/* The MD5 of an I420 picture's visible bytes, plane after plane, row after
 * row (each chroma plane half the size, rounded up), through Windows' own
 * MD5; the byte count in r->packed_size. Left empty when the system refuses. */
static void packed_md5(const struct obs_source_frame *f, struct standin_video *r)
{
	HCRYPTPROV provider;
	HCRYPTHASH hash;
	if (!CryptAcquireContextW(&provider, NULL, NULL, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
		return;
	if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
		BOOL ok = TRUE;
		for (int plane = 0; plane < 3; plane++) {
			uint32_t w = plane ? (f->width + 1) / 2 : f->width;
			uint32_t h = plane ? (f->height + 1) / 2 : f->height;
			for (uint32_t y = 0; y < h; y++)
				ok &= CryptHashData(hash, f->data[plane] + (size_t)y * f->linesize[plane], w, 0);
			r->packed_size += w * h;
		}
		BYTE digest[16];
		DWORD length = sizeof(digest);
		if (ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == sizeof(digest))
			for (int i = 0; i < 16; i++)
				snprintf(r->md5 + 2 * i, 3, "%02x", digest[i]);
		CryptDestroyHash(hash);
	}
	CryptReleaseContext(provider, 0);
}

void obs_source_output_video(obs_source_t *source, const struct obs_source_frame *frame)
{
	(void)source;
	if (!frame)
		return;
	struct standin_video r;
	memset(&r, 0, sizeof(r));
	r.width = frame->width;
	r.height = frame->height;
	r.format = frame->format;
	r.timestamp = frame->timestamp;
	r.full_range = frame->full_range;
	r.flip = frame->flip;
	r.flags = frame->flags;
	r.trc = frame->trc;
	r.max_luminance = frame->max_luminance;
	memcpy(r.range_min, frame->color_range_min, sizeof(r.range_min));
	memcpy(r.range_max, frame->color_range_max, sizeof(r.range_max));
	r.thread = GetCurrentThreadId();
	r.counter = -1;
	if (frame->format == VIDEO_FORMAT_I420)
		packed_md5(frame, &r);
	if (frame->format == VIDEO_FORMAT_I420 && r.width >= 64 && r.height >= 4) {
		uint64_t h = 14695981039346656037ull;
		for (uint32_t y = 0; y < r.height; y++)
			h = fnv(h, frame->data[0] + (size_t)y * frame->linesize[0], r.width);
		for (int plane = 1; plane < 3; plane++)
			for (uint32_t y = 0; y < r.height / 2; y++)
				h = fnv(h, frame->data[plane] + (size_t)y * frame->linesize[plane], r.width / 2);
		r.checksum = h;
		sample(frame, r.width / 4, r.height / 4, r.red_quarter);
		sample(frame, r.width * 3 / 4, r.height / 4, r.blue_quarter);
		uint32_t s = (r.width / 2 / 16) & ~1u;
		if (s < 2)
			s = 2;
		r.counter = 0;
		for (uint32_t i = 0; i < 16; i++)
			r.counter =
				r.counter * 2 +
				(frame->data[0][(size_t)(s / 2) * frame->linesize[0] + r.width / 2 + i * s + s / 2] >
				 125);
	}
	AcquireSRWLockExclusive(&lock);
	if (video_total < RECORDS)
		videos[video_total++] = r;
	ReleaseSRWLockExclusive(&lock);
}

void obs_source_output_audio(obs_source_t *source, const struct obs_source_audio *audio)
{
	(void)source;
	struct standin_audio r;
	r.frames = audio->frames;
	r.samples_per_sec = audio->samples_per_sec;
	r.speakers = audio->speakers;
	r.format = audio->format;
	r.timestamp = audio->timestamp;
	r.peak = 0;
	if (audio->format == AUDIO_FORMAT_FLOAT_PLANAR && audio->data[0]) {
		const float *samples = (const float *)audio->data[0];
		for (uint32_t i = 0; i < audio->frames; i++)
			if (fabsf(samples[i]) > r.peak)
				r.peak = fabsf(samples[i]);
	}
	AcquireSRWLockExclusive(&lock);
	if (audio_total < RECORDS)
		audios[audio_total++] = r;
	ReleaseSRWLockExclusive(&lock);
}

/* A table's count and its records, read under the lock while the plug-in's
 * threads may still add to it. */
static size_t count_of(const size_t *total)
{
	AcquireSRWLockShared(&lock);
	size_t n = *total;
	ReleaseSRWLockShared(&lock);
	return n;
}

static bool copy_at(const void *records, size_t record_size, const size_t *total, size_t index, void *out)
{
	AcquireSRWLockShared(&lock);
	bool ok = index < *total;
	if (ok)
		memcpy(out, (const char *)records + index * record_size, record_size);
	ReleaseSRWLockShared(&lock);
	return ok;
}

size_t standin_video_count(void)
{
	return count_of(&video_total);
}

bool standin_video_at(size_t index, struct standin_video *out)
{
	return copy_at(videos, sizeof(*out), &video_total, index, out);
}

size_t standin_audio_count(void)
{
	return count_of(&audio_total);
}

bool standin_audio_at(size_t index, struct standin_audio *out)
{
	return copy_at(audios, sizeof(*out), &audio_total, index, out);
}

/* BT.601 or BT.709 YUV to RGB for limited or full range, as libobs lays out
 * the matrix (rows of a 4x4, applied to (Y, U, V, 1)). */
bool video_format_get_parameters_for_format(enum video_colorspace color_space, enum video_range_type range,
					    enum video_format format, float matrix[16], float min_range[3],
					    float max_range[3])
{
	(void)format;
	bool full = range == VIDEO_RANGE_FULL;
	double kr = color_space == VIDEO_CS_601 ? 0.299 : 0.2126;
	double kb = color_space == VIDEO_CS_601 ? 0.114 : 0.0722;
	double kg = 1 - kr - kb;
	double ys = full ? 1.0 : 255.0 / 219.0, cs = full ? 1.0 : 255.0 / 224.0;
	double yo = full ? 0 : 16.0 / 255.0, co = 128.0 / 255.0;
	double rv = 2 * (1 - kr) * cs, bu = 2 * (1 - kb) * cs;
	double gu = -bu * kb / kg, gv = -rv * kr / kg;
	double m[16] = {ys, 0,  rv, -ys * yo - rv * co, ys, gu, gv, -ys * yo - (gu + gv) * co,
			ys, bu, 0,  -ys * yo - bu * co, 0,  0,  0,  1};
	for (int i = 0; i < 16; i++)
		matrix[i] = (float)m[i];
	for (int i = 0; i < 3; i++) {
		min_range[i] = full ? 0.0f : 16.0f / 255.0f;
		max_range[i] = full ? 1.0f : (i == 0 ? 235.0f : 240.0f) / 255.0f;
	}
	return true;
}
