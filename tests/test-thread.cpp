/* Threads that are always joined, and the stop signal that ends their
 * pauses: raised before, during and never. */

#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct Pause {
	nx_stop_signal *stop;
	uint32_t ms;
	std::atomic<int> result{-1}; /* -1 running, 0 paused to the end, 1 stopped */
};

void pause_body(void *arg)
{
	auto *p = static_cast<Pause *>(arg);
	p->result = nx_stop_wait(p->stop, p->ms) ? 1 : 0;
}

} // namespace

TEST(Thread, StartRunsTheBodyAndJoinWaitsForIt)
{
	std::atomic<int> ran{0};
	nx_thread t = {};
	EXPECT_FALSE(nx_thread_running(&t));
	ASSERT_TRUE(nx_thread_start(
		&t, [](void *arg) { static_cast<std::atomic<int> *>(arg)->fetch_add(1); }, &ran));
	EXPECT_TRUE(nx_thread_running(&t));
	nx_thread_join(&t);
	EXPECT_FALSE(nx_thread_running(&t));
	EXPECT_EQ(ran.load(), 1);
	nx_thread_join(&t); /* nothing runs: returns at once */
}

TEST(StopSignal, RaiseResetAndPauses)
{
	nx_stop_signal *stop = nx_stop_create();
	ASSERT_NE(stop, nullptr);
	EXPECT_FALSE(nx_stop_raised(stop));
	EXPECT_FALSE(nx_stop_wait(stop, 0));
	EXPECT_FALSE(nx_stop_wait(stop, 20));
	nx_stop_raise(stop);
	nx_stop_raise(stop); /* twice is once */
	EXPECT_TRUE(nx_stop_raised(stop));
	EXPECT_TRUE(nx_stop_wait(stop, 0));
	EXPECT_TRUE(nx_stop_wait(stop, 60000));
	nx_stop_reset(stop);
	EXPECT_FALSE(nx_stop_raised(stop));
	EXPECT_FALSE(nx_stop_wait(stop, 1));
	nx_stop_destroy(stop);
	nx_stop_destroy(nullptr);
}

/* A thread paused for a minute is stopped, and the join returns, long before
 * the minute is over. */
TEST(StopSignal, RaisedDuringAPauseEndsItAndTheJoinFollows)
{
	Pause p{nx_stop_create(), 60000};
	nx_thread t = {};
	auto started = std::chrono::steady_clock::now();
	ASSERT_TRUE(nx_thread_start(&t, pause_body, &p));
	std::this_thread::sleep_for(std::chrono::milliseconds(50));
	EXPECT_EQ(p.result.load(), -1);
	nx_stop_raise(p.stop);
	nx_thread_join(&t);
	EXPECT_EQ(p.result.load(), 1);
	EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
	nx_stop_destroy(p.stop);
}

TEST(StopSignal, PauseWithoutARaiseRunsToItsEnd)
{
	Pause p{nx_stop_create(), 30};
	nx_thread t = {};
	ASSERT_TRUE(nx_thread_start(&t, pause_body, &p));
	nx_thread_join(&t);
	EXPECT_EQ(p.result.load(), 0);
	nx_stop_destroy(p.stop);
}
