#pragma once

#include <cstdint>

/* Microseconds of CLOCK_MONOTONIC: the one clock the tests, the reference
 * tools and the benchmarks stamp and compare events with. */
int64_t monotonic_us();
