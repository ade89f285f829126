#include "drift-clock.h"

#include <cmath>
#include <cstdlib>

bool drift_parse(const std::string &text, std::vector<DriftPhase> *out)
{
	std::vector<DriftPhase> phases;
	size_t at = 0;
	while (at <= text.size()) {
		size_t comma = text.find(',', at);
		std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
		char *end = nullptr;
		long ppm = strtol(item.c_str(), &end, 10);
		if (end == item.c_str() || *end != ':' || ppm < -100000 || ppm > 100000)
			return false;
		const char *seconds_text = end + 1;
		double seconds = strtod(seconds_text, &end);
		if (end == seconds_text || *end != '\0' || !(seconds > 0) || seconds > 1e6)
			return false;
		phases.push_back({ppm, seconds});
		if (comma == std::string::npos)
			break;
		at = comma + 1;
	}
	*out = phases;
	return !phases.empty();
}

namespace {

double rate(const DriftPhase &phase)
{
	return 1.0 + (double)phase.ppm / 1e6;
}

/* One cycle of the phases, in this machine's and in the phone's time (us). */
void cycle_lengths(const DriftClock &clock, double *real, double *phone)
{
	*real = 0;
	*phone = 0;
	for (const DriftPhase &phase : clock.phases) {
		*real += phase.seconds * 1e6;
		*phone += phase.seconds * 1e6 * rate(phase);
	}
}

/* A time on one clock to the other: whole cycles first, then phase by
 * phase through what is left of the last one. */
int64_t convert(const DriftClock &clock, int64_t us, bool real_to_phone)
{
	if (clock.phases.empty() || us <= clock.origin_us)
		return us;
	double real_cycle, phone_cycle;
	cycle_lengths(clock, &real_cycle, &phone_cycle);
	double from_cycle = real_to_phone ? real_cycle : phone_cycle;
	double elapsed = (double)(us - clock.origin_us);
	double cycles = std::floor(elapsed / from_cycle);
	double rest = elapsed - cycles * from_cycle;
	double converted = cycles * (real_to_phone ? phone_cycle : real_cycle);
	for (const DriftPhase &phase : clock.phases) {
		double length = real_to_phone ? phase.seconds * 1e6 : phase.seconds * 1e6 * rate(phase);
		double part = rest < length ? rest : length;
		converted += real_to_phone ? part * rate(phase) : part / rate(phase);
		rest -= part;
		if (rest <= 0)
			break;
	}
	return clock.origin_us + (int64_t)std::llround(converted);
}

} // namespace

int64_t drift_phone_us(const DriftClock &clock, int64_t real_us)
{
	return convert(clock, real_us, true);
}

int64_t drift_real_us(const DriftClock &clock, int64_t phone_us)
{
	return convert(clock, phone_us, false);
}
