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
nx_socket start_connect(uint16_t port)
{
	nx_socket s = nx_socket_tcp();
	EXPECT_NE(s, NX_INVALID_SOCKET);
	EXPECT_TRUE(nx_socket_set_nonblocking(s, true));
	if (!nx_connect(s, nx_loopback_be(), port)) {
		EXPECT_TRUE(nx_last_error_is_in_progress()) << "error " << nx_last_error_code();
	}
	return s;
}

/* Both ends of a loopback connection; the client end is the layer's. */
struct Connection {
	nx_socket listener = NX_INVALID_SOCKET;
	nx_socket client = NX_INVALID_SOCKET;
	nx_socket peer = NX_INVALID_SOCKET;

	Connection()
	{
		uint16_t port = 0;
		listener = loopback_listen(&port);
		client = start_connect(port);
		EXPECT_EQ(nx_wait_socket(client, NX_WAIT_WRITE, nullptr, 0, long_limit_ms), NX_WAIT_WRITE);
		EXPECT_EQ(nx_socket_pending_error(client), 0);
		peer = loopback_accept(listener);
		EXPECT_NE(peer, NX_INVALID_SOCKET);
	}
	~Connection()
	{
		nx_socket_close(client);
		nx_socket_close(peer);
		nx_socket_close(listener);
	}
	Connection(const Connection &) = delete;
	Connection &operator=(const Connection &) = delete;
};

struct Signals {
	nx_stop_signal *list[NX_WAIT_MAX_SIGNALS + 1] = {};
	Signals()
	{
		for (auto &s : list)
			s = nx_stop_create();
	}
	~Signals()
	{
		for (auto *s : list)
			nx_stop_destroy(s);
	}
};

/* Fills the client's send buffer until a send would block. */
void fill_send_buffer(nx_socket s)
{
	std::vector<char> block(64 * 1024, 'x');
	for (int i = 0; i < 100000; i++) {
		if (nx_send(s, block.data(), block.size()) < 0) {
			ASSERT_TRUE(nx_last_error_is_timeout()) << "error " << nx_last_error_code();
			return;
		}
	}
	FAIL() << "the send buffer never filled";
}

} // namespace

TEST(Connect, ToAClosedPortIsReportedRefusedNotTimedOut)
{
	nx_socket s = start_connect(loopback_closed_port());
	EXPECT_EQ(nx_wait_socket(s, NX_WAIT_WRITE, nullptr, 0, long_limit_ms), NX_WAIT_WRITE);
	EXPECT_EQ(nx_socket_pending_error(s), loopback_refused_code());
	nx_socket_close(s);
}

TEST(Connect, ToAListeningPortIsMadeWithinItsLimit)
{
	uint16_t port = 0;
	nx_socket listener = loopback_listen(&port);
	nx_socket s = start_connect(port);
	EXPECT_EQ(nx_wait_socket(s, NX_WAIT_WRITE, nullptr, 0, 3000), NX_WAIT_WRITE);
	EXPECT_EQ(nx_socket_pending_error(s), 0);
	EXPECT_TRUE(nx_socket_set_nodelay(s));
	nx_socket_close(s);
	nx_socket_close(listener);
}

TEST(Connect, RefusedWhileASignalIsRaisedReportsTheSignal)
{
	Signals sig;
	nx_stop_raise(sig.list[0]);
	nx_socket s = start_connect(loopback_closed_port());
	EXPECT_EQ(nx_wait_socket(s, NX_WAIT_WRITE, sig.list, 1, long_limit_ms), 0);
	nx_socket_close(s);
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
		EXPECT_EQ(nx_parse_ipv4(row.text, &be), row.ok) << (row.text ? row.text : "(null)");
		if (row.ok) {
			EXPECT_EQ(ntohl(be), row.host_order) << row.text;
		}
	}
	EXPECT_EQ(ntohl(nx_loopback_be()), 0x7f000001u);
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
		{"idle, time runs out", State::idle, -1, NX_WAIT_READ, 0},
		{"data waiting", State::data, -1, NX_WAIT_READ, NX_WAIT_READ},
		{"data waiting, both asked", State::data, -1, NX_WAIT_READ | NX_WAIT_WRITE,
		 NX_WAIT_READ | NX_WAIT_WRITE},
		{"idle, only write asked", State::idle, -1, NX_WAIT_WRITE, NX_WAIT_WRITE},
		{"peer closed", State::peer_closed, -1, NX_WAIT_READ, NX_WAIT_READ},
		{"peer reset", State::peer_reset, -1, NX_WAIT_READ, NX_WAIT_READ},
		{"signal in the first slot", State::idle, 0, NX_WAIT_READ, 0},
		{"signal in the last slot", State::idle, NX_WAIT_MAX_SIGNALS - 1, NX_WAIT_READ, 0},
		{"signal wins over data", State::data, 2, NX_WAIT_READ, 0},
	};
	for (const Row &row : rows) {
		SCOPED_TRACE(row.name);
		Connection c;
		Signals sig;
		if (row.state == State::data) {
			ASSERT_EQ(send(c.peer, "abc", 3, 0), 3);
		}
		if (row.state == State::peer_closed)
			nx_socket_close(c.peer);
		if (row.state == State::peer_reset)
			loopback_reset(c.peer);
		if (row.state == State::peer_closed || row.state == State::peer_reset)
			c.peer = NX_INVALID_SOCKET;
		if (row.raised_slot >= 0)
			nx_stop_raise(sig.list[row.raised_slot]);
		/* A data or close event needs a moment to cross the loopback. */
		int limit = row.state == State::idle ? 50 : 5000;
		EXPECT_EQ(nx_wait_socket(c.client, row.events, sig.list, NX_WAIT_MAX_SIGNALS, limit), row.expect);
	}
}

TEST(Wait, SignalCountLimitAndEmptyEntries)
{
	Connection c;
	Signals sig;
	EXPECT_EQ(nx_wait_socket(c.client, NX_WAIT_WRITE, sig.list, NX_WAIT_MAX_SIGNALS, 0), NX_WAIT_WRITE);
	EXPECT_EQ(nx_wait_socket(c.client, NX_WAIT_WRITE, sig.list, NX_WAIT_MAX_SIGNALS + 1, 0), -1);

	nx_stop_signal *sparse[NX_WAIT_MAX_SIGNALS] = {nullptr, sig.list[1], nullptr, nullptr};
	EXPECT_EQ(nx_wait_socket(c.client, NX_WAIT_WRITE, sparse, NX_WAIT_MAX_SIGNALS, 0), NX_WAIT_WRITE);
	nx_stop_raise(sig.list[1]);
	EXPECT_EQ(nx_wait_socket(c.client, NX_WAIT_WRITE, sparse, NX_WAIT_MAX_SIGNALS, 0), 0);
	nx_stop_reset(sig.list[1]);
	EXPECT_EQ(nx_wait_socket(c.client, NX_WAIT_WRITE, sparse, NX_WAIT_MAX_SIGNALS, 0), NX_WAIT_WRITE);
}

/* Runs a wait on another thread, lets it sleep, then does `act`; returns what
 * the wait reported and whether it ended before its (long) limit. */
template<typename Act> std::pair<int, bool> wait_then(nx_socket s, int events, nx_stop_signal *signal, Act act)
{
	std::atomic<int> result{-2};
	auto started = std::chrono::steady_clock::now();
	std::thread waiter([&] { result = nx_wait_socket(s, events, &signal, 1, long_limit_ms); });
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
		{"data arrives", 0, NX_WAIT_READ},
		{"peer closes", 1, NX_WAIT_READ},
		{"signal raised", 2, 0},
	};
	for (const Row &row : rows) {
		SCOPED_TRACE(row.name);
		Connection c;
		Signals sig;
		auto [got, woke] = wait_then(c.client, NX_WAIT_READ, sig.list[0], [&] {
			if (row.act == 0) {
				EXPECT_EQ(send(c.peer, "x", 1, 0), 1);
			}
			if (row.act == 1) {
				nx_socket_close(c.peer);
				c.peer = NX_INVALID_SOCKET;
			}
			if (row.act == 2)
				nx_stop_raise(sig.list[0]);
		});
		EXPECT_EQ(got, row.expect);
		EXPECT_TRUE(woke) << "the wait ran to its limit";
		char got_byte = 0;
		if (row.act != 2) {
			EXPECT_EQ(nx_recv(c.client, &got_byte, 1), row.act == 0 ? 1 : 0);
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
		EXPECT_EQ(nx_wait_socket(c.client, NX_WAIT_WRITE, sig.list, 1, 0), 0);
		auto [got, woke] = wait_then(c.client, NX_WAIT_WRITE, sig.list[0], [&] {
			if (by_signal) {
				nx_stop_raise(sig.list[0]);
				return;
			}
			nx_socket_set_nonblocking(c.peer, true);
			std::vector<char> sink(1 << 20);
			for (int i = 0; i < 64 && recv(c.peer, sink.data(), (int)sink.size(), 0) > 0; i++) {
			}
		});
		EXPECT_EQ(got, by_signal ? 0 : NX_WAIT_WRITE);
		EXPECT_TRUE(woke) << "the wait ran to its limit";
	}
}

TEST(Receive, NothingToReadIsATimeoutNotAnError)
{
	Connection c;
	char got_byte;
	EXPECT_LT(nx_recv(c.client, &got_byte, 1), 0);
	EXPECT_TRUE(nx_last_error_is_timeout());
}

TEST(Send, ToAPeerThatIsGoneFailsWithoutRaising)
{
	Connection c;
	loopback_reset(c.peer);
	c.peer = NX_INVALID_SOCKET;
	char block[4096] = {};
	long last = 0;
	for (int i = 0; i < 200 && last >= 0; i++) {
		if (nx_wait_socket(c.client, NX_WAIT_WRITE, nullptr, 0, 1000) <= 0)
			break;
		last = nx_send(c.client, block, sizeof(block));
	}
	EXPECT_LT(last, 0) << "sends kept succeeding on a reset connection";
}
