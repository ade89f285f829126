#pragma once
/* The 30-second gate of the connection thread's rate-limited log lines: a
 * plain function of given times (ns), so tests feed it values. */

#include <cstdint>

/* Open on the first attempt (last_report 0) and once more than
 * 29,999,999,999 ns have passed since the last report. */
bool report_gate_open(uint64_t last_report, uint64_t now);
