/* What an adb server answers, through the adb client: the first input byte
 * picks the request (device list, forward, forward removal) and the rest is
 * the server's whole reply, served by a loopback server in this process that
 * reads the framed request, writes the reply and closes. The device list's
 * text is also parsed on its own. Whatever the reply, a call must give a
 * verdict the callers can use: a count of 0 to 16 NUL-terminated entries or
 * -1 with no list, and a failure text after every failure. */

#include "adb/adb-client.h"
#include "fuzz-quiet.h"
#include "protocol/stream-protocol.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <util/bmem.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

/* One listening socket for the whole run; each connection gets the reply
 * that was set before the client call, then the server reports it is done. */
class ReplyServer {
public:
	ReplyServer()
	{
		listener_ = socket(AF_INET, SOCK_STREAM, 0);
		sockaddr_in addr = {};
		addr.sin_family = AF_INET;
		addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		socklen_t len = sizeof(addr);
		FUZZ_CHECK(bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0);
		FUZZ_CHECK(listen(listener_, 16) == 0);
		FUZZ_CHECK(getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len) == 0);
		port_ = ntohs(addr.sin_port);
		thread_ = std::thread([this] { serve(); });
	}

	uint16_t port() const { return port_; }

	void set_reply(std::string reply)
	{
		std::lock_guard<std::mutex> guard(lock_);
		reply_ = std::move(reply);
	}

	/* Waits until the server has served as many connections as were made. */
	void wait_served(unsigned long connections)
	{
		std::unique_lock<std::mutex> guard(lock_);
		served_changed_.wait(guard, [&] { return served_ >= connections; });
	}

	unsigned long served()
	{
		std::lock_guard<std::mutex> guard(lock_);
		return served_;
	}

private:
	static bool read_exact(int fd, char *buf, size_t len)
	{
		while (len > 0) {
			ssize_t got = recv(fd, buf, len, 0);
			if (got <= 0)
				return false;
			buf += got;
			len -= (size_t)got;
		}
		return true;
	}

	void serve()
	{
		for (;;) {
			int fd = accept(listener_, nullptr, nullptr);
			if (fd < 0)
				continue;
			char digits[5] = {};
			unsigned length = 0;
			std::string request(0x10000, '\0');
			if (read_exact(fd, digits, 4) && sscanf(digits, "%4x", &length) == 1 &&
			    read_exact(fd, request.data(), length)) {
				std::string reply;
				{
					std::lock_guard<std::mutex> guard(lock_);
					reply = reply_;
				}
				size_t sent = 0;
				while (sent < reply.size()) {
					ssize_t n = send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
					if (n <= 0)
						break;
					sent += (size_t)n;
				}
			}
			close(fd);
			std::lock_guard<std::mutex> guard(lock_);
			served_++;
			served_changed_.notify_all();
		}
	}

	int listener_ = -1;
	uint16_t port_ = 0;
	std::thread thread_;
	std::mutex lock_;
	std::condition_variable served_changed_;
	std::string reply_;
	unsigned long served_ = 0;
};

ReplyServer *g_server;

bool terminated(const char *text, size_t size)
{
	return memchr(text, '\0', size) != nullptr;
}

void check_device_list(const AdbDevice *devices, int count)
{
	FUZZ_CHECK(count >= 0 && count <= ADB_MAX_DEVICES);
	for (int i = 0; i < ADB_MAX_DEVICES; i++) {
		FUZZ_CHECK(terminated(devices[i].serial, sizeof(devices[i].serial)));
		FUZZ_CHECK(terminated(devices[i].state, sizeof(devices[i].state)));
	}
}

} // namespace

void fuzz_setup()
{
	g_server = new ReplyServer(); /* lives for the whole run, its thread too */
	adb_set_server_port(g_server->port());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	std::string reply(reinterpret_cast<const char *>(data + 1), size - 1);

	/* The device-list text alone, as the client parses it after the framing. */
	AdbDevice parsed[ADB_MAX_DEVICES];
	check_device_list(parsed, adb_parse_device_list(reply.c_str(), parsed));

	g_server->set_reply(reply);
	unsigned long before = g_server->served();
	switch (data[0] % 3) {
	case 0: {
		AdbDevice *devices = nullptr;
		int count = adb_list_devices(&devices);
		if (count < 0) {
			FUZZ_CHECK(devices == nullptr);
			FUZZ_CHECK(adb_last_error() != nullptr);
		} else {
			FUZZ_CHECK(devices != nullptr);
			check_device_list(devices, count);
		}
		bfree(devices);
		break;
	}
	case 1:
		if (!adb_forward(size % 2 ? "R58M123ABC" : nullptr, STREAM_DEFAULT_PORT, ADB_SOCKET_NAME))
			FUZZ_CHECK(adb_last_error() != nullptr);
		break;
	case 2:
		if (!adb_forward_remove(nullptr, STREAM_DEFAULT_PORT))
			FUZZ_CHECK(adb_last_error() != nullptr);
		break;
	}
	g_server->wait_served(before + 1);
	return 0;
}
