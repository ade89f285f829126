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
	if (late->random_() % 100 < 30)
		os_sleep_ms(late->random_() % (late->most_ms_ + 1));
}
