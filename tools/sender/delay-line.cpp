#include "delay-line.h"

#include "monotonic-clock.h"

#include <chrono>

static void run_line(DelayLine *line)
{
	std::unique_lock<std::mutex> lock(line->mutex);
	for (;;) {
		if (line->stopping)
			return;
		if (line->queue.empty()) {
			line->wake.wait(lock);
			continue;
		}
		int64_t wait_us = line->queue.front().first - monotonic_us();
		if (wait_us > 0) {
			line->wake.wait_for(lock, std::chrono::microseconds(wait_us));
			continue;
		}
		std::vector<uint8_t> bytes = std::move(line->queue.front().second);
		line->queue.pop_front();
		lock.unlock();
		bool sent = connection_send(line->conn, bytes.data(), bytes.size());
		lock.lock();
		if (!sent)
			return;
	}
}

void delay_line_start(DelayLine &line, const NetDelayOptions &opts)
{
	net_delay_start(&line.delay, opts);
	line.thread = std::thread(run_line, &line);
}

bool delay_line_send(DelayLine &line, std::vector<uint8_t> bytes)
{
	if (!connection_alive(line.conn))
		return false;
	int64_t release = net_delay_release(&line.delay, monotonic_us());
	{
		std::lock_guard<std::mutex> guard(line.mutex);
		line.queue.emplace_back(release, std::move(bytes));
	}
	line.wake.notify_one();
	return true;
}

void delay_line_stop(DelayLine &line)
{
	{
		std::lock_guard<std::mutex> guard(line.mutex);
		line.stopping = true;
		line.queue.clear();
	}
	line.wake.notify_one();
	if (line.thread.joinable())
		line.thread.join();
}
