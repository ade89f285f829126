#include "thread-cpu.h"

#include <dirent.h>
#include <time.h>

#include <cstdlib>

ThreadSet threads_now()
{
	ThreadSet threads;
	DIR *dir = opendir("/proc/self/task");
	if (!dir)
		return threads;
	while (dirent *entry = readdir(dir)) {
		long tid = strtol(entry->d_name, nullptr, 10);
		if (tid > 0)
			threads.insert((pid_t)tid);
	}
	closedir(dir);
	return threads;
}

ThreadSet threads_added(const ThreadSet &before, const ThreadSet &after)
{
	ThreadSet added;
	for (pid_t tid : after)
		if (!before.count(tid))
			added.insert(tid);
	return added;
}

static bool cpu_of(pid_t tid, uint64_t *ns)
{
	/* CPUCLOCK_SCHED (2) | CPUCLOCK_PERTHREAD_MASK (4), thread id inverted. */
	const clockid_t clock = (clockid_t)((~(unsigned)tid) << 3) | 6;
	timespec ts;
	if (clock_gettime(clock, &ts) != 0)
		return false;
	*ns = (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
	return true;
}

std::map<pid_t, uint64_t> thread_cpu_ns(const ThreadSet &threads)
{
	std::map<pid_t, uint64_t> cpu;
	for (pid_t tid : threads) {
		uint64_t ns = 0;
		if (cpu_of(tid, &ns))
			cpu[tid] = ns;
	}
	return cpu;
}

uint64_t cpu_ns_since(const std::map<pid_t, uint64_t> &start, const ThreadSet &threads)
{
	uint64_t total = 0;
	for (pid_t tid : threads) {
		auto before = start.find(tid);
		uint64_t then = before == start.end() ? 0 : before->second;
		uint64_t now = 0;
		if (cpu_of(tid, &now) && now >= then)
			total += now - then;
	}
	return total;
}
