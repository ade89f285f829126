/* A connect to a port where nothing listens: how long the socket layer takes
 * to report it refused (the stream attempt with no phone app, the adb request
 * with no adb server), against a wait that runs to a 100 ms limit, measured in
 * the same run. A refusal must not look like a time-out: reported only when
 * the connect ran to its limit, it would hold every attempt for 3 s.
 *
 * Built for Linux (scripts/bench.sh) and for Windows, where scripts/bench.sh
 * runs it under Wine. */

#include "bench-report.h"
#include "elapsed.h"
#include "loopback.h"
#include "platform/net.h"

#include <chrono>
#include <stdexcept>
#include <vector>

/* The Windows build names itself, so that the two runs' figures stay apart. */
#ifndef BENCH_NAME
#define BENCH_NAME "refused-connect"
#endif

using Clock = std::chrono::steady_clock;

namespace {

constexpr int samples = 30;
constexpr int reference_limit_ms = 100;
constexpr int connect_limit_ms = 3000;
/* "Well under 100 ms": a tenth of it; beyond half, something waited. */
constexpr Goal ratio_goal = {0.1, 0.5};

/* One refused connect, from the socket's creation to the verdict. */
double refused_connect_ms(uint16_t port)
{
	auto start = Clock::now();
	plat_socket s = plat_socket_tcp();
	if (s == PLAT_INVALID_SOCKET || !plat_socket_set_nonblocking(s, true))
		throw std::runtime_error("no socket");
	int ready = PLAT_WAIT_WRITE;
	if (!plat_connect(s, plat_loopback_be(), port)) {
		if (!plat_last_error_is_in_progress())
			ready = -2; /* refused at once: also a refusal */
		else
			ready = plat_wait_socket(s, PLAT_WAIT_WRITE, nullptr, 0, connect_limit_ms);
	}
	int error = ready == PLAT_WAIT_WRITE ? plat_socket_pending_error(s) : 0;
	double ms = since_ms(start);
	plat_socket_close(s);
	if (ready == 0)
		throw std::runtime_error("the refused connect ran to its time limit");
	if (ready == PLAT_WAIT_WRITE && error != loopback_refused_code())
		throw std::runtime_error("the connect did not end refused");
	return ms;
}

/* A wait on an idle connected socket that runs to its 100 ms limit. */
double full_wait_ms(plat_socket idle)
{
	auto start = Clock::now();
	if (plat_wait_socket(idle, PLAT_WAIT_READ, nullptr, 0, reference_limit_ms) != 0)
		throw std::runtime_error("the idle socket became readable");
	return since_ms(start);
}

int run(BenchReport &report)
{
	if (!plat_net_init())
		return report.cannot_run("no socket library");
	uint16_t port = 0;
	plat_socket listener = loopback_listen(&port);
	plat_socket idle = plat_socket_tcp();
	if (listener == PLAT_INVALID_SOCKET || idle == PLAT_INVALID_SOCKET ||
	    !plat_connect(idle, plat_loopback_be(), port))
		return report.cannot_run("no loopback connection");
	plat_socket accepted = loopback_accept(listener);
	uint16_t closed = loopback_closed_port();

	std::vector<double> refused, reference;
	for (int i = 0; i < samples; i++) {
		refused.push_back(refused_connect_ms(closed));
		if (i < 5)
			reference.push_back(full_wait_ms(idle));
	}
	plat_socket_close(accepted);
	plat_socket_close(idle);
	plat_socket_close(listener);
	plat_net_cleanup();

	report.section("refused connect to 127.0.0.1, from socket to verdict");
	report.line("%d connects: median %.3f ms, slowest %.3f ms", samples, median(refused), percentile(refused, 100));
	report.line("reference: a wait with a %d ms limit took %.1f ms (median of %d)", reference_limit_ms,
		    median(reference), (int)reference.size());
	report.figure("refused connect, median", "%.3f ms", median(refused));
	report.judge("refused connect / 100 ms wait, median", median(refused) / median(reference), ratio_goal);
	report.judge("refused connect / 100 ms wait, slowest", percentile(refused, 100) / median(reference),
		     ratio_goal);
	return report.exit_status();
}

} // namespace

/* Not bench_main: that one quiets libobs's and FFmpeg's logs, and this
 * program links neither (its Windows build has neither DLL). */
int main()
{
	BenchReport report(BENCH_NAME);
	try {
		return run(report);
	} catch (const std::exception &e) {
		return report.cannot_run(e.what());
	}
}
