#pragma once
/* --send-log FILE: the events of each connection, one line each, as
 * support/send-log-line.h sets them out. */

#include <cstdint>

bool send_log_open(const char *path);
bool send_log_enabled(void);
int64_t send_log_now_ns(void);
void send_log_open_connection(long connection);
void send_log_video(long connection, int64_t frame, int width, int height, uint64_t timestamp);
void send_log_audio(long connection, uint64_t timestamp);
void send_log_close_connection(long connection);
