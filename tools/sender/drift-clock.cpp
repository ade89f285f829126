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

} // namespace

int64_t drift_phone_us(const DriftClock &clock, int64_t real_us)
{
	if (clock.phases.empty() || real_us <= clock.origin_us)
		return real_us;
	double real_cycle, phone_cycle;
	cycle_lengths(clock, &real_cycle, &phone_cycle);
	double elapsed = (double)(real_us - clock.origin_us);
	double cycles = std::floor(elapsed / real_cycle);
	double rest = elapsed - cycles * real_cycle;
	double phone = cycles * phone_cycle;
	for (const DriftPhase &phase : clock.phases) {
		double length = phase.seconds * 1e6;
		double part = rest < length ? rest : length;
		phone += part * rate(phase);
		rest -= part;
		if (rest <= 0)
			break;
	}
	return clock.origin_us + (int64_t)std::llround(phone);
}

int64_t drift_real_us(const DriftClock &clock, int64_t phone_us)
{
	if (clock.phases.empty() || phone_us <= clock.origin_us)
		return phone_us;
	double real_cycle, phone_cycle;
	cycle_lengths(clock, &real_cycle, &phone_cycle);
	double elapsed = (double)(phone_us - clock.origin_us);
	double cycles = std::floor(elapsed / phone_cycle);
	double rest = elapsed - cycles * phone_cycle;
	double real = cycles * real_cycle;
	for (const DriftPhase &phase : clock.phases) {
		double length = phase.seconds * 1e6 * rate(phase);
		double part = rest < length ? rest : length;
		real += part / rate(phase);
		rest -= part;
		if (rest <= 0)
			break;
	}
	return clock.origin_us + (int64_t)std::llround(real);
}
