/* Against the adb server of the Android platform tools, started here on its
 * fixed port 127.0.0.1:5037 with its own empty home folder, no device attached. */
#include "adb/adb-client.h"
#include "child-process.h"
#include "log-lines.h"
#include "protocol/stream-protocol.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

bool port_5037_answers()
{
	int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in sa = {};
	sa.sin_family = AF_INET;
	sa.sin_port = htons(5037);
	sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	bool answers = connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) == 0;
	close(s);
	return answers;
}

std::string last_error()
{
	const char *text = adb_last_error();
	return text ? text : "(null)";
}

class RealAdbServer : public ::testing::Test {
protected:
	void SetUp() override
	{
		ASSERT_FALSE(port_5037_answers())
			<< "127.0.0.1:5037 is already taken (an adb server left running?); stop it, e.g. with "
			   "`adb kill-server`, and run this test again";

		char pattern[] = "/tmp/ostrelin-adb-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		home_ = pattern;
		adb_set_server_port(5037);
		start_server();
	}

	void TearDown() override
	{
		stop_server();
		std::error_code ec;
		std::filesystem::remove_all(home_, ec);
	}

	void start_server()
	{
		ChildLaunch launch;
		launch.argv = {"adb", "nodaemon", "server"};
		launch.search_path = true;
		launch.output = ChildOutput::file;
		launch.output_file = log_path();
		launch.env = {"HOME=" + home_, "TMPDIR=" + home_,
			      std::string("PATH=") + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")};
		int err = server_.start(launch);
		ASSERT_EQ(err, 0) << "cannot start `adb` (is Debian's adb package installed?): " << strerror(err);

		for (int i = 0; i < 1000 && !port_5037_answers(); i++) {
			if (server_.ended())
				FAIL() << "adb server ended at start:\n" << server_log();
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		}
		ASSERT_TRUE(port_5037_answers()) << "adb server does not listen on 5037:\n" << server_log();
	}

	void stop_server() { server_.stop(SIGTERM); }

	std::string log_path() const { return home_ + "/adb.log"; }
	std::string server_log() const
	{
		std::ifstream in(log_path());
		std::stringstream text;
		text << in.rdbuf();
		return text.str();
	}

	std::string home_;
	ChildProcess server_;
};

} // namespace

TEST_F(RealAdbServer, DeviceListIsEmpty)
{
	AdbDevice *devices = nullptr;
	int count = adb_list_devices(&devices);
	ASSERT_EQ(count, 0) << last_error();
	ASSERT_NE(devices, nullptr);
	static const AdbDevice zero = {};
	for (int i = 0; i < ADB_MAX_DEVICES; i++)
		EXPECT_EQ(memcmp(&devices[i], &zero, sizeof(zero)), 0) << "entry " << i;
	bfree(devices);
}

/* Without a device the server refuses forwards with FAIL0000, an empty reason. */
TEST_F(RealAdbServer, ForwardIsRefusedWithoutADevice)
{
	EXPECT_FALSE(adb_forward(nullptr, STREAM_DEFAULT_PORT, ADB_SOCKET_NAME));
	EXPECT_EQ(last_error(), LOGTEXT_ADB_FAILED);
	EXPECT_FALSE(adb_forward("emulator-5554", STREAM_DEFAULT_PORT, ADB_SOCKET_NAME));
	EXPECT_EQ(last_error(), LOGTEXT_ADB_FAILED);
}

TEST_F(RealAdbServer, RemovalIsRefusedWithoutADevice)
{
	EXPECT_FALSE(adb_forward_remove(nullptr, STREAM_DEFAULT_PORT));
	EXPECT_EQ(last_error(), LOGTEXT_ADB_FAILED);
	EXPECT_FALSE(adb_forward_remove("emulator-5554", STREAM_DEFAULT_PORT));
	EXPECT_EQ(last_error(), LOGTEXT_ADB_FAILED);
}

TEST_F(RealAdbServer, EveryOperationFailsOnceTheServerHasStopped)
{
	AdbDevice *devices = nullptr;
	ASSERT_EQ(adb_list_devices(&devices), 0);
	bfree(devices);
	stop_server();

	const std::string expected = format_text(LOGTEXT_ADB_UNREACHABLE, 5037);
	devices = reinterpret_cast<AdbDevice *>(&devices); /* must be set to null */
	EXPECT_EQ(adb_list_devices(&devices), -1);
	EXPECT_EQ(devices, nullptr);
	EXPECT_EQ(last_error(), expected);
	EXPECT_FALSE(adb_forward(nullptr, STREAM_DEFAULT_PORT, ADB_SOCKET_NAME));
	EXPECT_EQ(last_error(), expected);
	EXPECT_FALSE(adb_forward_remove("emulator-5554", STREAM_DEFAULT_PORT));
	EXPECT_EQ(last_error(), expected);
}
