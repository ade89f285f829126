#include "obs/lifecycle.h"
#include "helpers/source-fixture.h"
#include "log-lines.h"

#include <cstring>
#include <string>

using namespace std::chrono_literals;

class LifecycleTest : public SourceTest {
protected:
	/* A connected phone that has announced its capabilities, and the controls
	 * that answer them: the current values of those announced. */
	peer::Connection connect_with_caps(obs_source_t *source, const CameraCaps &caps,
					   std::vector<ControlMessage> *first = nullptr)
	{
		peer::Connection phone = accept_phone();
		EXPECT_TRUE(phone.valid());
		phone.send(peer::caps_packet(caps));
		EXPECT_TRUE(wait_until([&] { return status_caps(&instance(source)->status).valid == 1; }, 3000ms));
		size_t announced = 0;
		for (const CameraControlRow &row : camera_controls)
			announced += camera_control_announced(row, caps) ? 1 : 0;
		auto controls = read_controls(phone, announced);
		EXPECT_EQ(controls.size(), announced);
		if (first)
			*first = controls;
		return phone;
	}

	static std::vector<ControlMessage> read_controls(peer::Connection &phone, size_t n)
	{
		std::vector<ControlMessage> out;
		for (size_t i = 0; i < n; i++) {
			media::Bytes b = phone.read(CONTROL_MESSAGE_SIZE, 2000);
			if (b.size() != CONTROL_MESSAGE_SIZE)
				break;
			out.push_back(control_message_parse(b.data()));
		}
		return out;
	}
};

TEST_F(LifecycleTest, DefaultsAndModeReconciliation)
{
	obs_data_t *defaults = obs_data_create();
	ostrelin_defaults(defaults);
	EXPECT_EQ(obs_data_get_int(defaults, SETTING_PORT), STREAM_DEFAULT_PORT);
	EXPECT_TRUE(obs_data_get_bool(defaults, SETTING_USE_ADB));
	EXPECT_EQ(obs_data_get_int(defaults, SETTING_CONN_MODE), 0);
	EXPECT_TRUE(obs_data_get_bool(defaults, SETTING_ENABLED));
	EXPECT_STREQ(obs_data_get_string(defaults, SETTING_HOST), "127.0.0.1");
	EXPECT_DOUBLE_EQ(obs_data_get_double(defaults, "zoom"), 1.0);
	EXPECT_EQ(obs_data_get_int(defaults, "awb"), 1);
	EXPECT_FALSE(obs_data_has_user_value(defaults, SETTING_CONN_MODE));
	obs_data_release(defaults);
	EXPECT_STREQ(ostrelin_get_name(nullptr), "Ostrelin");

	/* A new source with defaults: USB mode, and "conn_mode" now leads. */
	obs_source_t *fresh = create(nullptr);
	ASSERT_NE(fresh, nullptr);
	obs_data_t *s = obs_source_get_settings(fresh);
	EXPECT_TRUE(obs_data_has_user_value(s, SETTING_CONN_MODE));
	EXPECT_EQ(obs_data_get_int(s, SETTING_CONN_MODE), 0);
	EXPECT_TRUE(instance(fresh)->settings.use_adb);
	EXPECT_EQ(instance(fresh)->settings.port, STREAM_DEFAULT_PORT);
	EXPECT_TRUE(plat_thread_running(&instance(fresh)->conn.thread));
	obs_data_release(s);

	/* Older settings with only "use_adb" false: Wi-Fi, and "conn_mode" 1 is written. */
	obs_data_t *old = obs_data_create();
	obs_data_set_bool(old, SETTING_USE_ADB, false);
	obs_data_set_bool(old, SETTING_ENABLED, false);
	obs_source_t *legacy = create(old);
	obs_data_release(old);
	s = obs_source_get_settings(legacy);
	EXPECT_EQ(obs_data_get_int(s, SETTING_CONN_MODE), 1);
	EXPECT_FALSE(instance(legacy)->settings.use_adb);
	EXPECT_FALSE(plat_thread_running(&instance(legacy)->conn.thread));
	obs_data_release(s);

	/* Both present and disagreeing: "conn_mode" wins and "use_adb" is rewritten. */
	obs_data_t *both = obs_data_create();
	obs_data_set_int(both, SETTING_CONN_MODE, 1);
	obs_data_set_bool(both, SETTING_USE_ADB, true);
	obs_data_set_bool(both, SETTING_ENABLED, false);
	obs_source_t *mixed = create(both);
	obs_data_release(both);
	s = obs_source_get_settings(mixed);
	EXPECT_FALSE(obs_data_get_bool(s, SETTING_USE_ADB));
	EXPECT_FALSE(instance(mixed)->settings.use_adb);
	obs_data_release(s);
}

TEST_F(LifecycleTest, PortAndTextRules)
{
	std::string long_host(200, 'h');
	obs_data_t *settings = wifi_settings(0, long_host.c_str());
	obs_data_set_string(settings, SETTING_DEVICE, std::string(300, 'd').c_str());
	obs_source_t *source = create(settings);
	obs_data_release(settings);
	SourceInstance *inst = instance(source);
	EXPECT_EQ(inst->settings.port, STREAM_DEFAULT_PORT);
	EXPECT_EQ(strlen(inst->settings.host), 127u);
	EXPECT_EQ(strlen(inst->settings.serial), 127u);

	/* The default port spelled out is the same connection: no restart. The long
	 * texts are compared as stored, so restate them cut. */
	void *thread_before = inst->conn.thread.handle;
	change(source, [&](obs_data_t *s) {
		obs_data_set_int(s, SETTING_PORT, STREAM_DEFAULT_PORT);
		obs_data_set_string(s, SETTING_HOST, std::string(127, 'h').c_str());
		obs_data_set_string(s, SETTING_DEVICE, std::string(127, 'd').c_str());
	});
	EXPECT_EQ(inst->conn.thread.handle, thread_before);

	/* A negative port is the default one too. */
	change(source, [&](obs_data_t *s) { obs_data_set_int(s, SETTING_PORT, -5); });
	EXPECT_EQ(inst->conn.thread.handle, thread_before);

	/* Past 65535 there is no port: refused, never wrapped onto another one
	 * (65536 more than the listener's port would land on it). */
	change(source, [&](obs_data_t *s) { obs_data_set_int(s, SETTING_PORT, listener.port() + 65536); });
	EXPECT_FALSE(plat_thread_running(&inst->conn.thread));
	EXPECT_TRUE(
		log.contains(LOG_WARNING, plugin_line(LOGTEXT_PORT_OUT_OF_RANGE, (long long)listener.port() + 65536)));
	EXPECT_FALSE(listener.accept(300).valid());
	change(source, [&](obs_data_t *s) { obs_data_set_int(s, SETTING_PORT, 65536); });
	EXPECT_FALSE(plat_thread_running(&inst->conn.thread));
	change(source, [&](obs_data_t *s) { obs_data_set_int(s, SETTING_PORT, 65535); });
	EXPECT_TRUE(plat_thread_running(&inst->conn.thread));
	EXPECT_EQ(inst->refused_port, 0);
	change(source, [&](obs_data_t *s) { obs_data_set_int(s, SETTING_PORT, 1); });
	EXPECT_TRUE(plat_thread_running(&inst->conn.thread));

	/* "device" changes restart the connection even in Wi-Fi mode. */
	change(source, [&](obs_data_t *s) { obs_data_set_string(s, SETTING_DEVICE, "other"); });
	EXPECT_STREQ(inst->settings.serial, "other");
	EXPECT_TRUE(plat_thread_running(&inst->conn.thread));
	/* So does a new host. */
	change(source, [&](obs_data_t *s) { obs_data_set_string(s, SETTING_HOST, "127.0.0.2"); });
	EXPECT_STREQ(inst->settings.host, "127.0.0.2");
	EXPECT_TRUE(plat_thread_running(&inst->conn.thread));
}

TEST_F(LifecycleTest, ControlsGoOutInOrderWithoutReconnecting)
{
	obs_source_t *source = create_wifi(listener.port());
	peer::Connection phone = connect_with_caps(source, peer::all_caps());

	change(source, [](obs_data_t *s) { set_controls(s, {2.5, -3, true, false, 5}); });
	auto controls = read_controls(phone, 5);
	ASSERT_EQ(controls.size(), 5u);
	EXPECT_EQ(controls[0].command, CONTROL_ZOOM);
	EXPECT_EQ(controls[0].value, 2500);
	EXPECT_EQ(controls[1].command, CONTROL_EV);
	EXPECT_EQ(controls[1].value, -3);
	EXPECT_EQ(controls[2].command, CONTROL_TORCH);
	EXPECT_EQ(controls[2].value, 1);
	EXPECT_EQ(controls[3].command, CONTROL_AE_LOCK); /* AE lock before white balance */
	EXPECT_EQ(controls[3].value, 0);
	EXPECT_EQ(controls[4].command, CONTROL_AWB);
	EXPECT_EQ(controls[4].value, 5);

	/* Every update sends every applicable control, changed or not. */
	change(source, [](obs_data_t *s) { obs_data_set_double(s, "zoom", 1.9999); });
	controls = read_controls(phone, 5);
	ASSERT_EQ(controls.size(), 5u);
	EXPECT_EQ(controls[0].value, 1999);
	EXPECT_EQ(log.count_prefix(plugin_line_head(LOGTEXT_DISCONNECTED)), 0u);
	EXPECT_FALSE(listener.accept(200).valid());
}

TEST_F(LifecycleTest, OnlyAdvertisedControlsAreSent)
{
	obs_source_t *source = create_wifi(listener.port());
	CameraCaps caps = {};
	caps.flags = CAPS_TORCH; /* torch only, no white-balance modes */
	peer::Connection phone = connect_with_caps(source, caps);
	change(source, [](obs_data_t *s) { obs_data_set_bool(s, "torch", true); });
	auto controls = read_controls(phone, 1);
	ASSERT_EQ(controls.size(), 1u);
	EXPECT_EQ(controls[0].command, CONTROL_TORCH);
	EXPECT_TRUE(phone.read(1, 300).empty());
}

/* Values changed before the capabilities, or while the phone is away, go out
 * when the next connection's capabilities arrive, so the phone matches the
 * panel; nothing goes out before them. Capabilities announced anew bring the
 * current values again. */
TEST_F(LifecycleTest, ControlsFollowTheCapabilitiesOfEachConnection)
{
	obs_source_t *source = create_wifi(listener.port());
	peer::Connection phone = accept_phone();
	ASSERT_TRUE(log.wait_for(LOG_INFO, plugin_line(LOGTEXT_STREAM_CONNECTED, 80, 48, 30), 3000ms));
	change(source, [](obs_data_t *s) { obs_data_set_double(s, "zoom", 3.0); });
	EXPECT_TRUE(phone.read(1, 300).empty());

	phone.send(peer::caps_packet(peer::all_caps()));
	auto controls = read_controls(phone, 5);
	ASSERT_EQ(controls.size(), 5u);
	EXPECT_EQ(controls[0].value, 3000);
	EXPECT_EQ(controls[4].value, 1); /* the default white balance */
	EXPECT_TRUE(phone.read(1, 300).empty());
	/* Announced anew with nothing changed: the current values go out again. */
	phone.send(peer::caps_packet(peer::all_caps()));
	controls = read_controls(phone, 5);
	ASSERT_EQ(controls.size(), 5u);
	EXPECT_EQ(controls[0].value, 3000);

	phone.close();
	ASSERT_TRUE(wait_until([&] { return !instance(source)->status.connected; }, 3000ms));
	change(source, [](obs_data_t *s) { obs_data_set_double(s, "zoom", 4.0); });
	peer::Connection again = accept_phone();
	ASSERT_TRUE(again.valid());
	EXPECT_TRUE(again.read(1, 300).empty());
	again.send(peer::caps_packet(peer::all_caps()));
	controls = read_controls(again, 5);
	ASSERT_EQ(controls.size(), 5u);
	EXPECT_EQ(controls[0].command, CONTROL_ZOOM);
	EXPECT_EQ(controls[0].value, 4000);
}

/* An update that ends the connection, by moving to another port or by
 * disabling the source, sends nothing to the phone it leaves, however the
 * race with the stop falls; the next connection gets the update's values once
 * its capabilities arrive. */
TEST_F(LifecycleTest, AnUpdateThatEndsTheConnectionSendsItNoControls)
{
	peer::Listener other;
	peer::Listener *at[] = {&listener, &other};
	obs_source_t *source = create_wifi(listener.port());
	peer::Connection phone = connect_with_caps(source, peer::all_caps());
	for (int round = 1; round <= 20; round++) {
		peer::Listener &next_at = *at[round % 2];
		const bool disable = round == 20;
		change(source, [&](obs_data_t *s) {
			obs_data_set_double(s, "zoom", 1.0 + round * 0.25);
			obs_data_set_int(s, SETTING_PORT, next_at.port());
			obs_data_set_bool(s, SETTING_ENABLED, !disable);
		});
		size_t received = 0;
		ASSERT_TRUE(phone.wait_closed(3000, &received)) << "round " << round;
		EXPECT_EQ(received, 0u) << "round " << round;
		if (disable)
			break;
		phone = next_at.accept(5000);
		ASSERT_TRUE(phone.valid());
		phone.send(peer::handshake());
		phone.send(peer::caps_packet(peer::all_caps()));
		auto controls = read_controls(phone, 5);
		ASSERT_EQ(controls.size(), 5u);
		EXPECT_EQ(controls[0].value, 1000 + round * 250) << "round " << round;
	}
}

/* A phone that reads slowly gets whole messages only, and the last value of
 * every control after a burst of changes, in the table's order. */
TEST_F(LifecycleTest, ABurstOfChangesEndsWithTheLastValuesAgainstASlowReader)
{
	obs_source_t *source = create_wifi(listener.port());
	peer::Connection phone = connect_with_caps(source, peer::all_caps());
	for (int i = 1; i <= 200; i++) {
		change(source, [i](obs_data_t *s) {
			obs_data_set_double(s, "zoom", 1.0 + i / 100.0);
			obs_data_set_int(s, "ev", i % 7);
			obs_data_set_int(s, "awb", 2 + i % 3);
		});
	}
	std::vector<ControlMessage> seen;
	for (;;) {
		media::Bytes b = phone.read(CONTROL_MESSAGE_SIZE, 500);
		if (b.empty())
			break;
		ASSERT_EQ(b.size(), (size_t)CONTROL_MESSAGE_SIZE) << "a cut message";
		seen.push_back(control_message_parse(b.data()));
		std::this_thread::sleep_for(1ms);
	}
	ASSERT_GE(seen.size(), 5u);
	ASSERT_EQ(seen.size() % 5, 0u);
	for (size_t i = 0; i < seen.size(); i++)
		EXPECT_EQ(seen[i].command, camera_controls[i % 5].command) << i;
	const ControlMessage *last = &seen[seen.size() - 5];
	EXPECT_EQ(last[0].value, 3000);
	EXPECT_EQ(last[1].value, 200 % 7);
	EXPECT_EQ(last[4].value, 2 + 200 % 3);
	EXPECT_EQ(log.count_prefix(plugin_line_head(LOGTEXT_DISCONNECTED)), 0u);
}

/* A phone that stops reading: once a batch of controls cannot go out within
 * its limit (2 s) the connection ends and the thread connects again, even
 * while newer values keep coming; before the end, every byte the phone got
 * belongs to a whole message in order. */
TEST_F(LifecycleTest, APhoneThatStopsReadingIsDroppedAndReconnected)
{
	listener.set_receive_buffer(2048);
	obs_source_t *source = create_wifi(listener.port());
	peer::Connection phone = connect_with_caps(source, peer::all_caps());
	const auto give_up = std::chrono::steady_clock::now() + 60s;
	for (int i = 0; std::chrono::steady_clock::now() < give_up &&
			log.count_prefix(plugin_line_head(LOGTEXT_DISCONNECTED)) == 0;
	     i++) {
		change(source, [i](obs_data_t *s) { obs_data_set_int(s, "ev", i); });
		if (i % 1000 == 999) {
			/* Empty packets: the phone is not silent, it only stops reading. */
			phone.send(peer::packet(0, 0, {}, 0));
			std::this_thread::sleep_for(5ms);
		}
	}
	ASSERT_EQ(log.count_prefix(plugin_line_head(LOGTEXT_DISCONNECTED)), 1u)
		<< "not dropped while values kept coming";

	/* The plug-in's last bytes and its close may wait in its send queue
	 * behind a window that stayed shut for seconds, which the kernel probes
	 * at growing intervals: the close comes within 30 s, not always at once
	 * (once, in a sanitizer build on a busy machine, not within 2 s). */
	media::Bytes got;
	for (media::Bytes b = phone.read(CONTROL_MESSAGE_SIZE, 5000); b.size() == CONTROL_MESSAGE_SIZE;
	     b = phone.read(CONTROL_MESSAGE_SIZE, 5000))
		got.insert(got.end(), b.begin(), b.end());
	ASSERT_GT(got.size(), 0u);
	for (size_t at = 0; at < got.size(); at += CONTROL_MESSAGE_SIZE) {
		ASSERT_EQ(got[at], camera_controls[(at / CONTROL_MESSAGE_SIZE) % CAMERA_CONTROL_COUNT].command)
			<< "message " << at / CONTROL_MESSAGE_SIZE;
	}
	EXPECT_TRUE(phone.wait_closed(30000));
	EXPECT_TRUE(accept_phone().valid());
}

TEST_F(LifecycleTest, DisablingStopsTheThreadAndClosesTheSocket)
{
	obs_source_t *source = create_wifi(listener.port());
	peer::Connection phone = accept_phone();
	ASSERT_TRUE(log.wait_for(LOG_INFO, plugin_line(LOGTEXT_STREAM_CONNECTED, 80, 48, 30), 3000ms));
	int threads_streaming = peer::threads();
	SourceInstance *inst = instance(source);
	/* The socket itself, not a count: other threads open files too. */
	const std::string socket = peer::fd_target((int)inst->conn.sock);
	ASSERT_EQ(socket.rfind("socket:", 0), 0u) << socket;

	change(source, [](obs_data_t *s) { obs_data_set_bool(s, SETTING_ENABLED, false); });
	EXPECT_FALSE(plat_thread_running(&inst->conn.thread));
	EXPECT_EQ(inst->conn.sock, PLAT_INVALID_SOCKET);
	EXPECT_FALSE(inst->status.connected);
	EXPECT_TRUE(phone.wait_closed(1000));
	/* The connection thread is gone; libobs may run a short task of its own
	 * meanwhile, so the count settles rather than drops at once. */
	EXPECT_TRUE(wait_until([&] { return peer::threads() <= threads_streaming - 1; }, 3000ms))
		<< peer::threads() << " threads, " << threads_streaming << " while streaming";
	EXPECT_FALSE(peer::fd_open_on(socket)); /* its socket */

	/* Enabled again: a new thread and a new connection. */
	change(source, [](obs_data_t *s) { obs_data_set_bool(s, SETTING_ENABLED, true); });
	EXPECT_TRUE(plat_thread_running(&inst->conn.thread));
	EXPECT_TRUE(accept_phone().valid());
}

/* Only forwards a source made are removed: when the source goes, or when
 * its port or device changes; a Wi-Fi source never asks. */
TEST_F(LifecycleTest, ForwardsAreRemovedOnlyWhenThisSourceMadeThem)
{
	/* Each removal takes about 120 ms, so that unloading finds a queue. */
	FakeAdbServer adb(0, [](const std::string &request) {
		if (request.find("killforward") != std::string::npos)
			return FakeAdbReply::trickle("OKAY", 30);
		return fake_adb_default_reply(request);
	});
	adb_set_server_port(adb.port());
	const std::string port = std::to_string(listener.port());
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, SETTING_CONN_MODE, 0);
	obs_data_set_string(settings, SETTING_DEVICE, "R58M123");
	obs_data_set_int(settings, SETTING_PORT, listener.port());
	obs_source_t *usb = create(settings);
	obs_data_release(settings);
	ASSERT_TRUE(adb.wait_for_request("host-serial:R58M123:forward:tcp:" + port + ";localabstract:" ADB_SOCKET_NAME,
					 3000));
	ASSERT_TRUE(accept_phone().valid());

	const std::string new_port = std::to_string(listener.port() + 1);
	change(usb, [&](obs_data_t *s) { obs_data_set_int(s, SETTING_PORT, listener.port() + 1); });
	EXPECT_TRUE(adb.wait_for_request("host-serial:R58M123:killforward:tcp:" + port, 3000));
	ASSERT_TRUE(adb.wait_for_request(
		"host-serial:R58M123:forward:tcp:" + new_port + ";localabstract:" ADB_SOCKET_NAME, 3000));

	obs_source_t *wifi = create_wifi(listener.port() + 2);
	release(wifi);
	release(usb);
	ASSERT_TRUE(adb.wait_for_request("host-serial:R58M123:killforward:tcp:" + new_port, 3000));
	/* Both removals answered. Unloading at once after queueing more, with
	 * the worker idle and then with a worker just started: the queue is
	 * worked off within the grace time, and the device list is forgotten. */
	ASSERT_TRUE(wait_until([&] { return adb.closed_by_client() == 2; }, 3000ms));
	std::vector<std::string> expected = {"host-serial:R58M123:killforward:tcp:" + port,
					     "host-serial:R58M123:killforward:tcp:" + new_port};
	for (int queued = 1000; queued < 1010; queued += 2) {
		adb_background_remove_forward("R58M123", queued);
		adb_background_remove_forward("", queued + 1);
		adb_background_scan(false, nullptr, nullptr);
		obs_module_unload(); /* the module's own unload hook */
		expected.push_back("host-serial:R58M123:killforward:tcp:" + std::to_string(queued));
		expected.push_back("host:killforward:tcp:" + std::to_string(queued + 1));
		AdbDevice devices[ADB_MAX_DEVICES];
		bool scanned = false;
		EXPECT_EQ(adb_background_devices(devices, &scanned), 0);
		EXPECT_FALSE(scanned) << "the scan outlived the unload";
	}
	std::vector<std::string> removals;
	int scans = 0;
	for (const std::string &r : adb.requests()) {
		if (r.find("killforward") != std::string::npos)
			removals.push_back(r);
		scans += r == "host:devices" ? 1 : 0;
	}
	EXPECT_EQ(removals, expected);
	EXPECT_EQ(scans, 5);
}

/* Past its grace (none here), unloading ends the removal under way at once
 * instead of waiting out the adb client's 2 s limit. */
TEST_F(LifecycleTest, UnloadEndsAHangingRemovalWhenItsGraceRunsOut)
{
	FakeAdbServer adb(0, [](const std::string &) { return FakeAdbReply::silence(); });
	adb_set_server_port(adb.port());
	adb_background_remove_forward("", STREAM_DEFAULT_PORT);
	ASSERT_TRUE(adb.wait_for_request("host:killforward:tcp:" + std::to_string(STREAM_DEFAULT_PORT), 3000));
	auto start = std::chrono::steady_clock::now();
	adb_background_shutdown(0);
	double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
	EXPECT_LT(ms, 1000.0) << "the request was left to its own time limit";
	EXPECT_TRUE(wait_until([&] { return adb.closed_by_client() == 1; }, 3000ms));
}

/* A scan reports to whoever asked exactly once: whether it changed the list
 * when it has ended, and "unchanged" at once when it is declined. */
TEST_F(LifecycleTest, ScanReportsOnceToWhoeverAsked)
{
	struct Reports {
		std::mutex lock;
		std::vector<bool> changed;
		static void done(void *ctx, bool changed)
		{
			auto *r = static_cast<Reports *>(ctx);
			std::lock_guard<std::mutex> guard(r->lock);
			r->changed.push_back(changed);
		}
		std::vector<bool> seen()
		{
			std::lock_guard<std::mutex> guard(lock);
			return changed;
		}
	} reports;
	FakeAdbServer adb(0, [](const std::string &request) {
		if (request == "host:devices")
			return FakeAdbReply::devices("R58M123\tdevice\n");
		return fake_adb_default_reply(request);
	});
	adb_set_server_port(adb.port());

	adb_background_scan(false, Reports::done, &reports);
	ASSERT_TRUE(wait_until([&] { return reports.seen().size() == 1; }, 3000ms));
	adb_background_scan(true, Reports::done, &reports); /* a list is known: declined */
	EXPECT_EQ(reports.seen(), (std::vector<bool>{true, false}));
	adb_background_scan(false, Reports::done, &reports);
	ASSERT_TRUE(wait_until([&] { return reports.seen().size() == 3; }, 3000ms));
	EXPECT_EQ(reports.seen().back(), false) << "the same list again";

	adb_background_shutdown(0);
	EXPECT_EQ(reports.seen().size(), 3u);
}
