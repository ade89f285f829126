/* "Smooth and in sync" in a real libobs, fed by the reference sender over a
 * link that holds packets back as Wi-Fi does (uniform 0-20 ms, and 3 % of
 * packets 100-200 ms more, in order), with a white flash in the picture and
 * a tone burst in the sound at the same sender time once a second: nearly
 * every picture sent is shown, the burst plays with its flash, and libobs
 * never has to raise its audio buffering. */

#include "frame-filter.h"
#include "late-ticks.h"
#include "log-capture.h"
#include "log-lines.h"
#include "obs-env.h"
#include "ostrelin-sources.h"
#include "sync-marks.h"
#include "helpers/test-sender.h"

#include <obs.h>
#include <util/platform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized_build = true;
#else
constexpr bool sanitized_build = false;
#endif

using namespace std::chrono_literals;

namespace {

const char filter_id[] = "ostrelin_test_sync_probe";

obs_source_frame *on_frame(void *data, obs_source_frame *frame)
{
	sync_marks_note_picture(static_cast<SyncMarks *>(data), frame, os_gettime_ns());
	return frame;
}

} // namespace

TEST(SmoothSync, OverAJitteringLinkEveryPictureIsShownWithItsSound)
{
	LogCapture log;
	ObsEnv env;
	ASSERT_NE(env.load_module(), nullptr);
	frame_filter_register(filter_id, "sync probe", on_frame);

	sender_test::BoundedSender sender({"--width", "320", "--height", "240", "--jitter", "20", "--spike-share", "3",
					   "--spike-ms", "100-200", "--seed", "7", "--sync-marks"});
	ASSERT_TRUE(sender.running());
	obs_scene_t *scene = obs_scene_create("sync");
	obs_set_output_source(0, obs_scene_get_source(scene));
	obs_source_t *source = create_ostrelin_source("phone", [&](obs_data_t *s) {
		set_wifi_target(s, sender.port());
		obs_data_set_bool(s, "smooth_sync", true);
	});
	ASSERT_NE(source, nullptr);
	SyncMarks seen;
	seen.from = os_gettime_ns() + 5000000000ull; /* past the first raises */
	obs_source_t *filter = frame_filter_attach(source, filter_id, &seen);
	obs_source_add_audio_capture_callback(source, sync_marks_note_audio, &seen);
	obs_scene_add(scene, source);

	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_SMOOTH_DELAY), 1, 10000ms));
	uint32_t lagged_before = obs_get_lagged_frames();
	std::this_thread::sleep_for(25s);
	/* Ticks OBS's video thread missed on a busy machine: no picture can be
	 * taken at them, whatever the source does. */
	uint32_t lagged = obs_get_lagged_frames() - lagged_before;

	obs_source_remove_audio_capture_callback(source, sync_marks_note_audio, &seen);
	frame_filter_detach(source, filter);
	obs_set_output_source(0, nullptr);
	obs_scene_release(scene);
	obs_source_release(source);

	/* 30 fps for about 20 s: of the pictures between the first and the last
	 * OBS took, nearly all were shown, but for the ticks OBS missed (shown at
	 * once, a third go missing on this link). */
	ASSERT_GE(seen.pictures.size(), 300u);
	double shown = sync_marks_shown_share(&seen);
	double sent = (double)seen.pictures.size() / shown;
	EXPECT_GE(((double)seen.pictures.size() + lagged) / sent, 0.9) << lagged << " ticks missed";

	std::vector<int64_t> offsets = sync_mark_offsets(&seen);
	ASSERT_GE(offsets.size(), 10u) << seen.flashes.size() << " flashes, " << seen.bursts.size() << " bursts";
	int64_t median = offsets[offsets.size() / 2];
	/* The goal is one frame interval (33 ms); the allowance alone puts the
	 * sound 250 ms behind on this link. */
	EXPECT_LE(std::llabs(median), 60000000) << median / 1e6 << " ms";
	EXPECT_LE(std::llabs(offsets.back()), 150000000) << offsets.back() / 1e6 << " ms at worst";
	printf("pictures shown %zu (%.1f %%, %u ticks missed); A/V offset median %.1f ms, worst %.1f ms over %zu marks\n",
	       seen.pictures.size(), shown * 100, lagged, median / 1e6, offsets.back() / 1e6, offsets.size());
	for (const LogLine &line : log.lines())
		if (line.text.rfind(plugin_line_head(LOGTEXT_SMOOTH_DELAY), 0) == 0)
			printf("%s\n", line.text.c_str());
	EXPECT_EQ(log.obs_audio_buffering_lines(), 0u);
}

namespace {

struct Watched {
	std::unique_ptr<sender_test::BoundedSender> sender;
	obs_source_t *source = nullptr;
	obs_source_t *filter = nullptr;
	SyncMarks seen;
};

} // namespace

TEST(SmoothSync, WhenObsTicksRunLateEveryPictureIsStillTaken)
{
	ObsEnv env;
	ASSERT_NE(env.load_module(), nullptr);
	frame_filter_register(filter_id, "sync probe", on_frame);
	/* OBS at 60 fps, as most scenes run: two ticks a picture. */
	obs_video_info ovi = {};
	ASSERT_TRUE(obs_get_video_info(&ovi));
	ovi.fps_num = 60;
	ASSERT_EQ(obs_reset_video(&ovi), OBS_VIDEO_SUCCESS);
	obs_scene_t *scene = obs_scene_create("late");
	obs_set_output_source(0, obs_scene_get_source(scene));

	/* The same link twice, the mode on and off side by side, so both meet
	 * the same late ticks and the same load: a steady one and a jittery one. */
	const std::vector<std::string> links[2] = {{}, {"--jitter", "20", "--seed", "7"}};
	Watched watched[4];
	for (int i = 0; i < 4; i++) {
		Watched &w = watched[i];
		std::vector<std::string> args = {"--width", "320", "--height", "240"};
		args.insert(args.end(), links[i / 2].begin(), links[i / 2].end());
		w.sender = std::make_unique<sender_test::BoundedSender>(args);
		ASSERT_TRUE(w.sender->running());
		w.source = create_ostrelin_source(("phone" + std::to_string(i)).c_str(), [&](obs_data_t *s) {
			set_wifi_target(s, w.sender->port());
			obs_data_set_bool(s, "smooth_sync", i % 2 == 0);
		});
		ASSERT_NE(w.source, nullptr);
		w.seen.from = os_gettime_ns() + 5000000000ull; /* past the first raises */
		w.filter = frame_filter_attach(w.source, filter_id, &w.seen);
		obs_scene_add(scene, w.source);
	}
	uint64_t stalled = 0;
	{
		/* The ticks' pictures taken up to 30 ms late, nearly two ticks: the
		 * lateness decides, not the machine's load, but for the times OBS
		 * stood still (see below). */
		LateTicks late(11, 30);
		std::this_thread::sleep_for(25s);
		stalled = late.stalled_ns();
	}

	double shown[4], sent = 0;
	for (int i = 0; i < 4; i++) {
		Watched &w = watched[i];
		frame_filter_detach(w.source, w.filter);
		obs_source_release(w.source);
		EXPECT_GE(w.seen.pictures.size(), 300u) << "source " << i;
		shown[i] = sync_marks_shown_share(&w.seen);
		sent = std::max(sent, shown[i] ? (double)w.seen.pictures.size() / shown[i] : 0);
	}
	/* The pictures sent while a busy machine kept OBS's video thread from
	 * ticking at all for over 100 ms: no source can have them taken then. */
	double stood_still = sent > 0 ? (double)stalled / 1e9 * 30 / sent : 0;
	obs_set_output_source(0, nullptr);
	obs_scene_release(scene);

	for (int link = 0; link < 2; link++) {
		double on = shown[link * 2], off = shown[link * 2 + 1];
		printf("%s link, OBS late: mode on %.1f %% of the pictures taken, off %.1f %% (OBS stood still %.1f %%)\n",
		       link ? "jittery" : "steady", on * 100, off * 100, stood_still * 100);
		/* A sanitizer build runs the plug-in's own threads several times
		 * slower (under ThreadSanitizer its hand-over took 300 ms on
		 * average here): there the share is a machine's, not the rule's, and
		 * only the comparison with the mode off is judged. */
		if (!sanitized_build) {
			EXPECT_GE(on + stood_still, 0.99) << (link ? "jittery" : "steady");
		}
		/* At least as many as off, but for one picture in 500 either way. */
		EXPECT_GE(on, off - 0.002) << (link ? "jittery" : "steady");
	}
}
