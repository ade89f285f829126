#pragma once
/* A camera source created through libobs, with the plug-in's code linked into
 * the test (so the sanitizers see all of it), and a loopback phone. */

#include "adb/adb-background.h"
#include "adb/adb-client.h"
#include "fake-adb-server.h"
#include "obs/lifecycle.h"
#include "log-capture.h"
#include "helpers/media-fixtures.h"
#include "obs-env.h"
#include "helpers/obs-probe.h"
#include "obs-settle.h"
#include "ostrelin-sources.h"
#include "obs/ostrelin-source.h"
#include "obs/source-instance.h"
#include "stream-peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

class SourceTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		env = std::make_unique<ObsEnv>();
		probe::register_types();
		obs_register_source(&ostrelin_source_info);
		/* No adb server unless a test brings its own. */
		adb_set_server_port(peer::unused_port());
	}

	void TearDown() override
	{
		for (obs_source_t *s : sources)
			release_source(s);
		sources.clear();
		/* Queued adb requests hold weak references to sources. */
		adb_background_shutdown(ADB_UNLOAD_GRACE_MS);
		env.reset();
	}

	obs_data_t *wifi_settings(uint16_t port, const char *host = "127.0.0.1")
	{
		obs_data_t *s = obs_data_create();
		set_wifi_target(s, port, host);
		return s;
	}

	obs_source_t *create(obs_data_t *settings)
	{
		obs_source_t *source = obs_source_create("ostrelin_source", "camera", settings, nullptr);
		if (source)
			sources.push_back(source);
		return source;
	}

	obs_source_t *create_wifi(uint16_t port, const char *host = "127.0.0.1")
	{
		obs_data_t *settings = wifi_settings(port, host);
		obs_source_t *source = create(settings);
		obs_data_release(settings);
		return source;
	}

	static SourceInstance *instance(obs_source_t *source)
	{
		return static_cast<SourceInstance *>(obs_obj_get_data(source));
	}

	/* Changes settings and applies them with the source's update callback,
	 * as libobs does on its video thread at the next tick; here on the test
	 * thread, so the sanitizers see every step. The path through libobs's own
	 * thread is covered by the tests that load the module. */
	template<typename F> static void change(obs_source_t *source, F edit)
	{
		obs_data_t *settings = obs_source_get_settings(source);
		edit(settings);
		ostrelin_update(instance(source), settings);
		obs_data_release(settings);
	}

	void release(obs_source_t *source)
	{
		std::erase(sources, source);
		release_source(source);
	}

	/* Accepts the plug-in's connection and sends the handshake. */
	peer::Connection accept_phone(int timeout_ms = 5000)
	{
		peer::Connection phone = listener.accept(timeout_ms);
		if (phone.valid())
			phone.send(peer::handshake());
		return phone;
	}

	LogCapture log;
	std::unique_ptr<ObsEnv> env;
	peer::Listener listener;
	std::vector<obs_source_t *> sources;
	std::vector<media::Bytes> video = media::access_unit_payloads(media::read_fixture("yuv420.h264"));
};
