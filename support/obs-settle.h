#pragma once
/* Waiting in tests, and handing work to libobs's threads in an order that
 * ThreadSanitizer can see.
 *
 * libobs passes work between its threads through atomics that
 * ThreadSanitizer cannot follow in the uninstrumented library: a settings
 * change goes to the video thread, and the last reference to a source (which
 * the video thread holds while it ticks) may be dropped there. The video
 * thread gathers the sources it ticks under the lock that obs_enum_sources
 * takes, so doing work under that lock shows ThreadSanitizer the order that
 * libobs keeps. */

#include <obs.h>

#include <chrono>
#include <functional>
#include <thread>

inline bool wait_until(const std::function<bool()> &pred, std::chrono::milliseconds limit)
{
	auto end = std::chrono::steady_clock::now() + limit;
	while (!pred()) {
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	return true;
}

inline void under_sources_lock(const std::function<void()> &work)
{
	struct Work {
		const std::function<void()> *work;
		bool done;
	} job = {&work, false};
	obs_enum_sources(
		[](void *param, obs_source_t *) {
			auto *j = static_cast<Work *>(param);
			(*j->work)();
			j->done = true;
			return false;
		},
		&job);
	if (!job.done)
		work();
}

/* Returns once libobs's video thread has started and finished n ticks. */
inline void wait_video_ticks(int n)
{
	for (int i = 0; i < n; i++) {
		uint64_t frame = obs_get_video_frame_time();
		wait_until([&] { return obs_get_video_frame_time() != frame; }, std::chrono::milliseconds(2000));
	}
}

/* Settings go to the video thread, which applies them at its next tick. */
inline void update_source(obs_source_t *source, obs_data_t *settings)
{
	under_sources_lock([&] { obs_source_update(source, settings); });
}

/* After this, everything written before it happens, for ThreadSanitizer
 * too, before a destroy callback that a following release_now() sets off:
 * the video thread's references taken before the lock below are dropped
 * within two ticks, and those it takes later are taken under that lock. */
inline void settle_before_release()
{
	under_sources_lock([] {});
	wait_video_ticks(2);
}

inline void release_now(obs_source_t *source)
{
	under_sources_lock([&] { obs_source_release(source); });
}

inline void release_source(obs_source_t *source)
{
	settle_before_release();
	release_now(source);
}
