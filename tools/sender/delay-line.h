#pragma once
/* Packets held back as a Wi-Fi link holds them (see net-delay.h): a thread
 * writes each queued packet to the connection at its time. */

#include "connection.h"
#include "net-delay.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

/* A thread that writes each queued packet at its release time. */
struct DelayLine {
	Connection &conn;
	NetDelay delay = {};
	std::mutex mutex;
	std::condition_variable wake;
	std::deque<std::pair<int64_t, std::vector<uint8_t>>> queue;
	bool stopping = false;
	std::thread thread;

	explicit DelayLine(Connection &c) : conn(c) {}
};

void delay_line_start(DelayLine &line, const NetDelayOptions &opts);
/* Queues one packet written now; false once the connection is gone. */
bool delay_line_send(DelayLine &line, std::vector<uint8_t> bytes);
/* Drops what is still queued (the link went with the connection) and joins. */
void delay_line_stop(DelayLine &line);
