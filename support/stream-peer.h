#pragma once
/* The phone's side of a stream for tests and benchmarks: a loopback listener and a
 * connection that writes the stream's records, whole or split. */

#include "protocol/camera-controls.h"
#include "exact-read.h"
#include "protocol/stream-protocol.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace peer {

using Bytes = std::vector<uint8_t>;

inline Bytes handshake(uint16_t width = 80, uint16_t height = 48, uint8_t fps = 30,
		       uint8_t version = STREAM_PROTOCOL_VERSION, uint8_t codec = STREAM_CODEC_H264,
		       const char *magic = HANDSHAKE_MAGIC)
{
	Handshake hs = handshake_make(width, height, fps);
	memcpy(hs.magic, magic, sizeof(hs.magic));
	hs.version = version;
	hs.codec = codec;
	Bytes out(HANDSHAKE_SIZE);
	handshake_write(hs, out.data());
	return out;
}

inline Bytes packet(uint8_t flags, uint64_t timestamp_us, const Bytes &payload, uint32_t length)
{
	Bytes out(PACKET_HEADER_SIZE);
	packet_header_write({flags, length, timestamp_us}, out.data());
	out.insert(out.end(), payload.begin(), payload.end());
	return out;
}

inline Bytes packet(uint8_t flags, uint64_t timestamp_us, const Bytes &payload)
{
	return packet(flags, timestamp_us, payload, (uint32_t)payload.size());
}

/* A phone with every control: zoom 1.0-8.0x, exposure -12..12 steps of 1/3 EV,
 * torch, AE lock, and white balance auto, daylight and a mode numbered 42. */
inline CameraCaps all_caps()
{
	/* valid, flags, zoom min and max, ev min, max and step, awb count and modes */
	return CameraCaps{0, camera_controls_caps_flags(), 1000, 8000, -12, 12, 333333, 3, {1, 5, 42}};
}

inline Bytes caps_packet(const CameraCaps &caps)
{
	Bytes payload(22 + 4 * CAPS_MAX_AWB_MODES);
	payload.resize(camera_caps_write(caps, payload.data()));
	return packet(PACKET_FLAG_CAPS, 0, payload);
}

inline Bytes audio_config_packet(uint32_t rate, uint8_t channels, const Bytes &asc)
{
	Bytes payload = {0, 0, 0, 0, channels, (uint8_t)asc.size()};
	for (int i = 0; i < 4; i++)
		payload[i] = (uint8_t)(rate >> (8 * i));
	payload.insert(payload.end(), asc.begin(), asc.end());
	return packet(PACKET_FLAG_AUDIO | PACKET_FLAG_CONFIG, 0, payload);
}

/* Microseconds of a monotonic clock, as a phone would stamp its packets. */
inline uint64_t now_us()
{
	return (uint64_t)std::chrono::duration_cast<std::chrono::microseconds>(
		       std::chrono::steady_clock::now().time_since_epoch())
		.count();
}

class Connection {
public:
	explicit Connection(int fd = -1) : fd_(fd) {}
	~Connection() { close(); }
	Connection(Connection &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
	Connection &operator=(Connection &&other) noexcept
	{
		close();
		fd_ = other.fd_;
		other.fd_ = -1;
		return *this;
	}

	bool valid() const { return fd_ >= 0; }
	int fd() const { return fd_; }

	bool send(const Bytes &bytes) { return send(bytes.data(), bytes.size()); }
	bool send(const uint8_t *data, size_t size)
	{
		while (size > 0) {
			ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
			if (n <= 0)
				return false;
			data += n;
			size -= (size_t)n;
		}
		return true;
	}

	/* Sends in pieces of `piece` bytes with a short pause between them, so the
	 * receiver sees partial reads. */
	bool send_split(const Bytes &bytes, size_t piece)
	{
		for (size_t at = 0; at < bytes.size(); at += piece) {
			if (!send(bytes.data() + at, std::min(piece, bytes.size() - at)))
				return false;
			std::this_thread::sleep_for(std::chrono::milliseconds(2));
		}
		return true;
	}

	/* Reads exactly n bytes within timeout_ms; empty on failure. */
	Bytes read(size_t n, int timeout_ms)
	{
		Bytes out(n);
		ExactReadLimits limits;
		limits.total_ms = timeout_ms;
		if (read_exact(fd_, out.data(), n, limits) != ExactRead::done)
			return {};
		return out;
	}

	/* True once the other side has closed (or reset) the connection; the
	 * bytes that came before the close are counted into *received. */
	bool wait_closed(int timeout_ms, size_t *received = nullptr)
	{
		auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
		while (std::chrono::steady_clock::now() < deadline) {
			pollfd p = {fd_, POLLIN, 0};
			if (poll(&p, 1, 20) > 0) {
				uint8_t b[256];
				ssize_t r = ::recv(fd_, b, sizeof(b), MSG_DONTWAIT);
				if (r <= 0)
					return true;
				if (received)
					*received += (size_t)r;
			}
		}
		return false;
	}

	void close()
	{
		if (fd_ >= 0)
			::close(fd_);
		fd_ = -1;
	}

private:
	int fd_;
};

class Listener {
public:
	explicit Listener(int backlog = 8)
	{
		fd_ = loopback_listen_on(0, &port_, backlog);
		if (fd_ < 0)
			throw std::runtime_error("listen failed");
	}
	~Listener()
	{
		if (fd_ >= 0)
			::close(fd_);
	}
	Listener(const Listener &) = delete;
	Listener &operator=(const Listener &) = delete;

	uint16_t port() const { return port_; }

	/* Connections accepted from now on take at most about this much unread
	 * data: a phone that stops reading then fills up quickly. */
	void set_receive_buffer(int bytes) { setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes)); }

	Connection accept(int timeout_ms)
	{
		pollfd p = {fd_, POLLIN, 0};
		if (poll(&p, 1, timeout_ms) <= 0)
			return Connection();
		return Connection(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
	}

private:
	int fd_ = -1;
	uint16_t port_ = 0;
};

/* A port on which nothing listens: bound, then released. */
inline uint16_t unused_port()
{
	Listener l;
	return l.port();
}

/* Open file descriptors and threads of this process, to check nothing is left behind. */
inline int count_entries(const char *dir_path)
{
	int n = 0;
	if (DIR *dir = opendir(dir_path)) {
		while (readdir(dir))
			n++;
		closedir(dir);
	}
	return n - 2;
}

inline int open_fds()
{
	return count_entries("/proc/self/fd") - 1; /* the directory stream itself */
}

/* What descriptor `fd` of this process is open on ("socket:[1234]", a
 * path), or "" when it is closed. */
inline std::string fd_target(int fd)
{
	char link[64], target[256];
	snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
	ssize_t n = readlink(link, target, sizeof(target) - 1);
	return n > 0 ? std::string(target, (size_t)n) : std::string();
}

/* Whether any descriptor of this process is open on `target`. */
inline bool fd_open_on(const std::string &target)
{
	bool found = false;
	if (DIR *dir = opendir("/proc/self/fd")) {
		while (dirent *e = readdir(dir))
			if (e->d_name[0] != '.' && fd_target(atoi(e->d_name)) == target)
				found = true;
		closedir(dir);
	}
	return found;
}

inline int threads()
{
	return count_entries("/proc/self/task");
}

} // namespace peer
