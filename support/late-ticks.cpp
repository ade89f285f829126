#include "late-ticks.h"

#include <obs.h>
#include <util/platform.h>

LateTicks::LateTicks(unsigned seed, unsigned most_ms) : random_(seed), most_ms_(most_ms)
{
	obs_add_tick_callback(tick, this);
}

LateTicks::~LateTicks()
{
	obs_remove_tick_callback(tick, this);
}

void LateTicks::tick(void *param, float)
{
	auto *late = static_cast<LateTicks *>(param);
	uint64_t now = os_gettime_ns();
	if (late->last_tick_ && now - late->last_tick_ > LATE_TICKS_STALL_NS)
		late->stalled_ += now - late->last_tick_;
	late->last_tick_ = now;
	if (late->random_() % 100 < 30)
		os_sleep_ms(late->random_() % (late->most_ms_ + 1));
}
