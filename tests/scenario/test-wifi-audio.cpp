/* The built module in a real libobs, fed by the reference sender over a
 * link that holds packets back as Wi-Fi does (uniform 0-20 ms, and 3 % of
 * packets 100-200 ms more, in order): late audio never makes libobs raise
 * its audio buffering, and the plug-in says how far it holds audio back. */

#include "log-capture.h"
#include "log-lines.h"
#include "obs-env.h"
#include "ostrelin-sources.h"
#include "helpers/test-sender.h"

#include <obs.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace std::chrono_literals;

TEST(WifiAudio, LateAudioNeverRaisesObsAudioBuffering)
{
	LogCapture log;
	ObsEnv env;
	ASSERT_NE(env.load_module(), nullptr);

	sender_test::BoundedSender sender({"--width", "320", "--height", "240", "--jitter", "20", "--spike-share", "3",
					   "--spike-ms", "100-200", "--seed", "7"});
	ASSERT_TRUE(sender.running());
	obs_scene_t *scene = obs_scene_create("wifi");
	obs_set_output_source(0, obs_scene_get_source(scene));
	obs_source_t *source = create_ostrelin_source("phone", sender.port());
	ASSERT_NE(source, nullptr);
	obs_scene_add(scene, source);

	/* The spikes come about twice a second; 20 s holds dozens of them. The
	 * first raise shows the link was late enough to matter. */
	EXPECT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_AUDIO_ALLOWANCE), 1, 10000ms));
	std::this_thread::sleep_for(20s);
	/* Audio went on: the statistics counted audio packets every 5 s. */
	EXPECT_GE(log.count_prefix(plugin_line_head(LOGTEXT_STATS_AUDIO)), 3u);

	obs_set_output_source(0, nullptr);
	obs_scene_release(scene);
	obs_source_release(source);
	EXPECT_EQ(log.obs_audio_buffering_lines(), 0u);
}
