#pragma once
/* --send-log FILE: one line per event, on this machine's monotonic clock in
 * nanoseconds (CLOCK_MONOTONIC, the clock libobs's os_gettime_ns reads), so
 * that a receiver in another process can time each picture from the moment
 * the sender wrote it:
 *   open N NS            connection N (from 0) accepted
 *   video N F NS W H TS  picture F (from 0 on each connection) of W x H, just
 *                        before its first byte is written; TS its timestamp
 *                        on the wire (the phone's clock, microseconds)
 *   audio N NS TS        an audio block, just before it is written
 *   close N NS           connection N closed */

#include <cstdint>

bool send_log_open(const char *path);
bool send_log_enabled(void);
int64_t send_log_now_ns(void);
void send_log_open_connection(long connection);
void send_log_video(long connection, int64_t frame, int width, int height, uint64_t timestamp);
void send_log_audio(long connection, uint64_t timestamp);
void send_log_close_connection(long connection);
