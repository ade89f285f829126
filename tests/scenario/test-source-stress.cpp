#include "helpers/source-fixture.h"
#include "log-lines.h"

#include <util/bmem.h>

#include <atomic>
#include <random>

using namespace std::chrono_literals;

/* Hundreds of sources created, reconfigured and removed while a phone streams
 * and drops connections at random: nothing may race, nothing may be used
 * after it is freed, and no thread, socket or allocation may be left behind. */
class SourceStressTest : public SourceTest {
protected:
	/* Serves every connection with a handshake, capabilities and pictures,
	 * and hangs up at random moments. */
	void serve_phones()
	{
		std::mt19937 rng(7);
		while (!stop_phone) {
			peer::Connection phone = listener.accept(50);
			if (!phone.valid())
				continue;
			phone.send(peer::handshake());
			phone.send(peer::caps_packet(peer::all_caps()));
			int pictures = (int)(rng() % 8);
			for (int i = 0; i < pictures && !stop_phone; i++)
				phone.send(peer::packet(0, peer::now_us(), video[(size_t)i % video.size()]));
			if (rng() % 2)
				std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 20));
		}
	}

	std::atomic<bool> stop_phone = false;
};

TEST_F(SourceStressTest, CreateUpdateDestroyWhileThePhoneStreamsAndDrops)
{
	const int rounds = 300;
	int fds_before = peer::open_fds();
	int threads_before = peer::threads();

	std::thread phone([this] { serve_phones(); });
	std::mt19937 rng(11);
	for (int round = 0; round < rounds; round++) {
		obs_source_t *source = create_wifi(listener.port());
		ASSERT_NE(source, nullptr);
		std::this_thread::sleep_for(std::chrono::microseconds(rng() % 15000));
		switch (rng() % 4) {
		case 0: /* controls only */
			change(source,
			       [&](obs_data_t *s) { obs_data_set_double(s, "zoom", 1.0 + (rng() % 70) / 10.0); });
			break;
		case 1: /* a new connection */
			change(source, [&](obs_data_t *s) { obs_data_set_string(s, SETTING_DEVICE, "x"); });
			break;
		case 2: /* off and on */
			change(source, [](obs_data_t *s) { obs_data_set_bool(s, SETTING_ENABLED, false); });
			change(source, [](obs_data_t *s) { obs_data_set_bool(s, SETTING_ENABLED, true); });
			break;
		default:
			break;
		}
		release(source);
	}
	stop_phone = true;
	phone.join();

	/* libobs destroys sources on its own task thread: wait for it to finish. */
	EXPECT_TRUE(wait_until([&] { return peer::threads() <= threads_before; }, 10000ms))
		<< peer::threads() << " threads, " << threads_before << " before";
	EXPECT_TRUE(wait_until([&] { return peer::open_fds() <= fds_before; }, 5000ms))
		<< peer::open_fds() << " descriptors, " << fds_before << " before";
	EXPECT_GT(log.count_prefix(plugin_line_head(LOGTEXT_STREAM_CONNECTED)), 10u);

	/* Every allocation made through libobs is back once it shuts down. */
	env.reset();
	EXPECT_EQ(bnum_allocs(), 0);
}
