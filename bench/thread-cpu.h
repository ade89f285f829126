#pragma once
/* CPU time of this process's threads, read from each thread's own CPU clock
 * (Linux: the clock id of a thread id, as pthread_getcpuclockid builds it),
 * so that threads started by a source -- its connection thread, its
 * decoder's threads -- can be told apart from libobs's own by comparing
 * snapshots taken before and after the source started. */

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <set>

using ThreadSet = std::set<pid_t>;

/* The ids of the threads alive now. */
ThreadSet threads_now();
/* Those of `after` not in `before`. */
ThreadSet threads_added(const ThreadSet &before, const ThreadSet &after);
/* CPU nanoseconds of each thread still alive. */
std::map<pid_t, uint64_t> thread_cpu_ns(const ThreadSet &threads);
/* Their sum, counting a thread that has ended since `start` as what it had then. */
uint64_t cpu_ns_since(const std::map<pid_t, uint64_t> &start, const ThreadSet &threads);
