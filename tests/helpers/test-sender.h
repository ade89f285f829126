#pragma once
/* The reference sender as a child process, and the receiving end of its
 * stream over loopback, for the sender's tests. */

#include "exact-read.h"
#include "monotonic-clock.h"
#include "sender-process.h"
#include "protocol/stream-protocol.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace sender_test {

using Bytes = std::vector<uint8_t>;

using ::SenderProcess;

struct Packet {
	PacketHeader header;
	Bytes payload;
	size_t header_first_read; /* bytes the first receive of the header gave */
	size_t payload_first_read;
};

/* The receiving end: exact reads with a 5 s limit per receive. */
class StreamClient {
public:
	explicit StreamClient(uint16_t port)
	{
		fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		sockaddr_in addr = loopback_address(port);
		if (connect(fd_, (sockaddr *)&addr, sizeof(addr)) != 0) {
			close(fd_);
			fd_ = -1;
			return;
		}
		timeval tv = {silence_limit_ms / 1000, 0};
		setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
	}

	~StreamClient() { close_now(); }

	StreamClient(const StreamClient &) = delete;
	StreamClient &operator=(const StreamClient &) = delete;

	bool connected() const { return fd_ >= 0; }

	void close_now()
	{
		if (fd_ >= 0)
			close(fd_);
		fd_ = -1;
	}

	/* Exactly size bytes; false at the end of the stream or after 5 s of
	 * silence. *first_read gets what the first receive gave. */
	bool read_exact(void *data, size_t size, size_t *first_read = nullptr)
	{
		ExactReadLimits limits;
		limits.silence_ms = silence_limit_ms;
		return ::read_exact(fd_, data, size, limits, first_read) == ExactRead::done;
	}

	std::optional<Handshake> read_handshake(size_t *first_read = nullptr)
	{
		uint8_t bytes[HANDSHAKE_SIZE];
		if (!read_exact(bytes, sizeof(bytes), first_read))
			return std::nullopt;
		return handshake_parse(bytes);
	}

	bool read_header(Packet *packet)
	{
		uint8_t bytes[PACKET_HEADER_SIZE];
		packet->header_first_read = 0;
		if (!read_exact(bytes, sizeof(bytes), &packet->header_first_read))
			return false;
		packet->header = packet_header_parse(bytes);
		return true;
	}

	bool read_packet(Packet *packet)
	{
		if (!read_header(packet))
			return false;
		packet->payload.resize(packet->header.length);
		packet->payload_first_read = 0;
		return packet->header.length == 0 ||
		       read_exact(packet->payload.data(), packet->payload.size(), &packet->payload_first_read);
	}

	/* The handshake, then the first packet of a kind after it. */
	bool read_past_handshake(PacketKind kind, Packet *packet)
	{
		return read_handshake() && read_until(kind, packet);
	}

	/* The next packet of a kind; others before it are skipped. */
	bool read_until(PacketKind kind, Packet *packet, int limit = 1000)
	{
		for (int i = 0; i < limit; i++) {
			if (!read_packet(packet))
				return false;
			if (packet->header.length > 0 && packet_kind(packet->header.flags) == kind)
				return true;
		}
		return false;
	}

	bool send_bytes(const void *data, size_t size) { return send(fd_, data, size, MSG_NOSIGNAL) == (ssize_t)size; }

	/* True when nothing arrives within ms. */
	bool silent_for(int ms)
	{
		pollfd pfd = {fd_, POLLIN, 0};
		return poll(&pfd, 1, ms) == 0;
	}

	/* Reads and drops everything up to the end of the stream: the number of
	 * bytes before the peer closed, or -1 when a receive failed or timed out. */
	long count_to_end()
	{
		uint8_t chunk[65536];
		long total = 0;
		for (;;) {
			ssize_t n = recv(fd_, chunk, sizeof(chunk), 0);
			if (n == 0)
				return total;
			if (n > 0)
				total += n;
			else if (errno != EINTR)
				return -1;
		}
	}

private:
	static constexpr int silence_limit_ms = 5000;

	int fd_ = -1;
};

/* A sender that ends by itself after a minute, should a test die before it. */
class BoundedSender : public SenderProcess {
public:
	explicit BoundedSender(std::vector<std::string> args = {}) : SenderProcess(limited(std::move(args))) {}

private:
	static std::vector<std::string> limited(std::vector<std::string> args)
	{
		args.insert(args.end(), {"--duration", "60"});
		return args;
	}
};

/* The types of the NAL units of an Annex B access unit, in order. */
inline std::vector<int> nal_types(const Bytes &au)
{
	std::vector<int> types;
	for (size_t i = 0; i + 3 < au.size(); i++) {
		if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
			types.push_back(au[i + 3] & 0x1F);
			i += 3;
		}
	}
	return types;
}

inline bool contains(const std::vector<int> &values, int value)
{
	for (int v : values)
		if (v == value)
			return true;
	return false;
}

} // namespace sender_test
