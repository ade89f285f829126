#pragma once
/* A program run as a child process (posix_spawn): the reference sender, the
 * headless OBS host, an adb server. Its standard output is read through a
 * pipe line by line, or written with its standard error to a file, or left
 * as this process's. It is stopped with SIGTERM when its owner goes. */

#include <sys/types.h>

#include <string>
#include <vector>

enum class ChildOutput { inherit, pipe, file };

struct ChildLaunch {
	std::vector<std::string> argv; /* argv[0] is the program */
	bool search_path = false;      /* look argv[0] up on PATH */
	ChildOutput output = ChildOutput::inherit;
	std::string output_file; /* ChildOutput::file: stdout and stderr, truncated */
	bool null_stdin = false;
	std::vector<std::string> env; /* "NAME=value"; empty: this process's environment */
};

class ChildProcess {
public:
	ChildProcess() = default;
	~ChildProcess();
	ChildProcess(const ChildProcess &) = delete;
	ChildProcess &operator=(const ChildProcess &) = delete;

	/* 0, or posix_spawn's error number (or errno of the pipe). */
	int start(const ChildLaunch &launch);
	bool running() const { return pid_ > 0; }

	/* ChildOutput::pipe: the next whole line into *line, without its
	 * newline; false after timeout_ms or at the end of the output. */
	bool next_line(int timeout_ms, std::string *line);
	/* Bytes read from the pipe that make no whole line yet. */
	bool has_partial_line() const { return !buffer_.empty(); }

	/* True once the process has ended (without waiting for it). */
	bool ended();
	/* Waits up to timeout_ms for the end: its exit status, or -1 when it did
	 * not exit normally (killed with SIGKILL when the time ran out) or was
	 * never started. */
	int wait_exit(int timeout_ms);
	/* Sends sig when it still runs, then wait_exit(timeout_ms). */
	int stop(int sig, int timeout_ms = 5000);

private:
	pid_t pid_ = -1;
	int exit_code_ = -1; /* once it has ended */
	int out_ = -1;
	std::string buffer_;
};
