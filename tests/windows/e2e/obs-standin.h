/* What the stand-in obs.dll records of a module's calls, and the few calls a
 * harness makes to set it up and read the records. Everything else obs.dll
 * exports is libobs's own API, compiled against libobs's headers. */
#pragma once

#include <obs.h>

#ifdef __cplusplus
extern "C" {
#endif

#define STANDIN_API __declspec(dllexport)

struct standin_video {
	uint32_t width, height;
	int format; /* enum video_format */
	uint64_t timestamp;
	bool full_range;
	float range_min[3], range_max[3];
	bool flip;              /* upside down */
	uint8_t flags;          /* OBS_SOURCE_FRAME_* */
	uint8_t trc;            /* enum video_trc */
	uint16_t max_luminance; /* nits, 0: libobs's default */
	uint64_t checksum;      /* FNV-1a over the visible bytes of the three planes */
	uint32_t packed_size;   /* I420: the visible bytes of the three planes */
	char md5[33];           /* I420: their MD5 in hex, rows packed, as ffmpeg's framemd5 writes it */
	uint8_t red_quarter[3], blue_quarter[3]; /* Y, U, V at the middle of each */
	int counter;                             /* the 16-block frame counter at the top of the right half */
	unsigned long thread;                    /* the id of the thread that handed it over */
};

struct standin_audio {
	uint32_t frames, samples_per_sec;
	int speakers, format;
	uint64_t timestamp;
	float peak; /* largest magnitude in the first plane */
};

/* The folders obs_find_module_file and obs_module_get_config_path answer from. */
STANDIN_API void standin_set_module_paths(const char *data_path, const char *config_path);

/* The libobs version the stand-in is built as: by default that of the headers
 * it is compiled against (STANDIN_LIBOBS_VER may set another, e.g. 32.1.0
 * with 32.2's headers). */
STANDIN_API uint32_t standin_libobs_version(void);
/* obs_open_module's version gate, as libobs 32.0 and later apply it to a
 * module's obs_module_ver (earlier versions accept every module); logs the
 * refusal as libobs does. */
STANDIN_API bool standin_module_accepted(uint32_t module_ver);
/* As OBS for Windows finds the plug-ins installed for all users: every folder
 * NAME under <ProgramData>/obs-studio/plugins/ whose bin/64bit/NAME.dll
 * exists; found() gets that file and NAME's data folder. Returns the count. */
STANDIN_API size_t standin_find_modules(void (*found)(const char *name, const char *bin, const char *data, void *param),
					void *param);

STANDIN_API const struct obs_source_info *standin_registered(size_t *size);
/* The size of libobs 29's source record. */
STANDIN_API size_t standin_record_size_29(void);
/* How many bytes of the registered record lie past libobs 29's record (0 with
 * 29's headers), and in *set how many of them are not zero. */
STANDIN_API size_t standin_registered_past_29(size_t *set);

STANDIN_API obs_data_t *standin_data_create(void);
STANDIN_API void standin_data_set_double(obs_data_t *data, const char *name, double val);
STANDIN_API obs_source_t *standin_source_create(obs_data_t *settings);
STANDIN_API void standin_source_set_context(obs_source_t *source, void *context);
STANDIN_API long standin_source_refs(obs_source_t *source);
STANDIN_API void standin_source_destroy(obs_source_t *source);
STANDIN_API size_t standin_properties_count(obs_properties_t *props);
STANDIN_API void standin_properties_destroy(obs_properties_t *props);

STANDIN_API size_t standin_log_count(void);
STANDIN_API bool standin_log_line(size_t index, char *out, size_t size);
STANDIN_API size_t standin_video_count(void);
STANDIN_API bool standin_video_at(size_t index, struct standin_video *out);
STANDIN_API size_t standin_audio_count(void);
STANDIN_API bool standin_audio_at(size_t index, struct standin_audio *out);
STANDIN_API long standin_allocations(void);

#ifdef __cplusplus
}
#endif
