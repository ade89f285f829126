#pragma once
/* The reference sender (ostrelin-sender) as a separate process, the way a
 * phone is a separate machine: started with chosen options on a free port,
 * logging when it writes each picture (--send-log), stopped with SIGTERM. */

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class SenderProcess {
public:
	/* Starts the sender with these options plus --port 0 and --send-log;
	 * waits for its "listening on" line. */
	SenderProcess(const std::string &program, const std::vector<std::string> &options, const std::string &log_path);
	~SenderProcess();
	SenderProcess(const SenderProcess &) = delete;
	SenderProcess &operator=(const SenderProcess &) = delete;

	bool running() const { return port_ != 0; }
	uint16_t port() const { return port_; }
	const std::string &log_path() const { return log_path_; }
	/* SIGTERM, then waits for the process; safe to call twice. */
	void stop();

private:
	pid_t pid_ = -1;
	int pipe_fd_ = -1; /* its standard output */
	uint16_t port_ = 0;
	std::string log_path_;
};
