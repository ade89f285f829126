#include "adb/adb-client.h"
#include "fake-adb-server.h"
#include "log-lines.h"
#include "protocol/stream-protocol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

/* Each thread has a serial of its own; the server fails its requests with a
 * reason made of that serial's letter, or for odd threads with an empty
 * reason. Texts of several lengths make a torn text stand out. */
static std::string reason_for(char letter)
{
	return std::string(120 + (letter - 'A') * 16, letter);
}

static FakeAdbReply fail_by_serial(const std::string &request)
{
	const std::string prefix = "host-serial:";
	char letter = request.size() > prefix.size() ? request[prefix.size()] : '?';
	if ((letter - 'A') % 2 == 1)
		return FakeAdbReply::fail("");
	return FakeAdbReply::fail(reason_for(letter));
}

TEST(AdbConcurrency, OverlappingFailuresNeverTearTheText)
{
	constexpr int threads = 8;
	constexpr int calls = 25;
	FakeAdbServer server(0, fail_by_serial);
	adb_set_server_port(server.port());

	std::set<std::string> whole_texts = {LOGTEXT_ADB_FAILED};
	for (int i = 0; i < threads; i++)
		whole_texts.insert(format_text(LOGTEXT_ADB_REASON, reason_for((char)('A' + i)).c_str()));

	std::atomic<int> torn{0};
	std::atomic<int> succeeded{0};
	std::atomic<bool> done{false};
	auto check = [&](const char *text) {
		if (!text || !whole_texts.count(text))
			torn++;
	};

	std::vector<std::thread> workers;
	for (int i = 0; i < threads; i++) {
		workers.emplace_back([&, i] {
			const std::string serial(1, (char)('A' + i));
			for (int n = 0; n < calls; n++) {
				if (adb_forward(serial.c_str(), STREAM_DEFAULT_PORT, ADB_SOCKET_NAME))
					succeeded++;
				check(adb_last_error());
			}
		});
	}
	std::thread reader([&] {
		while (!done) {
			const char *text = adb_last_error();
			if (text)
				check(text);
		}
	});
	for (auto &t : workers)
		t.join();
	done = true;
	reader.join();

	EXPECT_EQ(succeeded.load(), 0);
	EXPECT_EQ(torn.load(), 0);
	EXPECT_EQ(server.requests().size(), (size_t)(threads * calls));
}
