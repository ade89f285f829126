#include "timing/report-gate.h"

#define REPORT_GATE_NS 29999999999ULL

bool report_gate_open(uint64_t last_report, uint64_t now)
{
	return last_report == 0 || now - last_report > REPORT_GATE_NS;
}
