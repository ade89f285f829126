#pragma once
/* Reading the sender's --send-log (its lines: support/send-log-line.h): when
 * each connection opened and closed and when each picture was written, on
 * CLOCK_MONOTONIC (os_gettime_ns). */

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct SentPicture {
	uint64_t ns;
	int width;
	int height;
	uint64_t timestamp_us; /* on the wire: the phone's clock */
};

struct SentAudio {
	uint64_t ns;
	uint64_t timestamp_us;
};

struct SentConnection {
	uint64_t open_ns = 0;
	uint64_t close_ns = 0;                /* 0 while open */
	std::map<int64_t, SentPicture> video; /* by frame number */
	std::vector<SentAudio> audio;         /* in the order written */
};

struct SendLog {
	std::vector<SentConnection> connections; /* by connection number */

	/* The connection a picture numbered `frame` seen at `at_ns` came from:
	 * the latest one opened before it that wrote that frame before it; -1
	 * when none did. */
	int connection_of(int64_t frame, uint64_t at_ns) const;
	size_t pictures() const;
};

/* Reads the whole file as it is now; false when it cannot be read. */
bool send_log_read(const std::string &path, SendLog *out);
