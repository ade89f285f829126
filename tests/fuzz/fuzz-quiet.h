#pragma once
/* libobs and FFmpeg log as they work; a fuzz target keeps them silent so that
 * libFuzzer's own lines stay readable at millions of executions. */

extern "C" {
#include <libavutil/log.h>
}

#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

inline void fuzz_quiet_logs()
{
	av_log_set_level(AV_LOG_QUIET);
	base_set_log_handler([](int, const char *, va_list, void *) {}, nullptr);
}

/* Ends the run as a crash, which libFuzzer reports and keeps the input of. */
#define FUZZ_CHECK(condition)                                                                               \
	do {                                                                                                \
		if (!(condition)) {                                                                         \
			fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
			abort();                                                                            \
		}                                                                                           \
	} while (0)
