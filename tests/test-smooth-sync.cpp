/* "Smooth and in sync" in a real libobs, fed by the reference sender over a
 * link that holds packets back as Wi-Fi does (uniform 0-20 ms, and 3 % of
 * packets 100-200 ms more, in order), with a white flash in the picture and
 * a tone burst in the sound at the same sender time once a second: nearly
 * every picture sent is shown, the burst plays with its flash, and libobs
 * never has to raise its audio buffering. */

#include "frame-filter.h"
#include "log-capture.h"
#include "log-lines.h"
#include "obs-env.h"
#include "ostrelin-sources.h"
#include "picture-index.h"
#include "test-sender.h"

#include <obs.h>
#include <util/platform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

const char filter_id[] = "ostrelin_test_sync_probe";

/* What OBS took and what it was handed, on os_gettime_ns. */
struct Seen {
	std::mutex lock;
	uint64_t from = 0;             /* note nothing before this */
	std::set<int> pictures;        /* counters of the pictures OBS took */
	std::vector<uint64_t> flashes; /* when OBS took a flashed picture */
	std::vector<uint64_t> bursts;  /* the OBS time a burst starts at */
	uint64_t last_loud = 0;
};

/* The sender's picture is red at a quarter of its width and height; a flash
 * makes it white. */
bool flashed(const obs_source_frame *frame)
{
	if (!frame->data[0] || frame->width < 64 || frame->height < 64)
		return false;
	return frame->data[0][(size_t)(frame->height / 4) * frame->linesize[0] + frame->width / 4] > 200;
}

obs_source_frame *on_frame(void *data, obs_source_frame *frame)
{
	uint64_t now = os_gettime_ns();
	auto *seen = static_cast<Seen *>(data);
	int index = picture_index(frame);
	std::lock_guard<std::mutex> guard(seen->lock);
	if (now < seen->from || index < 0)
		return frame;
	seen->pictures.insert(index);
	if (flashed(frame))
		seen->flashes.push_back(now);
	return frame;
}

/* A burst starts at the first loud sample after 200 ms without one. */
void on_audio(void *param, obs_source_t *, const audio_data *audio, bool)
{
	auto *seen = static_cast<Seen *>(param);
	const float *samples = reinterpret_cast<const float *>(audio->data[0]);
	std::lock_guard<std::mutex> guard(seen->lock);
	for (uint32_t i = 0; samples && i < audio->frames; i++) {
		if (std::fabs(samples[i]) < 0.25f)
			continue;
		uint64_t t = audio->timestamp + (uint64_t)i * 1000000000ull / 48000;
		if (t >= seen->from && (seen->last_loud == 0 || t - seen->last_loud > 200000000ull))
			seen->bursts.push_back(t);
		seen->last_loud = t;
	}
}

size_t buffering_lines(const LogCapture &log)
{
	size_t n = 0;
	for (const LogLine &line : log.lines())
		n += line.text.find("audio buffering") != std::string::npos && line.text.rfind(LOGTEXT_PREFIX, 0) != 0;
	return n;
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
	Seen seen;
	seen.from = os_gettime_ns() + 5000000000ull; /* past the first raises */
	obs_source_t *filter = frame_filter_attach(source, filter_id, &seen);
	obs_source_add_audio_capture_callback(source, on_audio, &seen);
	obs_scene_add(scene, source);

	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_SYNC_DELAY), 1, 10000ms));
	std::this_thread::sleep_for(25s);

	obs_source_remove_audio_capture_callback(source, on_audio, &seen);
	frame_filter_detach(source, filter);
	obs_set_output_source(0, nullptr);
	obs_scene_release(scene);
	obs_source_release(source);

	std::lock_guard<std::mutex> guard(seen.lock);
	/* 30 fps for about 20 s: of the pictures between the first and the last
	 * OBS took, nearly all were shown (shown at once, a third go missing on
	 * this link). */
	ASSERT_GE(seen.pictures.size(), 300u);
	int first = *seen.pictures.begin(), last = *seen.pictures.rbegin();
	double shown = (double)seen.pictures.size() / (double)(last - first + 1);
	EXPECT_GE(shown, 0.9) << seen.pictures.size() << " of " << last - first + 1;

	/* Each flash with the burst nearest to it (they are 1 s apart). */
	std::vector<int64_t> offsets;
	for (uint64_t flash : seen.flashes) {
		int64_t best = INT64_MAX;
		for (uint64_t burst : seen.bursts) {
			int64_t d = (int64_t)(burst - flash);
			if (std::llabs(d) < std::llabs(best))
				best = d;
		}
		if (best != INT64_MAX && std::llabs(best) < 500000000)
			offsets.push_back(best);
	}
	ASSERT_GE(offsets.size(), 10u) << seen.flashes.size() << " flashes, " << seen.bursts.size() << " bursts";
	std::sort(offsets.begin(), offsets.end(), [](int64_t a, int64_t b) { return std::llabs(a) < std::llabs(b); });
	int64_t median = offsets[offsets.size() / 2];
	/* The goal is one frame interval (33 ms); the allowance alone puts the
	 * sound 250 ms behind on this link. */
	EXPECT_LE(std::llabs(median), 60000000) << median / 1e6 << " ms";
	EXPECT_LE(std::llabs(offsets.back()), 150000000) << offsets.back() / 1e6 << " ms at worst";
	printf("pictures shown %zu of %d; A/V offset median %.1f ms, worst %.1f ms over %zu marks\n",
	       seen.pictures.size(), last - first + 1, median / 1e6, offsets.back() / 1e6, offsets.size());
	for (const LogLine &line : log.lines())
		if (line.text.rfind(plugin_line_head(LOGTEXT_SYNC_DELAY), 0) == 0)
			printf("%s\n", line.text.c_str());
	EXPECT_EQ(buffering_lines(log), 0u);
}
