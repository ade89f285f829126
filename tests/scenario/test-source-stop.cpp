#include "elapsed.h"
#include "full-listener.h"
#include "source-calls.h"
#include "obs/lifecycle.h"
#include "helpers/source-fixture.h"
#include "log-lines.h"

#include <sys/socket.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

/* Disabling, reconfiguring or removing a source must never wait out the
 * thread's connect limit (3 s) or retry pause (1 s): every wait of the
 * thread ends as soon as the stop is signalled, and the stop then waits for
 * the thread to end. */
class SourceStopTest : public SourceTest {
protected:
	static void expect_stopped(obs_source_t *source, double ms, const char *state)
	{
		SourceInstance *inst = instance(source);
		EXPECT_FALSE(plat_thread_running(&inst->conn.thread)) << state;
		EXPECT_EQ(inst->conn.sock, PLAT_INVALID_SOCKET) << state;
		/* Generous for sanitizer builds, yet far below the 1 s pause and
		 * the 3 s connect limit that an uninterruptible wait would cost. */
		EXPECT_LT(ms, 500.0) << state;
		printf("stop while %s: %.1f ms\n", state, ms);
	}
};

TEST_F(SourceStopTest, WhileConnecting)
{
	FullListener full;
	obs_source_t *source = create_wifi(full.port());
	std::this_thread::sleep_for(400ms); /* inside the 3 s connect wait */
	EXPECT_EQ(log.count_prefix(plugin_line_head(LOGTEXT_UNREACHABLE)), 0u);
	expect_stopped(source, disable_ms(source), "connecting");
}

TEST_F(SourceStopTest, WhileAwaitingTheHandshake)
{
	obs_source_t *source = create_wifi(listener.port());
	peer::Connection phone = listener.accept(3000);
	ASSERT_TRUE(phone.valid());
	std::this_thread::sleep_for(200ms);
	expect_stopped(source, disable_ms(source), "awaiting the handshake");
	EXPECT_TRUE(phone.wait_closed(1000));
	/* Stopped while reading the handshake: no rejection, no disconnect line. */
	EXPECT_EQ(log.count_prefix(plugin_line_head(LOGTEXT_DISCONNECTED)), 0u);
}

TEST_F(SourceStopTest, WhileStreaming)
{
	obs_source_t *source = create_wifi(listener.port());
	peer::Connection phone = accept_phone();
	ASSERT_TRUE(log.wait_for(LOG_INFO, plugin_line(LOGTEXT_STREAM_CONNECTED, 80, 48, 30), 3000ms));
	for (auto &au : video)
		phone.send(peer::packet(0, peer::now_us(), au));
	ASSERT_TRUE(wait_until([&] { return instance(source)->status.frames_decoded == 5; }, 3000ms));
	expect_stopped(source, disable_ms(source), "streaming");
	EXPECT_EQ(log.count_prefix(plugin_line_head(LOGTEXT_DISCONNECTED)), 0u);
}

TEST_F(SourceStopTest, WhilePausingBeforeTheNextAttempt)
{
	obs_source_t *source = create_wifi(peer::unused_port());
	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_UNREACHABLE), 1, 3000ms));
	std::this_thread::sleep_for(50ms); /* in the 1 s pause now */
	expect_stopped(source, disable_ms(source), "pausing");
}

TEST_F(SourceStopTest, WhileAnAdbRequestHangs)
{
	/* A server that accepts and never answers: the stop ends the request at
	 * once, well inside the adb client's own limit of 2 s. */
	FakeAdbServer adb(0, [](const std::string &) { return FakeAdbReply::silence(); });
	adb_set_server_port(adb.port());
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, SETTING_CONN_MODE, 0);
	obs_data_set_int(settings, SETTING_PORT, listener.port());
	obs_source_t *source = create(settings);
	obs_data_release(settings);
	ASSERT_TRUE(adb.wait_for_request(
		"host:forward:tcp:" + std::to_string(listener.port()) + ";localabstract:" ADB_SOCKET_NAME, 3000));
	double ms = disable_ms(source);
	EXPECT_FALSE(plat_thread_running(&instance(source)->conn.thread));
	EXPECT_LT(ms, 600.0);
	printf("stop during a hung adb request: %.1f ms\n", ms);
}

TEST_F(SourceStopTest, RemovalEndsTheThreadPromptly)
{
	int threads_before = peer::threads();
	obs_source_t *source = create_wifi(peer::unused_port());
	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_UNREACHABLE), 1, 3000ms));
	int threads_running = peer::threads();
	ASSERT_GT(threads_running, threads_before);

	std::erase(sources, source);
	settle_before_release();
	auto start = Clock::now();
	release_now(source);
	/* libobs destroys sources on a task thread of its own; wait for ours to go. */
	ASSERT_TRUE(wait_until([&] { return peer::threads() <= threads_running - 1; }, 3000ms));
	double ms = since_ms(start);
	EXPECT_LT(ms, 500.0);
	printf("removal while pausing: %.1f ms\n", ms);
}

/* A scene holding the source mid-stream, released as a user closes a scene
 * collection: libobs destroys the scene on its destruction thread, which
 * releases the item's source and runs the plug-in's destroy there while the
 * connection thread is reading. The destroy ends that thread and closes the
 * phone's socket before the destruction queue is done. */
TEST_F(SourceStopTest, ASceneReleasedMidStreamTakesItsSourceAlong)
{
	obs_source_t *source = create_wifi(listener.port());
	std::erase(sources, source);
	peer::Connection phone = accept_phone();
	ASSERT_TRUE(log.wait_for(LOG_INFO, plugin_line(LOGTEXT_STREAM_CONNECTED, 80, 48, 30), 3000ms));
	for (auto &au : video)
		phone.send(peer::packet(0, peer::now_us(), au));
	ASSERT_TRUE(wait_until([&] { return instance(source)->status.frames_decoded == 5; }, 3000ms));
	obs_scene_t *scene = obs_scene_create("scene");
	obs_set_output_source(0, obs_scene_get_source(scene));
	obs_scene_add(scene, source);
	obs_weak_source_t *weak = obs_source_get_weak_source(source);
	int threads_streaming = peer::threads();

	settle_before_release();
	obs_set_output_source(0, nullptr);
	obs_scene_release(scene);
	release_now(source);
	env->clear_scenes();
	EXPECT_TRUE(obs_weak_source_expired(weak));
	obs_weak_source_release(weak);
	EXPECT_LT(peer::threads(), threads_streaming);
	EXPECT_TRUE(phone.wait_closed(1000));
}
