/* The exact-read helper of the test peers and the sender tool, on a loopback
 * connection: each way out, and the byte count at the edge of what was sent. */

#include "exact-read.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

/* A loopback connection whose far end has written `sent` and then either
 * closed or stayed open. */
struct Wire {
	int reader = -1;

	Wire(const std::string &sent, bool close_after)
	{
		uint16_t port = 0;
		int listener = loopback_listen(&port);
		reader = socket(AF_INET, SOCK_STREAM, 0);
		sockaddr_in sa = loopback_address(port);
		EXPECT_EQ(connect(reader, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)), 0);
		writer = loopback_accept(listener);
		close(listener);
		EXPECT_EQ(loopback_send(writer, sent.data(), sent.size()), (long)sent.size());
		if (close_after) {
			close(writer);
			writer = -1;
		}
	}
	~Wire()
	{
		close(reader);
		if (writer >= 0)
			close(writer);
	}

private:
	int writer = -1;
};

} // namespace

TEST(ExactRead, EachWayOut)
{
	const std::atomic<bool> raised{true};
	const struct {
		const char *what;
		const char *sent;
		bool close_after;
		size_t wanted;
		ExactReadLimits limits;
		ExactRead expected;
	} rows[] = {
		{"one byte fewer than sent", "abcdef", true, 5, {}, ExactRead::done},
		{"all that was sent", "abcdef", true, 6, {}, ExactRead::done},
		{"one byte more, then the end", "abcdef", true, 7, {}, ExactRead::closed},
		{"one byte more, then silence", "abcdef", false, 7, {.silence_ms = 50}, ExactRead::timed_out},
		{"one byte more, then the whole time", "abcdef", false, 7, {.total_ms = 50}, ExactRead::timed_out},
		{"a stop raised before", "abcdef", false, 6, {.stop = &raised}, ExactRead::stopped},
	};
	for (const auto &row : rows) {
		SCOPED_TRACE(row.what);
		Wire wire(row.sent, row.close_after);
		std::string got(row.wanted, '\0');
		size_t first_read = 0;
		EXPECT_EQ(read_exact(wire.reader, got.data(), got.size(), row.limits, &first_read), row.expected);
		if (row.expected == ExactRead::done) {
			EXPECT_EQ(got, std::string(row.sent, row.wanted));
			EXPECT_GT(first_read, 0u);
		}
	}
}
