/* The socket layer on the platform it was built for: connects that are made
 * or refused, waits that end on data, on the end of the stream, on room to
 * send, on a raised signal or on the time limit. */

#include "loopback.h"
#include "platform/net.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int long_limit_ms = 20000;

/* A started non-blocking connect to 127.0.0.1:port. */
plat_socket start_connect(uint16_t port)
{
	plat_socket s = plat_socket_tcp();
	EXPECT_NE(s, PLAT_INVALID_SOCKET);
	EXPECT_TRUE(plat_socket_set_nonblocking(s, true));
	if (!plat_connect(s, plat_loopback_be(), port)) {
		EXPECT_TRUE(plat_last_error_is_in_progress()) << "error " << plat_last_error_code();
	}
	return s;
}

/* Both ends of a loopback connection; the client end is the layer's. */
struct Connection {
	plat_socket listener = PLAT_INVALID_SOCKET;
	plat_socket client = PLAT_INVALID_SOCKET;
	plat_socket peer = PLAT_INVALID_SOCKET;

	Connection()
	{
		uint16_t port = 0;
		listener = loopback_listen(&port);
		client = start_connect(port);
		EXPECT_EQ(plat_wait_socket(client, PLAT_WAIT_WRITE, nullptr, 0, long_limit_ms), PLAT_WAIT_WRITE);
		EXPECT_EQ(plat_socket_pending_error(client), 0);
		peer = loopback_accept(listener);
		EXPECT_NE(peer, PLAT_INVALID_SOCKET);
	}
	~Connection()
	{
		plat_socket_close(client);
		plat_socket_close(peer);
		plat_socket_close(listener);
	}
	Connection(const Connection &) = delete;
	Connection &operator=(const Connection &) = delete;
};

struct Signals {
	plat_stop_signal *list[PLAT_WAIT_MAX_SIGNALS + 1] = {};
	Signals()
	{
		for (auto &s : list)
			s = plat_stop_create();
	}
	~Signals()
	{
		for (auto *s : list)
			plat_stop_destroy(s);
	}
};

/* Fills the client's send buffer until a send would block. */
void fill_send_buffer(plat_socket s)
{
	std::vector<char> block(64 * 1024, 'x');
	for (int i = 0; i < 100000; i++) {
		if (plat_send(s, block.data(), block.size()) < 0) {
			ASSERT_TRUE(plat_last_error_is_timeout()) << "error " << plat_last_error_code();
			return;
		}
	}
	FAIL() << "the send buffer never filled";
}

} // namespace

TEST(Connect, ToAClosedPortIsReportedRefusedNotTimedOut)
{
	plat_socket s = start_connect(loopback_closed_port());
	EXPECT_EQ(plat_wait_socket(s, PLAT_WAIT_WRITE, nullptr, 0, long_limit_ms), PLAT_WAIT_WRITE);
	EXPECT_EQ(plat_socket_pending_error(s), loopback_refused_code());
	plat_socket_close(s);
}

TEST(Connect, ToAListeningPortIsMadeWithinItsLimit)
{
	uint16_t port = 0;
	plat_socket listener = loopback_listen(&port);
	plat_socket s = start_connect(port);
	EXPECT_EQ(plat_wait_socket(s, PLAT_WAIT_WRITE, nullptr, 0, 3000), PLAT_WAIT_WRITE);
	EXPECT_EQ(plat_socket_pending_error(s), 0);
	EXPECT_TRUE(plat_socket_set_nodelay(s));
	plat_socket_close(s);
	plat_socket_close(listener);
}

TEST(Connect, RefusedWhileASignalIsRaisedReportsTheSignal)
{
	Signals sig;
	plat_stop_raise(sig.list[0]);
	plat_socket s = start_connect(loopback_closed_port());
	EXPECT_EQ(plat_wait_socket(s, PLAT_WAIT_WRITE, sig.list, 1, long_limit_ms), 0);
	plat_socket_close(s);
}

/* The timed connect: made to a listening port, leaving the socket
 * non-blocking; refused by a closed one. */
TEST(Connect, WithinALimitIsMadeOrRefused)
{
	uint16_t port = 0;
	plat_socket listener = loopback_listen(&port);
	plat_socket s = plat_socket_tcp();
	EXPECT_TRUE(plat_connect_within(s, plat_loopback_be(), port, nullptr, 0, long_limit_ms));
	char unread = 0;
	EXPECT_LT(plat_recv(s, &unread, 1), 0);
	EXPECT_TRUE(plat_last_error_is_timeout()) << "error " << plat_last_error_code();
	plat_socket_close(s);
	plat_socket_close(listener);

	s = plat_socket_tcp();
	EXPECT_FALSE(plat_connect_within(s, plat_loopback_be(), loopback_closed_port(), nullptr, 0, long_limit_ms));
	plat_socket_close(s);
}

TEST(Address, DottedTextOnly)
{
	struct Row {
		const char *text;
		bool ok;
		uint32_t host_order;
	};
	const Row rows[] = {
		{"127.0.0.1", true, 0x7f000001},
		{"192.168.1.20", true, 0xc0a80114},
		{"255.255.255.255", true, 0xffffffff},
		{"256.0.0.1", false, 0},
		{"localhost", false, 0},
		{"1.2.3", false, 0},
		{"", false, 0},
		{nullptr, false, 0},
	};
	for (const Row &row : rows) {
		uint32_t be = 0;
		EXPECT_EQ(plat_parse_ipv4(row.text, &be), row.ok) << (row.text ? row.text : "(null)");
		if (row.ok) {
			EXPECT_EQ(ntohl(be), row.host_order) << row.text;
		}
	}
	EXPECT_EQ(ntohl(plat_loopback_be()), 0x7f000001u);
}

/* What a receive wait reports in each state of the connection and its
 * signals, checked before the wait starts (no sleeping involved). */
TEST(Wait, ReportsEachStateFoundAtTheStart)
{
	enum class State { idle, data, peer_closed, peer_reset };
	struct Row {
		const char *name;
		State state;
		int raised_slot; /* -1: none */
		int events;
		int expect;
	};
	const Row rows[] = {
		{"idle, time runs out", State::idle, -1, PLAT_WAIT_READ, 0},
		{"data waiting", State::data, -1, PLAT_WAIT_READ, PLAT_WAIT_READ},
		{"data waiting, both asked", State::data, -1, PLAT_WAIT_READ | PLAT_WAIT_WRITE,
		 PLAT_WAIT_READ | PLAT_WAIT_WRITE},
		{"idle, only write asked", State::idle, -1, PLAT_WAIT_WRITE, PLAT_WAIT_WRITE},
		{"peer closed", State::peer_closed, -1, PLAT_WAIT_READ, PLAT_WAIT_READ},
		{"peer reset", State::peer_reset, -1, PLAT_WAIT_READ, PLAT_WAIT_READ},
		{"signal in the first slot", State::idle, 0, PLAT_WAIT_READ, 0},
		{"signal in the last slot", State::idle, PLAT_WAIT_MAX_SIGNALS - 1, PLAT_WAIT_READ, 0},
		{"signal wins over data", State::data, 2, PLAT_WAIT_READ, 0},
	};
	for (const Row &row : rows) {
		SCOPED_TRACE(row.name);
		Connection c;
		Signals sig;
		if (row.state == State::data) {
			ASSERT_EQ(send(c.peer, "abc", 3, 0), 3);
		}
		if (row.state == State::peer_closed)
			plat_socket_close(c.peer);
		if (row.state == State::peer_reset)
			loopback_reset(c.peer);
		if (row.state == State::peer_closed || row.state == State::peer_reset)
			c.peer = PLAT_INVALID_SOCKET;
		if (row.raised_slot >= 0)
			plat_stop_raise(sig.list[row.raised_slot]);
		/* A data or close event needs a moment to cross the loopback. */
		int limit = row.state == State::idle ? 50 : 5000;
		EXPECT_EQ(plat_wait_socket(c.client, row.events, sig.list, PLAT_WAIT_MAX_SIGNALS, limit), row.expect);
	}
}

TEST(Wait, SignalCountLimitAndEmptyEntries)
{
	Connection c;
	Signals sig;
	EXPECT_EQ(plat_wait_socket(c.client, PLAT_WAIT_WRITE, sig.list, PLAT_WAIT_MAX_SIGNALS, 0), PLAT_WAIT_WRITE);
	EXPECT_EQ(plat_wait_socket(c.client, PLAT_WAIT_WRITE, sig.list, PLAT_WAIT_MAX_SIGNALS + 1, 0), -1);

	plat_stop_signal *sparse[PLAT_WAIT_MAX_SIGNALS] = {nullptr, sig.list[1], nullptr, nullptr};
	EXPECT_EQ(plat_wait_socket(c.client, PLAT_WAIT_WRITE, sparse, PLAT_WAIT_MAX_SIGNALS, 0), PLAT_WAIT_WRITE);
	plat_stop_raise(sig.list[1]);
	EXPECT_EQ(plat_wait_socket(c.client, PLAT_WAIT_WRITE, sparse, PLAT_WAIT_MAX_SIGNALS, 0), 0);
	plat_stop_reset(sig.list[1]);
	EXPECT_EQ(plat_wait_socket(c.client, PLAT_WAIT_WRITE, sparse, PLAT_WAIT_MAX_SIGNALS, 0), PLAT_WAIT_WRITE);
}

/* Runs a wait on another thread, lets it sleep, then does `act`; returns what
 * the wait reported and whether it ended before its (long) limit. */
template<typename Act> std::pair<int, bool> wait_then(plat_socket s, int events, plat_stop_signal *signal, Act act)
{
	std::atomic<int> result{-2};
	auto started = std::chrono::steady_clock::now();
	std::thread waiter([&] { result = plat_wait_socket(s, events, &signal, 1, long_limit_ms); });
	std::this_thread::sleep_for(std::chrono::milliseconds(100));
	EXPECT_EQ(result.load(), -2) << "the wait ended before anything happened";
	act();
	waiter.join();
	bool before_limit = std::chrono::steady_clock::now() - started < std::chrono::milliseconds(long_limit_ms / 2);
	return {result.load(), before_limit};
}

TEST(Wait, SleepingReceiveWakesOnDataOnCloseAndOnSignal)
{
	struct Row {
		const char *name;
		int act; /* 0 data, 1 close, 2 signal */
		int expect;
	};
	const Row rows[] = {
		{"data arrives", 0, PLAT_WAIT_READ},
		{"peer closes", 1, PLAT_WAIT_READ},
		{"signal raised", 2, 0},
	};
	for (const Row &row : rows) {
		SCOPED_TRACE(row.name);
		Connection c;
		Signals sig;
		auto [got, woke] = wait_then(c.client, PLAT_WAIT_READ, sig.list[0], [&] {
			if (row.act == 0) {
				EXPECT_EQ(send(c.peer, "x", 1, 0), 1);
			}
			if (row.act == 1) {
				plat_socket_close(c.peer);
				c.peer = PLAT_INVALID_SOCKET;
			}
			if (row.act == 2)
				plat_stop_raise(sig.list[0]);
		});
		EXPECT_EQ(got, row.expect);
		EXPECT_TRUE(woke) << "the wait ran to its limit";
		char got_byte = 0;
		if (row.act != 2) {
			EXPECT_EQ(plat_recv(c.client, &got_byte, 1), row.act == 0 ? 1 : 0);
		}
	}
}

TEST(Wait, FullSendBufferWakesOnRoomAndOnSignal)
{
	for (bool by_signal : {false, true}) {
		SCOPED_TRACE(by_signal ? "signal raised" : "peer drains");
		Connection c;
		Signals sig;
		fill_send_buffer(c.client);
		EXPECT_EQ(plat_wait_socket(c.client, PLAT_WAIT_WRITE, sig.list, 1, 0), 0);
		auto [got, woke] = wait_then(c.client, PLAT_WAIT_WRITE, sig.list[0], [&] {
			if (by_signal) {
				plat_stop_raise(sig.list[0]);
				return;
			}
			plat_socket_set_nonblocking(c.peer, true);
			std::vector<char> sink(1 << 20);
			for (int i = 0; i < 64 && recv(c.peer, sink.data(), (int)sink.size(), 0) > 0; i++) {
			}
		});
		EXPECT_EQ(got, by_signal ? 0 : PLAT_WAIT_WRITE);
		EXPECT_TRUE(woke) << "the wait ran to its limit";
	}
}

TEST(Receive, NothingToReadIsATimeoutNotAnError)
{
	Connection c;
	char got_byte;
	EXPECT_LT(plat_recv(c.client, &got_byte, 1), 0);
	EXPECT_TRUE(plat_last_error_is_timeout());
}

TEST(Send, ToAPeerThatIsGoneFailsWithoutRaising)
{
	Connection c;
	loopback_reset(c.peer);
	c.peer = PLAT_INVALID_SOCKET;
	char block[4096] = {};
	long last = 0;
	for (int i = 0; i < 200 && last >= 0; i++) {
		if (plat_wait_socket(c.client, PLAT_WAIT_WRITE, nullptr, 0, 1000) <= 0)
			break;
		last = plat_send(c.client, block, sizeof(block));
	}
	EXPECT_LT(last, 0) << "sends kept succeeding on a reset connection";
}
