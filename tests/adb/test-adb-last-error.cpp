/* Its own executable: the last-error text is process-wide, so "null until the
 * first failure" can only be seen in a process where nothing has failed yet. */
#include "adb/adb-client.h"
#include "fake-adb-server.h"
#include "log-lines.h"
#include "protocol/stream-protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

static std::string text_on_another_thread()
{
	std::string seen;
	std::thread([&] {
		const char *text = adb_last_error();
		seen = text ? text : "(null)";
	}).join();
	return seen;
}

TEST(AdbLastError, NullUntilTheFirstFailureThenKeptAcrossSuccesses)
{
	FakeAdbServer server(0, [](const std::string &request) {
		if (request.find(":" + std::to_string(STREAM_DEFAULT_PORT) + ";") != std::string::npos)
			return FakeAdbReply::fail("xxxxx");
		if (request.find(":" + std::to_string(STREAM_DEFAULT_PORT + 1) + ";") != std::string::npos)
			return FakeAdbReply{"NOPE"};
		return fake_adb_default_reply(request);
	});
	adb_set_server_port(server.port());

	EXPECT_EQ(adb_last_error(), nullptr);
	AdbDevice *devices = nullptr;
	EXPECT_EQ(adb_list_devices(&devices), 0);
	bfree(devices);
	EXPECT_TRUE(adb_forward(nullptr, 8000, ADB_SOCKET_NAME));
	EXPECT_TRUE(adb_forward_remove(nullptr, 8000));
	EXPECT_EQ(adb_last_error(), nullptr) << "successes leave the text empty";

	EXPECT_FALSE(adb_forward(nullptr, STREAM_DEFAULT_PORT, ADB_SOCKET_NAME));
	ASSERT_NE(adb_last_error(), nullptr);
	EXPECT_STREQ(adb_last_error(), format_text(LOGTEXT_ADB_REASON, "xxxxx").c_str());

	EXPECT_EQ(adb_list_devices(&devices), 0);
	bfree(devices);
	EXPECT_TRUE(adb_forward(nullptr, 8000, ADB_SOCKET_NAME));
	EXPECT_STREQ(adb_last_error(), format_text(LOGTEXT_ADB_REASON, "xxxxx").c_str())
		<< "a success keeps the previous failure's text";
	EXPECT_EQ(text_on_another_thread(), format_text(LOGTEXT_ADB_REASON, "xxxxx"))
		<< "one text for the whole process";

	EXPECT_FALSE(adb_forward(nullptr, STREAM_DEFAULT_PORT + 1, ADB_SOCKET_NAME));
	EXPECT_STREQ(adb_last_error(), LOGTEXT_ADB_BAD_REPLY);
}
