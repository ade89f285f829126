#pragma once
/* --jitter, --spike-share, --spike-ms, --seed: packets held back as a Wi-Fi
 * link holds them, in order. Each packet is delayed by a uniform 0..jitter,
 * plus, for a share of packets, a spike drawn uniformly from a range; a packet
 * never overtakes the one before it (TCP), so it leaves at the later of its
 * own time and the previous packet's. The draws come from a seeded generator
 * of our own, so a seed replays the same network on any machine. */

#include "connection.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

struct NetDelayOptions {
	int jitter_ms = 0;        /* uniform 0..jitter_ms for every packet */
	double spike_percent = 0; /* share of packets with a further spike */
	int spike_min_ms = 0;     /* the spike's range */
	int spike_max_ms = 0;
	uint64_t seed = 1;
};

bool net_delay_enabled(const NetDelayOptions &o);

/* The schedule alone: plain arithmetic on given times. */
struct NetDelay {
	NetDelayOptions opts;
	uint64_t state;
	int64_t last_release_us;
};

void net_delay_start(NetDelay *d, const NetDelayOptions &opts);
/* When a packet written at `sent_us` reaches the receiver. */
int64_t net_delay_release(NetDelay *d, int64_t sent_us);

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
