#pragma once
/* The reference sender (ostrelin-sender) as a separate process, the way a
 * phone is a separate machine: started with --port 0 and chosen options,
 * its standard output read line by line, stopped with SIGTERM when its
 * owner did not stop it. */

#include "child-process.h"

#include <cstdint>
#include <string>
#include <vector>

class SenderProcess {
public:
	/* Starts `program` with --port 0 and these options; waits up to 5 s for
	 * its "listening on 127.0.0.1:PORT" line. */
	SenderProcess(std::vector<std::string> options, const std::string &program);
#ifdef OSTRELIN_SENDER_PATH
	/* The sender of this build. */
	explicit SenderProcess(std::vector<std::string> options)
		: SenderProcess(std::move(options), OSTRELIN_SENDER_PATH)
	{
	}
#endif

	/* 0 when the sender did not print its "listening on" line. */
	uint16_t port() const
	{
		return port_;
	}
	bool running() const
	{
		return port_ != 0;
	}

	/* The next whole line of its stdout, or "" after timeout_ms or at its end. */
	std::string next_line(int timeout_ms);
	/* Reads lines until one equals `line`; false when it did not come. */
	bool wait_for_line(const std::string &line, int timeout_ms = 5000);
	/* Every line read so far, the "listening on" line first. */
	const std::vector<std::string> &lines() const
	{
		return lines_;
	}

	/* Sends sig and waits for the exit: its exit status, or -1 when it did
	 * not exit normally within 5 s. */
	int stop(int sig);
	/* Waits for the process to end on its own: its exit status, or -1. */
	int wait_exit(int timeout_ms)
	{
		return child_.wait_exit(timeout_ms);
	}

private:
	ChildProcess child_;
	uint16_t port_ = 0;
	std::vector<std::string> lines_;
};
