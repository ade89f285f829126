#pragma once
/* Milliseconds of the steady clock since `start`, for timing a call. */

#include <chrono>

inline double since_ms(std::chrono::steady_clock::time_point start)
{
	return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
