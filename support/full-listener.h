#pragma once
/* A loopback listener whose accept queue is full: a connect to its port
 * neither succeeds nor is refused, it hangs until the connecting side's own
 * time limit. Stop tests and benchmarks use it to catch a connect wait that
 * a stop does not cut short. */

#include "stream-peer.h"

#include <sys/socket.h>

#include <chrono>
#include <thread>
#include <vector>

class FullListener {
public:
	FullListener() : listener_(0)
	{
		for (int i = 0; i < 4; i++) {
			int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
			sockaddr_in sa = {};
			sa.sin_family = AF_INET;
			sa.sin_port = htons(listener_.port());
			sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
			connect(fd, (sockaddr *)&sa, sizeof(sa));
			fillers_.push_back(fd);
		}
		/* The fillers' handshakes complete and take the queue. */
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
	}
	~FullListener()
	{
		for (int fd : fillers_)
			close(fd);
	}
	FullListener(const FullListener &) = delete;
	FullListener &operator=(const FullListener &) = delete;

	uint16_t port() const { return listener_.port(); }

private:
	peer::Listener listener_;
	std::vector<int> fillers_;
};
