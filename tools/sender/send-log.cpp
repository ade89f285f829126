#include "send-log.h"

#include <cstdio>
#include <ctime>

static FILE *g_log;

bool send_log_open(const char *path)
{
	g_log = fopen(path, "w");
	if (!g_log)
		perror("ostrelin-sender: --send-log");
	return g_log != nullptr;
}

bool send_log_enabled(void)
{
	return g_log != nullptr;
}

int64_t send_log_now_ns(void)
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

/* Lines are flushed at once: a reader follows the file while it grows. */
void send_log_open_connection(long connection)
{
	if (g_log) {
		fprintf(g_log, "open %ld %lld\n", connection, (long long)send_log_now_ns());
		fflush(g_log);
	}
}

void send_log_video(long connection, int64_t frame, int width, int height, uint64_t timestamp)
{
	if (g_log) {
		fprintf(g_log, "video %ld %lld %lld %d %d %llu\n", connection, (long long)frame,
			(long long)send_log_now_ns(), width, height, (unsigned long long)timestamp);
		fflush(g_log);
	}
}

void send_log_audio(long connection, uint64_t timestamp)
{
	if (g_log) {
		fprintf(g_log, "audio %ld %lld %llu\n", connection, (long long)send_log_now_ns(),
			(unsigned long long)timestamp);
		fflush(g_log);
	}
}

void send_log_close_connection(long connection)
{
	if (g_log) {
		fprintf(g_log, "close %ld %lld\n", connection, (long long)send_log_now_ns());
		fflush(g_log);
	}
}
