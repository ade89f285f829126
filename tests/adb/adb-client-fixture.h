#pragma once
/* What the adb client tests share: the client's calls as a caller makes them,
 * the expected texts, and a fixture that points the client at a stand-in
 * server. */

#include "adb/adb-client.h"
#include "fake-adb-server.h"
#include "log-lines.h"
#include "protocol/stream-protocol.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

inline std::string last_error()
{
	const char *text = adb_last_error();
	return text ? text : "(null)";
}

inline std::string connection_error(uint16_t port)
{
	return format_text(LOGTEXT_ADB_UNREACHABLE, (int)port);
}

/* The device array of one call, freed with bfree as every caller must. */
struct DeviceList {
	AdbDevice *devices = nullptr;
	int count = 0;
	DeviceList() { count = adb_list_devices(&devices); }
	~DeviceList() { bfree(devices); }
};

inline bool forward()
{
	return adb_forward(nullptr, STREAM_DEFAULT_PORT, ADB_SOCKET_NAME);
}
/* The text of forward()'s request after the given prefix ("host" or
 * "host-serial:<serial>"). */
inline std::string forward_text(const std::string &prefix)
{
	return prefix + ":forward:tcp:" + std::to_string(STREAM_DEFAULT_PORT) + ";localabstract:" ADB_SOCKET_NAME;
}

/* A request as the server receives it: its length in four hexadecimal
 * digits, then its text. */
inline std::string framed(const std::string &text)
{
	char digits[8];
	snprintf(digits, sizeof(digits), "%04x", (unsigned)text.size());
	return digits + text;
}

inline bool remove_forward()
{
	return adb_forward_remove(nullptr, STREAM_DEFAULT_PORT);
}

/* Waits (bounded, so a fault cannot hang the test) until pred holds. */
template<typename Pred> bool eventually(Pred pred)
{
	for (int i = 0; i < 500; i++) {
		if (pred())
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return pred();
}

class AdbClient : public ::testing::Test {
protected:
	void serve(FakeAdbResponder responder = fake_adb_default_reply)
	{
		server_ = std::make_unique<FakeAdbServer>(0, std::move(responder));
		adb_set_server_port(server_->port());
	}
	void serve_reply(const FakeAdbReply &reply)
	{
		serve([reply](const std::string &) { return reply; });
	}
	void serve_bytes(const std::string &bytes) { serve_reply({bytes}); }

	std::unique_ptr<FakeAdbServer> server_;
};
