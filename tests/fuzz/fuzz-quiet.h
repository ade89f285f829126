#pragma once
/* What every fuzz target shares: libobs and FFmpeg kept silent (fuzz-quiet.cpp
 * does it in libFuzzer's start-up hook, so that libFuzzer's own lines stay
 * readable at millions of executions), a per-target set-up, and a check that
 * ends the run as a crash. */

#include <cstdio>
#include <cstdlib>

/* Called once at start-up after the logs are silenced. A target that needs
 * more than silence (a server to talk to) defines its own; the default does
 * nothing. */
void fuzz_setup();

/* Ends the run as a crash, which libFuzzer reports and keeps the input of. */
#define FUZZ_CHECK(condition)                                                                               \
	do {                                                                                                \
		if (!(condition)) {                                                                         \
			fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
			abort();                                                                            \
		}                                                                                           \
	} while (0)
