#pragma once
/* A stand-in for the adb server on 127.0.0.1 (port 0 for a free one, or 5037):
 * it reads each framed request ("%04x" length + text), records it, and answers
 * with the bytes the test chooses, written in small pieces so that the client
 * has to put its reads together. Every connection is served on its own thread,
 * so a reply that holds its connection open does not block the others. */

#include "exact-read.h"
#include "loopback.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

struct FakeAdbReply {
	std::string bytes;      /* written after the request has been read whole */
	bool hold_open = false; /* then keep the connection until the client closes it */
	int byte_every_ms = 0;  /* > 0: one byte at a time, this far apart */

	static FakeAdbReply okay(std::string more = "") { return {"OKAY" + more}; }
	static FakeAdbReply fail(const std::string &reason) { return {"FAIL" + hex4(reason.size()) + reason}; }
	static FakeAdbReply devices(const std::string &payload) { return okay(hex4(payload.size()) + payload); }
	/* Reads the request and never answers. */
	static FakeAdbReply silence() { return {"", true}; }
	/* Reads the request and closes without a word. */
	static FakeAdbReply hang_up() { return {""}; }
	/* Answers one byte every ms milliseconds, then waits for the client. */
	static FakeAdbReply trickle(const std::string &bytes, int ms) { return {bytes, true, ms}; }

	static std::string hex4(size_t n)
	{
		char text[2 * sizeof(size_t) + 1];
		snprintf(text, sizeof(text), "%04zx", n);
		return text;
	}
};

using FakeAdbResponder = std::function<FakeAdbReply(const std::string &request)>;

/* An adb server without devices whose forwards all succeed. */
inline FakeAdbReply fake_adb_default_reply(const std::string &request)
{
	if (request == "host:devices")
		return FakeAdbReply::devices("");
	if (request.find("forward:") != std::string::npos)
		return FakeAdbReply::okay();
	return FakeAdbReply::fail("unknown host service");
}

class FakeAdbServer {
public:
	/* Throws std::runtime_error when the port cannot be had. */
	explicit FakeAdbServer(uint16_t port = 0, FakeAdbResponder responder = fake_adb_default_reply)
		: responder_(std::move(responder))
	{
		listener_ = loopback_listen_on(port, &port_, 64);
		if (listener_ == PLAT_INVALID_SOCKET)
			throw std::runtime_error("fake adb server: cannot listen on 127.0.0.1:" + std::to_string(port));
		acceptor_ = std::thread([this] { accept_loop(); });
	}

	~FakeAdbServer() { stop(); }
	FakeAdbServer(const FakeAdbServer &) = delete;
	FakeAdbServer &operator=(const FakeAdbServer &) = delete;

	uint16_t port() const { return port_; }

	/* Request texts (without the length prefix), in the order they were read. */
	std::vector<std::string> requests() const
	{
		std::lock_guard<std::mutex> guard(lock_);
		return requests_;
	}

	/* Each request's bytes exactly as they arrived, length prefix included. */
	std::vector<std::string> raw_requests() const
	{
		std::lock_guard<std::mutex> guard(lock_);
		return raw_requests_;
	}

	/* Connections whose client closed its end while the server held it open. */
	int closed_by_client() const { return closed_by_client_.load(); }

	/* True once `text` has been received, false when timeout_ms pass first. */
	bool wait_for_request(const std::string &text, int timeout_ms) const
	{
		std::unique_lock<std::mutex> guard(lock_);
		return changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] {
			return std::find(requests_.begin(), requests_.end(), text) != requests_.end();
		});
	}

	/* Closes the listener and ends every connection; the port is free afterwards. */
	void stop()
	{
		if (stopping_.exchange(true))
			return;
		acceptor_.join();
		plat_socket_close(listener_);
		std::vector<std::thread> connections;
		{
			std::lock_guard<std::mutex> guard(lock_);
			connections.swap(connections_);
		}
		for (auto &t : connections)
			t.join();
	}

private:
	static constexpr int poll_ms = 20;

	void accept_loop()
	{
		while (!stopping_) {
			if (!wait_readable(listener_))
				continue;
			plat_socket conn = loopback_accept(listener_);
			if (conn == PLAT_INVALID_SOCKET)
				continue;
			std::lock_guard<std::mutex> guard(lock_);
			connections_.emplace_back([this, conn] { serve(conn); });
		}
	}

	bool wait_readable(plat_socket fd) const { return loopback_wait_readable(fd, poll_ms); }

	/* Reads exactly n bytes, waiting as long as the server runs. */
	bool read_whole(plat_socket fd, char *buf, size_t n) const
	{
		ExactReadLimits limits;
		limits.stop = &stopping_;
		return read_exact(fd, buf, n, limits) == ExactRead::done;
	}

	bool read_request(plat_socket fd, std::string *raw, std::string *text) const
	{
		char prefix[5] = {};
		if (!read_whole(fd, prefix, 4))
			return false;
		*raw = prefix;
		unsigned length = 0;
		if (sscanf(prefix, "%4x", &length) != 1)
			return false;
		text->assign(length, '\0');
		if (length > 0 && !read_whole(fd, text->data(), length))
			return false;
		*raw += *text;
		return true;
	}

	/* Pieces of 1, 2, 3, 5, ... bytes with short pauses between them, or
	 * single bytes every byte_every_ms. */
	void write_in_pieces(plat_socket fd, const FakeAdbReply &reply) const
	{
		static const size_t pieces[] = {1, 2, 3, 5, 64, 1000};
		const std::string &bytes = reply.bytes;
		size_t at = 0;
		for (size_t i = 0; at < bytes.size() && !stopping_; i++) {
			size_t n = reply.byte_every_ms > 0 ? 1
							   : std::min(pieces[i % std::size(pieces)], bytes.size() - at);
			if (loopback_send(fd, bytes.data() + at, n) != (long)n)
				return;
			at += n;
			std::this_thread::sleep_for(std::chrono::milliseconds(std::max(1, reply.byte_every_ms)));
		}
	}

	void hold_until_client_closes(plat_socket fd)
	{
		char scrap[256];
		while (!stopping_) {
			if (!wait_readable(fd))
				continue;
			if (recv(fd, scrap, sizeof(scrap), 0) <= 0) {
				closed_by_client_++;
				return;
			}
		}
	}

	void serve(plat_socket fd)
	{
		plat_socket_set_nodelay(fd);
		std::string raw, text;
		if (read_request(fd, &raw, &text)) {
			{
				std::lock_guard<std::mutex> guard(lock_);
				raw_requests_.push_back(raw);
				requests_.push_back(text);
			}
			changed_.notify_all();
			FakeAdbReply reply = responder_(text);
			write_in_pieces(fd, reply);
			if (reply.hold_open)
				hold_until_client_closes(fd);
		}
		plat_socket_close(fd);
	}

	FakeAdbResponder responder_;
	plat_socket listener_ = PLAT_INVALID_SOCKET;
	uint16_t port_ = 0;
	std::atomic<bool> stopping_{false};
	std::atomic<int> closed_by_client_{0};
	std::thread acceptor_;
	mutable std::mutex lock_;
	mutable std::condition_variable changed_;
	std::vector<std::string> requests_;
	std::vector<std::string> raw_requests_;
	std::vector<std::thread> connections_;
};

/* The stand-in on the adb server's own port 5037, where the plug-in looks in
 * USB mode; null with the reason in *error when the port is taken. */
inline std::unique_ptr<FakeAdbServer> fake_adb_server_on_5037(std::string *error)
{
	try {
		return std::make_unique<FakeAdbServer>(5037);
	} catch (const std::exception &e) {
		*error = e.what();
		return nullptr;
	}
}
