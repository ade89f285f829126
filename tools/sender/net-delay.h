#pragma once
/* The schedule of --jitter, --spike-share, --spike-ms and --seed: when each
 * packet written by the sender reaches the receiver over a Wi-Fi-like link.
 * Each packet is delayed by a uniform 0..jitter, plus, for a share of packets,
 * a spike drawn uniformly from a range; a packet never overtakes the one
 * before it (TCP), so it arrives at the later of its own time and the previous
 * packet's. The draws come from a seeded generator of our own, so a seed
 * replays the same network on any machine. Plain arithmetic on given times. */

#include <cstdint>

struct NetDelayOptions {
	int jitter_ms = 0;        /* uniform 0..jitter_ms for every packet */
	double spike_percent = 0; /* share of packets with a further spike */
	int spike_min_ms = 0;     /* the spike's range */
	int spike_max_ms = 0;
	uint64_t seed = 1;
};

bool net_delay_enabled(const NetDelayOptions &o);

struct NetDelay {
	NetDelayOptions opts;
	uint64_t state;
	int64_t last_release_us;
};

void net_delay_start(NetDelay *d, const NetDelayOptions &opts);
/* When a packet written at `sent_us` reaches the receiver. */
int64_t net_delay_release(NetDelay *d, int64_t sent_us);
