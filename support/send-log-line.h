#pragma once
/* One line of the sender's --send-log, written by the sender
 * (tools/sender/send-log.cpp) and read by the benchmarks (bench/send-log.cpp).
 * One line per event, on this machine's monotonic clock in nanoseconds
 * (CLOCK_MONOTONIC, the clock libobs's os_gettime_ns reads), so that a
 * receiver in another process can time each picture from the moment the
 * sender wrote it:
 *   open N NS            connection N (from 0) accepted
 *   video N F NS W H TS  picture F (from 0 on each connection) of W x H, just
 *                        before its first byte is written; TS its timestamp
 *                        on the wire (the phone's clock, microseconds)
 *   audio N NS TS        an audio block, just before it is written
 *   close N NS           connection N closed */

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

enum class SendLogKind { open, video, audio, close };

struct SendLogLine {
	SendLogKind kind = SendLogKind::open;
	long connection = 0;
	int64_t frame = 0; /* video */
	uint64_t ns = 0;
	int width = 0;             /* video */
	int height = 0;            /* video */
	uint64_t timestamp_us = 0; /* video, audio */
};

/* The line, with its newline. */
inline std::string send_log_format(const SendLogLine &line)
{
	char text[160];
	unsigned long long ns = line.ns, ts = line.timestamp_us;
	switch (line.kind) {
	case SendLogKind::open:
		snprintf(text, sizeof(text), "open %ld %llu\n", line.connection, ns);
		break;
	case SendLogKind::video:
		snprintf(text, sizeof(text), "video %ld %lld %llu %d %d %llu\n", line.connection, (long long)line.frame,
			 ns, line.width, line.height, ts);
		break;
	case SendLogKind::audio:
		snprintf(text, sizeof(text), "audio %ld %llu %llu\n", line.connection, ns, ts);
		break;
	case SendLogKind::close:
		snprintf(text, sizeof(text), "close %ld %llu\n", line.connection, ns);
		break;
	}
	return text;
}

/* False for a line of no known kind, or one whose fields do not all read. */
inline bool send_log_parse(const std::string &text, SendLogLine *out)
{
	std::istringstream in(text);
	std::string kind;
	SendLogLine line;
	in >> kind >> line.connection;
	if (kind == "open" || kind == "close") {
		line.kind = kind == "open" ? SendLogKind::open : SendLogKind::close;
		in >> line.ns;
	} else if (kind == "video") {
		line.kind = SendLogKind::video;
		in >> line.frame >> line.ns >> line.width >> line.height >> line.timestamp_us;
	} else if (kind == "audio") {
		line.kind = SendLogKind::audio;
		in >> line.ns >> line.timestamp_us;
	} else {
		return false;
	}
	if (!in)
		return false;
	*out = line;
	return true;
}
