#include "sender-process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

extern char **environ;

SenderProcess::SenderProcess(const std::string &program, const std::vector<std::string> &options,
			     const std::string &log_path)
	: log_path_(log_path)
{
	std::vector<std::string> args = {program, "--port", "0", "--send-log", log_path};
	args.insert(args.end(), options.begin(), options.end());
	std::vector<char *> argv;
	for (std::string &arg : args)
		argv.push_back(arg.data());
	argv.push_back(nullptr);

	int out[2];
	if (pipe(out) != 0)
		return;
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
	posix_spawn_file_actions_addclose(&actions, out[0]);
	int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
	posix_spawn_file_actions_destroy(&actions);
	close(out[1]);
	if (spawned != 0) {
		pid_ = -1;
		close(out[0]);
		return;
	}

	/* "listening on 127.0.0.1:PORT" comes first, within a few seconds. */
	std::string line;
	pollfd pfd = {out[0], POLLIN, 0};
	while (line.find('\n') == std::string::npos && poll(&pfd, 1, 5000) > 0) {
		char buf[128];
		ssize_t n = read(out[0], buf, sizeof(buf));
		if (n <= 0)
			break;
		line.append(buf, (size_t)n);
	}
	/* The rest of its output goes nowhere; the pipe stays open so that its
	 * writes never fail, and is closed when the process has gone. */
	unsigned port = 0;
	size_t colon = line.rfind(':', line.find('\n'));
	if (line.rfind("listening on ", 0) == 0 && colon != std::string::npos &&
	    sscanf(line.c_str() + colon + 1, "%u", &port) == 1)
		port_ = (uint16_t)port;
	pipe_fd_ = out[0];
}

SenderProcess::~SenderProcess()
{
	stop();
}

void SenderProcess::stop()
{
	if (pid_ > 0) {
		kill(pid_, SIGTERM);
		int status = 0;
		waitpid(pid_, &status, 0);
		pid_ = -1;
	}
	if (pipe_fd_ >= 0) {
		close(pipe_fd_);
		pipe_fd_ = -1;
	}
}
