/* The adb client on POSIX descriptors: a connect that a full accept queue
 * never completes, and descriptor numbers beyond what select can hold. */

#include "adb/adb-client-fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

/* A listener whose accept queue is full drops new connection attempts, so
 * the connect itself never completes. */
TEST_F(AdbClient, ConnectThatNeverCompletesGivesTheConnectionText)
{
	int listener = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in sa = {};
	sa.sin_family = AF_INET;
	sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t len = sizeof(sa);
	ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)), 0);
	ASSERT_EQ(listen(listener, 0), 0);
	getsockname(listener, reinterpret_cast<sockaddr *>(&sa), &len);
	int filler = socket(AF_INET, SOCK_STREAM, 0);
	ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)), 0);

	uint16_t port = ntohs(sa.sin_port);
	adb_set_server_port(port);
	EXPECT_FALSE(forward());
	EXPECT_EQ(last_error(), connection_error(port));
	close(filler);
	close(listener);
}

/* The connect wait must work for any descriptor number, also above the 1024
 * that select's fixed sets can hold. */
TEST_F(AdbClient, WorksWithDescriptorsAboveOneThousandTwentyFour)
{
	rlimit limit = {};
	ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
	if (limit.rlim_max < 1200)
		GTEST_SKIP() << "the descriptor limit is below 1200";
	rlimit raised = limit;
	raised.rlim_cur = std::max<rlim_t>(limit.rlim_cur, 1200);
	ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);

	serve_reply(FakeAdbReply::devices("abc\tdevice\n"));
	std::vector<int> fillers;
	while (fillers.empty() || (fillers.back() >= 0 && fillers.back() < 1100))
		fillers.push_back(open("/dev/null", O_RDONLY));
	ASSERT_GE(fillers.back(), 1100);
	{
		DeviceList list;
		EXPECT_EQ(list.count, 1);
	}
	for (int fd : fillers)
		close(fd);
	setrlimit(RLIMIT_NOFILE, &limit);
}
