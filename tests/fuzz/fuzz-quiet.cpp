#include "fuzz-quiet.h"

extern "C" {
#include <libavutil/log.h>
}

#include <util/base.h>

#include <cstdarg>

__attribute__((weak)) void fuzz_setup() {}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	av_log_set_level(AV_LOG_QUIET);
	base_set_log_handler([](int, const char *, va_list, void *) {}, nullptr);
	fuzz_setup();
	return 0;
}
