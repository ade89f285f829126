#pragma once
/* How a benchmark prints what it measured: sections of figures, then ratios
 * against a reference measured in the same run, each judged against its
 * target. A ratio that misses its target by a little is only reported (the
 * machine is shared and timings wander); one beyond its far limit makes the
 * program exit with status 1. Every judged ratio and every report-only figure
 * also goes out as a "SUMMARY|..." line, which scripts/bench.sh collects. */

extern "C" {
#include <libavutil/log.h>
}

#include <util/base.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

/* Exit statuses of the benchmark programs. */
#define BENCH_EXIT_OK 0
#define BENCH_EXIT_MISSED_FAR 1
#define BENCH_EXIT_CANNOT_RUN 2

/* A figure's target and the limit beyond which it is missed by far. */
struct Goal {
	double target;
	double far;
};

class BenchReport {
public:
	explicit BenchReport(const char *bench) : bench_(bench) {}

	void section(const char *title) { printf("\n== %s ==\n", title); }

	void line(const char *format, ...) __attribute__((format(printf, 2, 3)))
	{
		va_list args;
		va_start(args, format);
		printf("  ");
		vprintf(format, args);
		printf("\n");
		va_end(args);
	}

	/* Judges value <= goal.target; beyond goal.far it is a miss by far. */
	void judge(const char *what, double value, Goal goal)
	{
		const double target = goal.target;
		const double far = goal.far;
		const char *verdict = "met";
		if (!(value <= far)) {
			verdict = "MISSED BY FAR";
			missed_far_ = true;
		} else if (value > target) {
			verdict = "missed";
		}
		printf("  %s: %.4g (target <= %g, far beyond %g): %s\n", what, value, target, far, verdict);
		printf("SUMMARY|%s|%s|%.4g|<= %g|%s\n", bench_.c_str(), what, value, target, verdict);
		fflush(stdout);
	}

	/* A figure shown for information, with no target. */
	void figure(const char *what, const char *format, ...) __attribute__((format(printf, 3, 4)))
	{
		char text[256];
		va_list args;
		va_start(args, format);
		vsnprintf(text, sizeof(text), format, args);
		va_end(args);
		printf("  %s: %s\n", what, text);
		printf("SUMMARY|%s|%s|%s|report only|-\n", bench_.c_str(), what, text);
		fflush(stdout);
	}

	/* The run could not measure something it needs: said once, on stderr. */
	int cannot_run(const char *why)
	{
		fprintf(stderr, "%s: cannot run: %s\n", bench_.c_str(), why);
		printf("SUMMARY|%s|cannot run|%s|-|CANNOT RUN\n", bench_.c_str(), why);
		fflush(stdout);
		return BENCH_EXIT_CANNOT_RUN;
	}

	int exit_status() const { return missed_far_ ? BENCH_EXIT_MISSED_FAR : BENCH_EXIT_OK; }

private:
	std::string bench_;
	bool missed_far_ = false;
};

/* Nearest-rank percentile (p in 0..100) of a set of figures. */
inline double percentile(std::vector<double> values, double p)
{
	if (values.empty())
		return NAN;
	std::sort(values.begin(), values.end());
	size_t rank = (size_t)std::ceil(p / 100.0 * (double)values.size());
	return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

inline double median(const std::vector<double> &values)
{
	return percentile(values, 50.0);
}

/* libobs, the plug-in and FFmpeg log at info level as they work; a benchmark
 * shows only warnings and errors, so that its own figures stay readable. */
inline void bench_quiet_logs()
{
	av_log_set_level(AV_LOG_WARNING);
	base_set_log_handler(
		[](int level, const char *format, va_list args, void *) {
			if (level > LOG_WARNING)
				return;
			char text[1024];
			vsnprintf(text, sizeof(text), format, args);
			fprintf(stderr, "[libobs %s] %s\n", level == LOG_WARNING ? "warning" : "error", text);
		},
		nullptr);
}

/* A benchmark's whole main: quiet logs, the run, and anything thrown
 * reported as a run that could not measure. */
template<typename Run> int bench_run(const char *bench, Run run)
{
	bench_quiet_logs();
	BenchReport report(bench);
	try {
		return run(report);
	} catch (const std::exception &e) {
		return report.cannot_run(e.what());
	}
}

inline int bench_main(const char *bench, int (*run)(BenchReport &))
{
	return bench_run(bench, run);
}

/* The same for a benchmark that takes "--<option> N" (N >= 1; fallback when
 * not given), passed on to its run. */
template<typename Number>
int bench_main(int argc, char **argv, const char *bench, const char *option, Number fallback,
	       int (*run)(BenchReport &, Number))
{
	double n = (double)fallback;
	if (argc == 3 && strcmp(argv[1], option) == 0)
		n = atof(argv[2]);
	if (!(n >= 1)) {
		fprintf(stderr, "usage: %s [%s N]   (N >= 1)\n", argv[0], option);
		return 2;
	}
	return bench_run(bench, [&](BenchReport &report) { return run(report, (Number)n); });
}
