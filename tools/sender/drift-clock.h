#pragma once
/* The phone's own clock, which may run fast or slow against this machine's
 * for a while (--clock-drift): phases of a rate in parts per million and a
 * length in seconds of this machine's time, repeated from the start of the
 * run. The sender paces and stamps its pictures and audio with this clock,
 * as a phone does with its own; with no phases it is the monotonic clock. */

#include <cstdint>
#include <string>
#include <vector>

struct DriftPhase {
	long ppm;       /* +2000: the phone's clock gains 0.2 % */
	double seconds; /* of this machine's time */
};

struct DriftClock {
	int64_t origin_us = 0; /* monotonic time where the first phase starts */
	std::vector<DriftPhase> phases;
};

/* "2000:120,-2000:120" (ppm within +-100000, seconds > 0); false on a
 * malformed list. */
bool drift_parse(const std::string &text, std::vector<DriftPhase> *out);

/* The phone's time at this machine's monotonic time real_us, and back. */
int64_t drift_phone_us(const DriftClock &clock, int64_t real_us);
int64_t drift_real_us(const DriftClock &clock, int64_t phone_us);
