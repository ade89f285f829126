#include "adb/adb-client.h"
#include "log/log-texts.h"
#include "platform/net.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

/* Host protocol, as this client speaks it:
 *
 *   request   "%04x" length of the text | text            e.g. 000chost:devices
 *   status    "OKAY" | "FAIL"
 *   after FAIL      "%04x" length | reason text
 *   after OKAY to host:devices   "%04x" length | lines "serial\tstate\n"
 *   after OKAY to a forward      up to 4 bytes, dropped if already there
 */

/* A whole request (connect, send, reply) ends this long after it started,
 * whatever the server does: silence, a byte at a time, half a reply. */
static constexpr int request_limit_ms = 2000;

static std::atomic<uint16_t> g_server_port{5037};

/* Raised to end the requests of one thread at once (its source stops); every
 * wait of a request watches it. */
static thread_local plat_stop_signal *t_stop = nullptr;

/* One text for the whole process; the lock keeps overlapping failures on
 * several threads from mixing their texts. */
static std::mutex g_error_lock;
static char g_last_error[256];

/* Checked like printf, so the fields match the texts of log-texts.h. */
__attribute__((__format__(__printf__, 1, 2))) static void set_error(const char *format, ...);
static void set_error(const char *format, ...)
{
	char text[sizeof(g_last_error)];
	va_list args;
	va_start(args, format);
	vsnprintf(text, sizeof(text), format, args);
	va_end(args);

	std::lock_guard<std::mutex> guard(g_error_lock);
	memcpy(g_last_error, text, sizeof(text));
}

/* One request: the connection to the server, closed on every way out, and
 * the deadline every wait of the request shares. */
class Request {
public:
	Request()
		: s_(plat_socket_tcp()),
		  deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(request_limit_ms))
	{
	}
	~Request() { plat_socket_close(s_); }
	Request(const Request &) = delete;
	Request &operator=(const Request &) = delete;

	plat_socket get() const { return s_; }

	/* Connects to the server on 127.0.0.1 within the request's time. */
	bool connect(uint16_t port) const
	{
		return plat_connect_within(s_, plat_loopback_be(), port, &t_stop, 1, left_ms());
	}

	/* Waits for the socket within what is left of the request's time;
	 * false when it ran out, a stop came, or the wait failed. */
	bool wait(int events) const
	{
		int left = left_ms();
		if (left <= 0)
			return false;
		return plat_wait_socket(s_, events, &t_stop, 1, left) > 0;
	}

private:
	int left_ms() const
	{
		using namespace std::chrono;
		auto left = duration_cast<milliseconds>(deadline_ - steady_clock::now()).count();
		return left > 0 ? (int)left : 0;
	}

	plat_socket s_;
	std::chrono::steady_clock::time_point deadline_;
};

struct BFreeDeleter {
	void operator()(void *p) const { bfree(p); }
};

static bool connect_server(const Request &req)
{
	if (req.get() == PLAT_INVALID_SOCKET) {
		set_error(LOGTEXT_ADB_SOCKET_FAILED, plat_last_error_code());
		return false;
	}
	uint16_t port = g_server_port.load();
	if (!req.connect(port)) {
		set_error(LOGTEXT_ADB_UNREACHABLE, (int)port);
		return false;
	}
	return true;
}

static bool send_all(const Request &req, const char *data, size_t len)
{
	while (len > 0) {
		long sent = plat_send(req.get(), data, len);
		if (sent < 0 && plat_last_error_is_timeout() && req.wait(PLAT_WAIT_WRITE))
			continue;
		if (sent <= 0)
			return false;
		data += sent;
		len -= (size_t)sent;
	}
	return true;
}

/* A failed send sets no error text. */
static bool send_request(const Request &req, const char *text)
{
	size_t len = strlen(text);
	char prefix[5];
	snprintf(prefix, sizeof(prefix), "%04x", (unsigned)len);
	return send_all(req, prefix, 4) && send_all(req, text, len);
}

/* False when the connection ends, fails, the request runs out of time or a
 * stop comes first. */
static bool read_exact(const Request &req, char *buf, size_t len)
{
	while (len > 0) {
		long got = plat_recv(req.get(), buf, len);
		if (got < 0 && plat_last_error_is_timeout() && req.wait(PLAT_WAIT_READ))
			continue;
		if (got <= 0)
			return false;
		buf += got;
		len -= (size_t)got;
	}
	return true;
}

/* The server's four hexadecimal digits (either case); false when nothing
 * converts. */
static bool parse_length(const char digits[5], unsigned *length)
{
	return sscanf(digits, "%4x", length) == 1;
}

/* Reads the reason that follows "FAIL" into the last-error text. */
static void read_status(const Request &req)
{
	char digits[5] = {};
	unsigned length = 0;
	if (!read_exact(req, digits, 4) || !parse_length(digits, &length))
		length = 0;

	char reason[256] = {};
	if (length < 1 || length > 255 || !read_exact(req, reason, length)) {
		set_error(LOGTEXT_ADB_FAILED);
		return;
	}
	set_error(LOGTEXT_ADB_REASON, reason);
}

static bool expect_okay(const Request &req)
{
	char status[4];
	if (!read_exact(req, status, sizeof(status))) {
		set_error(LOGTEXT_ADB_NO_REPLY);
		return false;
	}
	if (memcmp(status, "OKAY", 4) == 0)
		return true;
	if (memcmp(status, "FAIL", 4) == 0)
		read_status(req);
	else
		set_error(LOGTEXT_ADB_BAD_REPLY);
	return false;
}

/* A forward counts as made on its first OKAY. The server may follow it with
 * more (a second status, a port); take what has already arrived without
 * waiting, and drop it. */
static void drop_pending_bytes(const Request &req)
{
	char ignored[4];
	(void)plat_recv(req.get(), ignored, sizeof(ignored));
}

static bool forward_command(const char *serial, const char *command)
{
	Request req;
	if (!connect_server(req))
		return false;

	char request[256];
	if (serial && *serial)
		snprintf(request, sizeof(request), "host-serial:%s:%s", serial, command);
	else
		snprintf(request, sizeof(request), "host:%s", command);

	if (!send_request(req, request) || !expect_okay(req))
		return false;
	drop_pending_bytes(req);
	return true;
}

bool adb_forward(const char *serial, int local_port, const char *socket_name)
{
	char command[256];
	snprintf(command, sizeof(command), "forward:tcp:%d;localabstract:%s", local_port,
		 socket_name ? socket_name : "");
	return forward_command(serial, command);
}

bool adb_forward_remove(const char *serial, int local_port)
{
	char command[128];
	snprintf(command, sizeof(command), "killforward:tcp:%d", local_port);
	return forward_command(serial, command);
}

/* The NUL-terminated payload of a host:devices reply (bmalloc'ed), or null
 * with the last-error text set. */
static char *fetch_device_list(void)
{
	Request req;
	if (!connect_server(req))
		return nullptr;
	if (!send_request(req, "host:devices") || !expect_okay(req))
		return nullptr;

	char digits[5] = {};
	unsigned length = 0;
	std::unique_ptr<char, BFreeDeleter> payload;
	if (read_exact(req, digits, 4) && parse_length(digits, &length) && length <= 0xffff)
		payload.reset(static_cast<char *>(bmalloc(length + 1)));
	if (!payload || !read_exact(req, payload.get(), length)) {
		set_error(LOGTEXT_ADB_LIST_FAILED);
		return nullptr;
	}
	payload.get()[length] = '\0';
	return payload.release();
}

int adb_list_devices(AdbDevice **out)
{
	*out = nullptr;
	std::unique_ptr<char, BFreeDeleter> payload(fetch_device_list());
	if (!payload)
		return -1;

	auto *devices = static_cast<AdbDevice *>(bmalloc(sizeof(AdbDevice) * ADB_MAX_DEVICES));
	int count = adb_parse_device_list(payload.get(), devices);
	*out = devices;
	return count;
}

static void copy_cut(char *dst, size_t size, std::string_view text)
{
	size_t n = std::min(text.size(), size - 1);
	memcpy(dst, text.data(), n);
	dst[n] = '\0';
}

int adb_parse_device_list(const char *payload, AdbDevice devices[ADB_MAX_DEVICES])
{
	memset(devices, 0, sizeof(AdbDevice) * ADB_MAX_DEVICES);

	std::string_view rest(payload);
	int count = 0;
	while (!rest.empty() && count < ADB_MAX_DEVICES) {
		size_t end = rest.find('\n');
		std::string_view line = rest.substr(0, end);
		rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);

		size_t tab = line.find('\t');
		if (tab == std::string_view::npos)
			continue;
		AdbDevice &device = devices[count++];
		copy_cut(device.serial, sizeof(device.serial), line.substr(0, tab));
		copy_cut(device.state, sizeof(device.state), line.substr(tab + 1));
	}
	return count;
}

/* The text is copied out under the lock into a buffer of the calling thread,
 * valid until that thread calls here again. */
const char *adb_last_error(void)
{
	thread_local char copy[sizeof(g_last_error)];
	std::lock_guard<std::mutex> guard(g_error_lock);
	if (g_last_error[0] == '\0')
		return nullptr;
	memcpy(copy, g_last_error, sizeof(copy));
	return copy;
}

void adb_set_server_port(uint16_t port)
{
	g_server_port.store(port);
}

void adb_set_thread_stop(plat_stop_signal *stop)
{
	t_stop = stop;
}
