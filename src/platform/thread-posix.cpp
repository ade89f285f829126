#include "platform/thread.h"
#include "platform/signal-handle.h"

#include <cerrno>
#include <ctime>
#include <new>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace {

struct ThreadStart {
	plat_thread_fn fn;
	void *arg;
};

void *thread_main(void *param)
{
	ThreadStart start = *static_cast<ThreadStart *>(param);
	delete static_cast<ThreadStart *>(param);
	start.fn(start.arg);
	return nullptr;
}

} // namespace

bool plat_thread_start(plat_thread *t, plat_thread_fn fn, void *arg)
{
	auto *start = new (std::nothrow) ThreadStart{fn, arg};
	auto *id = new (std::nothrow) pthread_t;
	if (!start || !id || pthread_create(id, nullptr, thread_main, start) != 0) {
		delete start;
		delete id;
		t->handle = nullptr;
		return false;
	}
	t->handle = id;
	return true;
}

void plat_thread_join(plat_thread *t)
{
	if (!t->handle)
		return;
	auto *id = static_cast<pthread_t *>(t->handle);
	pthread_join(*id, nullptr);
	delete id;
	t->handle = nullptr;
}

bool plat_thread_running(const plat_thread *t)
{
	return t->handle != nullptr;
}

/* A pipe whose read end holds one byte while the signal is raised, so that
 * poll() can wait on it beside a socket. The lock keeps raise and reset from
 * interleaving, so the byte and the flag always agree. */
struct plat_stop_signal {
	pthread_mutex_t lock;
	int fds[2];
	bool raised;
};

static bool open_pipe(int fds[2])
{
	if (pipe(fds) != 0)
		return false;
	for (int i = 0; i < 2; i++) {
		int flags = fcntl(fds[i], F_GETFL, 0);
		if (flags < 0 || fcntl(fds[i], F_SETFL, flags | O_NONBLOCK) != 0 ||
		    fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0) {
			close(fds[0]);
			close(fds[1]);
			return false;
		}
	}
	return true;
}

plat_stop_signal *plat_stop_create(void)
{
	auto *stop = new (std::nothrow) plat_stop_signal;
	if (!stop)
		return nullptr;
	if (!open_pipe(stop->fds)) {
		delete stop;
		return nullptr;
	}
	pthread_mutex_init(&stop->lock, nullptr);
	stop->raised = false;
	return stop;
}

void plat_stop_destroy(plat_stop_signal *stop)
{
	if (!stop)
		return;
	close(stop->fds[0]);
	close(stop->fds[1]);
	pthread_mutex_destroy(&stop->lock);
	delete stop;
}

void plat_stop_raise(plat_stop_signal *stop)
{
	pthread_mutex_lock(&stop->lock);
	if (!stop->raised) {
		char byte = 1;
		while (write(stop->fds[1], &byte, 1) < 0 && errno == EINTR) {
		}
		stop->raised = true;
	}
	pthread_mutex_unlock(&stop->lock);
}

void plat_stop_reset(plat_stop_signal *stop)
{
	pthread_mutex_lock(&stop->lock);
	if (stop->raised) {
		char byte;
		while (read(stop->fds[0], &byte, 1) < 0 && errno == EINTR) {
		}
		stop->raised = false;
	}
	pthread_mutex_unlock(&stop->lock);
}

bool plat_stop_raised(plat_stop_signal *stop)
{
	pthread_mutex_lock(&stop->lock);
	bool raised = stop->raised;
	pthread_mutex_unlock(&stop->lock);
	return raised;
}

bool plat_stop_wait(plat_stop_signal *stop, uint32_t ms)
{
	timespec start;
	clock_gettime(CLOCK_MONOTONIC, &start);
	for (;;) {
		if (plat_stop_raised(stop))
			return true;
		timespec now;
		clock_gettime(CLOCK_MONOTONIC, &now);
		int64_t elapsed_ms =
			(int64_t)(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
		if (elapsed_ms >= (int64_t)ms)
			return false;
		pollfd entry = {stop->fds[0], POLLIN, 0};
		poll(&entry, 1, (int)((int64_t)ms - elapsed_ms));
	}
}

int plat_stop_fd(plat_stop_signal *stop)
{
	return stop->fds[0];
}
