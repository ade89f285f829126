#include "child-process.h"
#include "monotonic-clock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char **environ;

namespace {

std::vector<char *> pointers(std::vector<std::string> &strings)
{
	std::vector<char *> out;
	for (std::string &s : strings)
		out.push_back(s.data());
	out.push_back(nullptr);
	return out;
}

} // namespace

ChildProcess::~ChildProcess()
{
	if (pid_ > 0)
		stop(SIGTERM);
	if (out_ >= 0)
		close(out_);
}

int ChildProcess::start(const ChildLaunch &launch)
{
	std::vector<std::string> args = launch.argv;
	std::vector<std::string> env = launch.env;
	std::vector<char *> argv = pointers(args);
	std::vector<char *> envp = pointers(env);

	int fds[2] = {-1, -1};
	if (launch.output == ChildOutput::pipe && pipe2(fds, O_CLOEXEC) != 0)
		return errno;
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	if (launch.null_stdin)
		posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
	if (launch.output == ChildOutput::pipe)
		posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
	if (launch.output == ChildOutput::file) {
		posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, launch.output_file.c_str(),
						 O_WRONLY | O_CREAT | O_TRUNC, 0644);
		posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
	}
	char **child_env = env.empty() ? environ : envp.data();
	int err = launch.search_path ? posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), child_env)
				     : posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), child_env);
	posix_spawn_file_actions_destroy(&actions);
	if (err != 0)
		pid_ = -1;
	if (fds[1] >= 0)
		close(fds[1]);
	/* The read end stays open while the child runs, so that its writes
	 * never fail, even when nobody reads them. */
	out_ = fds[0];
	return err;
}

bool ChildProcess::next_line(int timeout_ms, std::string *line)
{
	int64_t deadline = monotonic_us() + (int64_t)timeout_ms * 1000;
	for (;;) {
		size_t newline = buffer_.find('\n');
		if (newline != std::string::npos) {
			*line = buffer_.substr(0, newline);
			buffer_.erase(0, newline + 1);
			return true;
		}
		int64_t left_ms = (deadline - monotonic_us()) / 1000;
		pollfd pfd = {out_, POLLIN, 0};
		if (out_ < 0 || left_ms <= 0 || poll(&pfd, 1, (int)left_ms) <= 0)
			return false;
		char chunk[512];
		ssize_t n = read(out_, chunk, sizeof(chunk));
		if (n <= 0)
			return false;
		buffer_.append(chunk, (size_t)n);
	}
}

bool ChildProcess::ended()
{
	if (pid_ <= 0)
		return true;
	int status = 0;
	if (waitpid(pid_, &status, WNOHANG) != pid_)
		return false;
	pid_ = -1;
	exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	return true;
}

int ChildProcess::wait_exit(int timeout_ms)
{
	if (pid_ <= 0)
		return exit_code_;
	int64_t deadline = monotonic_us() + (int64_t)timeout_ms * 1000;
	while (!ended()) {
		if (monotonic_us() >= deadline) {
			kill(pid_, SIGKILL);
			waitpid(pid_, nullptr, 0);
			pid_ = -1;
			return exit_code_ = -1;
		}
		usleep(10 * 1000);
	}
	return exit_code_;
}

int ChildProcess::stop(int sig, int timeout_ms)
{
	if (pid_ > 0)
		kill(pid_, sig);
	return wait_exit(timeout_ms);
}
