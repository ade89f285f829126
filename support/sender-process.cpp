#include "sender-process.h"
#include "monotonic-clock.h"

#include <cstdlib>

SenderProcess::SenderProcess(std::vector<std::string> options, const std::string &program)
{
	ChildLaunch launch;
	launch.argv = {program, "--port", "0"};
	launch.argv.insert(launch.argv.end(), options.begin(), options.end());
	launch.output = ChildOutput::pipe;
	if (child_.start(launch) != 0)
		return;
	std::string first = next_line(5000);
	const std::string prefix = "listening on 127.0.0.1:";
	if (first.rfind(prefix, 0) == 0)
		port_ = (uint16_t)strtoul(first.c_str() + prefix.size(), nullptr, 10);
}

std::string SenderProcess::next_line(int timeout_ms)
{
	std::string line;
	if (!child_.next_line(timeout_ms, &line))
		return "";
	lines_.push_back(line);
	return line;
}

bool SenderProcess::wait_for_line(const std::string &line, int timeout_ms)
{
	int64_t deadline = monotonic_us() + (int64_t)timeout_ms * 1000;
	while (monotonic_us() < deadline) {
		std::string next = next_line((int)((deadline - monotonic_us()) / 1000) + 1);
		if (next == line)
			return true;
		if (next.empty() && !child_.has_partial_line())
			return false;
	}
	return false;
}

int SenderProcess::stop(int sig)
{
	return child_.stop(sig);
}
