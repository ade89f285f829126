#include "send-log.h"
#include "send-log-line.h"

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

/* Stamped now and flushed at once: a reader follows the file while it grows. */
static void write_line(SendLogLine line)
{
	if (!g_log)
		return;
	line.ns = (uint64_t)send_log_now_ns();
	fputs(send_log_format(line).c_str(), g_log);
	fflush(g_log);
}

void send_log_open_connection(long connection)
{
	SendLogLine line;
	line.kind = SendLogKind::open;
	line.connection = connection;
	write_line(line);
}

void send_log_video(long connection, int64_t frame, int width, int height, uint64_t timestamp)
{
	SendLogLine line;
	line.kind = SendLogKind::video;
	line.connection = connection;
	line.frame = frame;
	line.width = width;
	line.height = height;
	line.timestamp_us = timestamp;
	write_line(line);
}

void send_log_audio(long connection, uint64_t timestamp)
{
	SendLogLine line;
	line.kind = SendLogKind::audio;
	line.connection = connection;
	line.timestamp_us = timestamp;
	write_line(line);
}

void send_log_close_connection(long connection)
{
	SendLogLine line;
	line.kind = SendLogKind::close;
	line.connection = connection;
	write_line(line);
}
