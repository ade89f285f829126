#include "thread.h"

#include <cerrno>
#include <ctime>
#include <new>
#include <pthread.h>

namespace {

struct ThreadStart {
	nx_thread_fn fn;
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

bool nx_thread_start(nx_thread *t, nx_thread_fn fn, void *arg)
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

void nx_thread_join(nx_thread *t)
{
	if (!t->handle)
		return;
	auto *id = static_cast<pthread_t *>(t->handle);
	pthread_join(*id, nullptr);
	delete id;
	t->handle = nullptr;
}

bool nx_thread_running(const nx_thread *t)
{
	return t->handle != nullptr;
}

struct nx_stop_signal {
	pthread_mutex_t lock;
	pthread_cond_t cond;
	bool raised;
};

nx_stop_signal *nx_stop_create(void)
{
	auto *stop = new (std::nothrow) nx_stop_signal;
	if (!stop)
		return nullptr;
	pthread_mutex_init(&stop->lock, nullptr);
	pthread_condattr_t attr;
	pthread_condattr_init(&attr);
#ifndef __APPLE__
	pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
#endif
	pthread_cond_init(&stop->cond, &attr);
	pthread_condattr_destroy(&attr);
	stop->raised = false;
	return stop;
}

void nx_stop_destroy(nx_stop_signal *stop)
{
	if (!stop)
		return;
	pthread_cond_destroy(&stop->cond);
	pthread_mutex_destroy(&stop->lock);
	delete stop;
}

void nx_stop_raise(nx_stop_signal *stop)
{
	pthread_mutex_lock(&stop->lock);
	stop->raised = true;
	pthread_cond_broadcast(&stop->cond);
	pthread_mutex_unlock(&stop->lock);
}

void nx_stop_reset(nx_stop_signal *stop)
{
	pthread_mutex_lock(&stop->lock);
	stop->raised = false;
	pthread_mutex_unlock(&stop->lock);
}

bool nx_stop_raised(nx_stop_signal *stop)
{
	pthread_mutex_lock(&stop->lock);
	bool raised = stop->raised;
	pthread_mutex_unlock(&stop->lock);
	return raised;
}

#ifdef __APPLE__
bool nx_stop_wait(nx_stop_signal *stop, uint32_t ms)
{
	timespec rel = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
	pthread_mutex_lock(&stop->lock);
	if (!stop->raised)
		pthread_cond_timedwait_relative_np(&stop->cond, &stop->lock, &rel);
	bool raised = stop->raised;
	pthread_mutex_unlock(&stop->lock);
	return raised;
}
#else
bool nx_stop_wait(nx_stop_signal *stop, uint32_t ms)
{
	timespec deadline;
	clock_gettime(CLOCK_MONOTONIC, &deadline);
	deadline.tv_sec += ms / 1000;
	deadline.tv_nsec += (long)(ms % 1000) * 1000000L;
	if (deadline.tv_nsec >= 1000000000L) {
		deadline.tv_sec += 1;
		deadline.tv_nsec -= 1000000000L;
	}

	pthread_mutex_lock(&stop->lock);
	int result = 0;
	while (!stop->raised && result != ETIMEDOUT)
		result = pthread_cond_timedwait(&stop->cond, &stop->lock, &deadline);
	bool raised = stop->raised;
	pthread_mutex_unlock(&stop->lock);
	return raised;
}
#endif
