/* Threads that are always joined, and the stop signal that ends their
 * pauses: raised before, during and never. */

#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct Pause {
	plat_stop_signal *stop;
	uint32_t ms;
	std::atomic<int> result{-1}; /* -1 running, 0 paused to the end, 1 stopped */
};

void pause_body(void *arg)
{
	auto *p = static_cast<Pause *>(arg);
	p->result = plat_stop_wait(p->stop, p->ms) ? 1 : 0;
}

} // namespace

TEST(Thread, StartRunsTheBodyAndJoinWaitsForIt)
{
	std::atomic<int> ran{0};
	plat_thread t = {};
	EXPECT_FALSE(plat_thread_running(&t));
	ASSERT_TRUE(plat_thread_start(
		&t, [](void *arg) { static_cast<std::atomic<int> *>(arg)->fetch_add(1); }, &ran));
	EXPECT_TRUE(plat_thread_running(&t));
	plat_thread_join(&t);
	EXPECT_FALSE(plat_thread_running(&t));
	EXPECT_EQ(ran.load(), 1);
	plat_thread_join(&t); /* nothing runs: returns at once */
}

TEST(StopSignal, RaiseResetAndPauses)
{
	plat_stop_signal *stop = plat_stop_create();
	ASSERT_NE(stop, nullptr);
	EXPECT_FALSE(plat_stop_raised(stop));
	EXPECT_FALSE(plat_stop_wait(stop, 0));
	EXPECT_FALSE(plat_stop_wait(stop, 20));
	plat_stop_raise(stop);
	plat_stop_raise(stop); /* twice is once */
	EXPECT_TRUE(plat_stop_raised(stop));
	EXPECT_TRUE(plat_stop_wait(stop, 0));
	EXPECT_TRUE(plat_stop_wait(stop, 60000));
	plat_stop_reset(stop);
	EXPECT_FALSE(plat_stop_raised(stop));
	EXPECT_FALSE(plat_stop_wait(stop, 1));
	plat_stop_destroy(stop);
	plat_stop_destroy(nullptr);
}

/* A thread paused for a minute is stopped, and the join returns, long before
 * the minute is over. */
TEST(StopSignal, RaisedDuringAPauseEndsItAndTheJoinFollows)
{
	Pause p{plat_stop_create(), 60000};
	plat_thread t = {};
	auto started = std::chrono::steady_clock::now();
	ASSERT_TRUE(plat_thread_start(&t, pause_body, &p));
	std::this_thread::sleep_for(std::chrono::milliseconds(50));
	EXPECT_EQ(p.result.load(), -1);
	plat_stop_raise(p.stop);
	plat_thread_join(&t);
	EXPECT_EQ(p.result.load(), 1);
	EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
	plat_stop_destroy(p.stop);
}

TEST(StopSignal, PauseWithoutARaiseRunsToItsEnd)
{
	Pause p{plat_stop_create(), 30};
	plat_thread t = {};
	ASSERT_TRUE(plat_thread_start(&t, pause_body, &p));
	plat_thread_join(&t);
	EXPECT_EQ(p.result.load(), 0);
	plat_stop_destroy(p.stop);
}
