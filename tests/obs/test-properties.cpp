/* The properties panel as OBS builds it from the loaded module: its properties
 * in order with their kinds, visibility by connection mode, the status line,
 * the camera controls the phone advertised, the adb device list, and the
 * interface language picked in the panel, relabelled in place and remembered
 * across a restart. Expected texts come from the shipped locale files. */

#include "fake-adb-server.h"
#include "obs/i18n.h"
#include "helpers/locale-file.h"
#include "log-capture.h"
#include "ostrelin-sources.h"
#include "obs-env.h"
#include "obs-settle.h"
#include "read-file.h"
#include "obs/source-instance.h"
#include "helpers/test-sender.h"
#include "log-lines.h"

#include <obs.h>
#include <util/platform.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using sender_test::SenderProcess;

namespace {

using Sender = sender_test::BoundedSender;

#ifdef __GNUC__
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif

/* A locale text used as a format, as the panel uses it. */
template<typename... Args> std::string format(const std::string &text, Args... args)
{
	char out[512];
	snprintf(out, sizeof(out), text.c_str(), args...);
	return out;
}

/* A regular expression matching what a format gives, one group per number or
 * word. */
std::regex format_pattern(const std::string &text)
{
	static const std::regex conversion(R"(%[-+ #0]*[0-9]*(\.[0-9]+)?(hh|h|ll|l)?[diufgeEs])");
	std::string pattern;
	std::sregex_iterator it(text.begin(), text.end(), conversion), end;
	size_t at = 0;
	auto literal = [&](size_t from, size_t to) {
		for (size_t i = from; i < to; i++) {
			if (strchr(".^$|()[]{}*+?\\", text[i]))
				pattern += '\\';
			pattern += text[i];
		}
	};
	for (; it != end; ++it) {
		literal(at, (size_t)it->position());
		pattern += it->str().back() == 's' ? "(\\S+)" : "(-?[0-9.]+)";
		at = (size_t)(it->position() + it->length());
	}
	literal(at, text.size());
	return std::regex(pattern);
}

struct ListItem {
	std::string name;
	std::string text_value;
	long long int_value;
};

/* The drop-down list of integers holds exactly these items, in this order. */
void expect_int_list(obs_property_t *list, const std::vector<std::pair<std::string, long long>> &want)
{
	EXPECT_EQ(obs_property_list_type(list), OBS_COMBO_TYPE_LIST);
	EXPECT_EQ(obs_property_list_format(list), OBS_COMBO_FORMAT_INT);
	std::vector<std::pair<std::string, long long>> items;
	for (size_t i = 0; i < obs_property_list_item_count(list); i++)
		items.emplace_back(obs_property_list_item_name(list, i), obs_property_list_item_int(list, i));
	EXPECT_EQ(items, want);
}

std::vector<ListItem> list_items(obs_property_t *list)
{
	std::vector<ListItem> items;
	bool strings = obs_property_list_format(list) == OBS_COMBO_FORMAT_STRING;
	for (size_t i = 0; i < obs_property_list_item_count(list); i++) {
		const char *value = strings ? obs_property_list_item_string(list, i) : nullptr;
		items.push_back({obs_property_list_item_name(list, i), value ? value : "",
				 strings ? 0 : obs_property_list_item_int(list, i)});
	}
	return items;
}

std::vector<std::string> names(obs_properties_t *props)
{
	std::vector<std::string> out;
	for (obs_property_t *p = obs_properties_first(props); p; obs_property_next(&p))
		out.push_back(obs_property_name(p));
	return out;
}

std::vector<obs_property_type> kinds(obs_properties_t *props)
{
	std::vector<obs_property_type> out;
	for (obs_property_t *p = obs_properties_first(props); p; obs_property_next(&p))
		out.push_back(obs_property_get_type(p));
	return out;
}

std::string label(obs_properties_t *props, const char *name)
{
	obs_property_t *p = obs_properties_get(props, name);
	const char *text = p ? obs_property_description(p) : nullptr;
	return text ? text : "<none>";
}

bool visible(obs_properties_t *props, const char *name)
{
	return obs_property_visible(obs_properties_get(props, name));
}

struct PropertiesDeleter {
	void operator()(obs_properties_t *props) const { obs_properties_destroy(props); }
};
using Properties = std::unique_ptr<obs_properties_t, PropertiesDeleter>;

struct SettingsDeleter {
	void operator()(obs_data_t *data) const { obs_data_release(data); }
};
using Settings = std::unique_ptr<obs_data_t, SettingsDeleter>;

const std::vector<std::string> panel_without_camera = {"conn_mode",      "device",      "refresh",     "host",
						       "port",           "enabled",     "smooth_sync", "status",
						       "refresh_status", "camera_hint", "ui_lang"};

/* Counts libobs's requests to rebuild a source's properties panel. */
class RefreshCounter {
public:
	explicit RefreshCounter(obs_source_t *source) : handler_(obs_source_get_signal_handler(source))
	{
		signal_handler_connect(handler_, "update_properties", on_signal, this);
	}
	~RefreshCounter() { signal_handler_disconnect(handler_, "update_properties", on_signal, this); }
	int count() const { return count_.load(); }

private:
	static void on_signal(void *data, calldata_t *) { static_cast<RefreshCounter *>(data)->count_++; }
	signal_handler_t *handler_;
	std::atomic<int> count_{0};
};

class PanelTest : public testing::Test {
protected:
	void SetUp() override
	{
		try {
			adb = std::make_unique<FakeAdbServer>(5037, [this](const std::string &request) {
				if (request == "host:devices") {
					std::lock_guard<std::mutex> guard(devices_lock);
					return FakeAdbReply::devices(devices);
				}
				return fake_adb_default_reply(request);
			});
		} catch (const std::exception &e) {
			FAIL() << e.what();
		}
		start();
	}

	void TearDown() override
	{
		stop();
		adb.reset();
	}

	void start()
	{
		env = std::make_unique<ObsEnv>();
		module = env->load_module();
		ASSERT_NE(module, nullptr);
	}

	void stop()
	{
		for (obs_source_t *s : sources)
			release_source(s);
		sources.clear();
		env.reset();
		module = nullptr;
	}

	void set_devices(const std::string &payload)
	{
		std::lock_guard<std::mutex> guard(devices_lock);
		devices = payload;
	}

	template<typename T> T symbol(const char *name)
	{
		return reinterpret_cast<T>(os_dlsym(obs_get_module_lib(module), name));
	}

	std::string lang_get() { return symbol<const char *(*)()>("nx_lang_get")(); }

	obs_source_t *create(const std::function<void(obs_data_t *)> &edit)
	{
		obs_source_t *source = create_ostrelin_source("phone", edit);
		if (source)
			sources.push_back(source);
		return source;
	}

	obs_source_t *create_wifi(uint16_t port, bool enabled = true)
	{
		return create([&](obs_data_t *s) {
			set_wifi_target(s, port);
			obs_data_set_bool(s, SETTING_ENABLED, enabled);
		});
	}

	/* A Wi-Fi source streaming from the sender, with its capabilities in. */
	obs_source_t *create_streaming(SenderProcess &sender)
	{
		if (sender.port() == 0)
			return nullptr;
		obs_source_t *source = create_wifi(sender.port());
		if (!sender.wait_for_line("connected") ||
		    !log.wait_for_prefix(plugin_line_head(LOGTEXT_STREAM_CONNECTED), 1, 5000ms))
			return nullptr;
		return source;
	}

	bool wait_for_caps() { return log.wait_for_prefix(plugin_line_head(LOGTEXT_CAMERA_CAPS), 1, 5000ms); }

	static SourceInstance *instance(obs_source_t *source)
	{
		return static_cast<SourceInstance *>(obs_obj_get_data(source));
	}

	static Properties panel(obs_source_t *source) { return Properties(obs_source_properties(source)); }
	static Properties panel_without_instance() { return Properties(obs_get_source_properties("ostrelin_source")); }
	static Settings settings_of(obs_source_t *source) { return Settings(obs_source_get_settings(source)); }

	/* Picks a language in the panel's list, as OBS does when the user does. */
	static bool pick_language(obs_properties_t *props, obs_data_t *settings, const char *code)
	{
		obs_data_set_string(settings, SETTING_UI_LANG, code);
		return obs_property_modified(obs_properties_get(props, SETTING_UI_LANG), settings);
	}

	std::string stored_language() const
	{
		return read_file(env->module_config_dir() + "/language.txt").value_or("");
	}

	LogCapture log;
	std::mutex devices_lock;
	std::string devices;
	std::unique_ptr<FakeAdbServer> adb;
	std::unique_ptr<ObsEnv> env;
	obs_module_t *module = nullptr;
	std::vector<obs_source_t *> sources;
	LocaleFile en = read_shipped_locale("en-US");
};

} // namespace

TEST_F(PanelTest, WithoutAnInstanceEverythingIsShownInItsOrderAndKind)
{
	Properties props = panel_without_instance();
	ASSERT_TRUE(props);
	EXPECT_EQ(names(props.get()), panel_without_camera);
	EXPECT_EQ(kinds(props.get()),
		  (std::vector<obs_property_type>{OBS_PROPERTY_LIST, OBS_PROPERTY_LIST, OBS_PROPERTY_BUTTON,
						  OBS_PROPERTY_TEXT, OBS_PROPERTY_INT, OBS_PROPERTY_BOOL,
						  OBS_PROPERTY_BOOL, OBS_PROPERTY_TEXT, OBS_PROPERTY_BUTTON,
						  OBS_PROPERTY_TEXT, OBS_PROPERTY_LIST}));

	expect_int_list(obs_properties_get(props.get(), SETTING_CONN_MODE),
			{{en.text("ModeUSB"), 0}, {en.text("ModeWiFi"), 1}});

	for (const char *list : {"device", "ui_lang"}) {
		obs_property_t *p = obs_properties_get(props.get(), list);
		EXPECT_EQ(obs_property_list_type(p), OBS_COMBO_TYPE_LIST) << list;
		EXPECT_EQ(obs_property_list_format(p), OBS_COMBO_FORMAT_STRING) << list;
	}
	EXPECT_EQ(obs_property_text_type(obs_properties_get(props.get(), SETTING_HOST)), OBS_TEXT_DEFAULT);
	EXPECT_EQ(obs_property_text_type(obs_properties_get(props.get(), "status")), OBS_TEXT_INFO);
	EXPECT_EQ(obs_property_text_type(obs_properties_get(props.get(), "camera_hint")), OBS_TEXT_INFO);

	obs_property_t *port = obs_properties_get(props.get(), SETTING_PORT);
	EXPECT_EQ(obs_property_int_type(port), OBS_NUMBER_SCROLLER);
	EXPECT_EQ(obs_property_int_min(port), 1024);
	EXPECT_EQ(obs_property_int_max(port), 65535);
	EXPECT_EQ(obs_property_int_step(port), 1);

	/* No instance: the status is idle. libobs runs the modified callbacks
	 * with the type's defaults, so the panel takes the USB shape. */
	EXPECT_TRUE(visible(props.get(), "device"));
	EXPECT_TRUE(visible(props.get(), "refresh"));
	EXPECT_FALSE(visible(props.get(), "host"));
	for (const char *name :
	     {"conn_mode", "port", "enabled", "smooth_sync", "status", "refresh_status", "camera_hint", "ui_lang"})
		EXPECT_TRUE(visible(props.get(), name)) << name;
	EXPECT_EQ(label(props.get(), "conn_mode"), en.text("ConnMode"));
	EXPECT_EQ(label(props.get(), "device"), en.text("Device"));
	EXPECT_EQ(label(props.get(), "refresh"), en.text("Rescan"));
	EXPECT_EQ(label(props.get(), "host"), en.text("Host"));
	EXPECT_EQ(label(props.get(), "port"), en.text("PortUSB"));
	EXPECT_EQ(label(props.get(), "enabled"), en.text("Enabled"));
	EXPECT_EQ(label(props.get(), "smooth_sync"), en.text("SmoothSync"));
	EXPECT_EQ(obs_property_long_description(obs_properties_get(props.get(), SETTING_SMOOTH_SYNC)),
		  en.text("SmoothSyncHint"));
	EXPECT_EQ(label(props.get(), "status"), en.text("StatusIdle"));
	EXPECT_EQ(label(props.get(), "refresh_status"), en.text("RefreshStatus"));
	EXPECT_EQ(label(props.get(), "camera_hint"), en.text("CameraHint"));
	EXPECT_EQ(label(props.get(), "ui_lang"), en.text("Language"));
	EXPECT_EQ(obs_property_long_description(obs_properties_get(props.get(), SETTING_UI_LANG)),
		  en.text("LanguageHint"));
}

TEST_F(PanelTest, LanguageListOffersFollowObsThenEveryLanguageOfTheModule)
{
	Properties props = panel_without_instance();
	auto langs = symbol<const LanguageEntry *>("nx_langs");
	auto count = symbol<const int *>("nx_lang_count");
	ASSERT_TRUE(langs && count);
	ASSERT_EQ(*count, 7);

	auto items = list_items(obs_properties_get(props.get(), SETTING_UI_LANG));
	ASSERT_EQ(items.size(), 8u);
	EXPECT_EQ(items[0].name, en.text("LanguageAuto"));
	EXPECT_EQ(items[0].text_value, "");
	for (int i = 0; i < 7; i++) {
		SCOPED_TRACE(langs[i].code);
		EXPECT_EQ(items[i + 1].name, std::string(langs[i].flag) + " " + langs[i].name);
		EXPECT_EQ(items[i + 1].text_value, langs[i].code);
		EXPECT_TRUE(
			std::filesystem::exists(std::string(OSTRELIN_DATA_DIR) + "/locale/" + langs[i].code + ".ini"));
	}
	EXPECT_EQ(items[1].text_value, "zh-TW");
	EXPECT_EQ(items[1].name, "🇹🇼 繁體中文");
}

/* The list shows what the last scan found, at once; scans run in the
 * background, and a panel whose list they change is asked to rebuild. */
TEST_F(PanelTest, DeviceListComesFromBackgroundScans)
{
	set_devices("R58M123\tdevice\n");
	Properties first = panel_without_instance();
	EXPECT_EQ(list_items(obs_properties_get(first.get(), SETTING_DEVICE)).size(), 1u); /* nothing scanned yet */
	ASSERT_TRUE(adb->wait_for_request("host:devices", 3000));
	std::vector<ListItem> items;
	ASSERT_TRUE(wait_until(
		[&] {
			items = list_items(obs_properties_get(panel_without_instance().get(), "device"));
			return items.size() == 2;
		},
		3000ms));
	EXPECT_EQ(items[0].name, en.text("DeviceAuto"));
	EXPECT_EQ(items[0].text_value, "");
	EXPECT_EQ(items[1].name, "R58M123 (device)");
	EXPECT_EQ(items[1].text_value, "R58M123");

	obs_source_t *source = create_wifi(1, false);
	RefreshCounter refreshes(source);
	Properties props = panel(source);
	set_devices("R58M123\tdevice\nemulator-5554\tunauthorized\n");
	obs_property_t *rescan = obs_properties_get(props.get(), "refresh");
	EXPECT_TRUE(obs_property_button_clicked(rescan, nullptr));
	ASSERT_TRUE(wait_until([&] { return refreshes.count() == 1; }, 3000ms));
	items = list_items(obs_properties_get(panel(source).get(), "device"));
	ASSERT_EQ(items.size(), 3u);
	EXPECT_EQ(items[2].name, "emulator-5554 (unauthorized)");
	EXPECT_EQ(items[2].text_value, "emulator-5554");

	/* The same answer again changes nothing to show. */
	EXPECT_TRUE(obs_property_button_clicked(rescan, nullptr));
	ASSERT_TRUE(wait_until([&] { return adb->requests().size() == 3; }, 3000ms));

	/* No adb server: only the automatic entry, and no message. */
	adb->stop();
	EXPECT_TRUE(obs_property_button_clicked(rescan, nullptr));
	ASSERT_TRUE(wait_until([&] { return refreshes.count() == 2; }, 3000ms));
	EXPECT_EQ(list_items(obs_properties_get(panel(source).get(), "device")).size(), 1u);
	for (const LogLine &line : log.plugin_lines())
		EXPECT_EQ(line.text.find("adb"), std::string::npos) << line.text;
}

TEST_F(PanelTest, ConnectionModeDecidesWhatIsShown)
{
	/* USB mode: the forward goes to the stand-in adb server, the connect to
	 * a port where nothing listens. */
	obs_source_t *usb = create([](obs_data_t *s) { obs_data_set_int(s, SETTING_PORT, 1); });
	ASSERT_NE(usb, nullptr);
	Properties props = panel(usb);
	EXPECT_EQ(names(props.get()), panel_without_camera);
	EXPECT_TRUE(visible(props.get(), "device"));
	EXPECT_TRUE(visible(props.get(), "refresh"));
	EXPECT_FALSE(visible(props.get(), "host"));
	EXPECT_TRUE(visible(props.get(), "port"));
	EXPECT_EQ(label(props.get(), "port"), en.text("PortUSB"));

	/* The user picks Wi-Fi. */
	Settings settings = settings_of(usb);
	obs_data_set_int(settings.get(), "conn_mode", 1);
	obs_property_t *mode = obs_properties_get(props.get(), SETTING_CONN_MODE);
	EXPECT_TRUE(obs_property_modified(mode, settings.get()));
	EXPECT_FALSE(obs_data_get_bool(settings.get(), "use_adb"));
	EXPECT_FALSE(visible(props.get(), "device"));
	EXPECT_FALSE(visible(props.get(), "refresh"));
	EXPECT_TRUE(visible(props.get(), "host"));
	EXPECT_TRUE(visible(props.get(), "port"));
	EXPECT_EQ(label(props.get(), "port"), en.text("PortWiFi"));

	/* And back. */
	obs_data_set_int(settings.get(), "conn_mode", 0);
	EXPECT_TRUE(obs_property_modified(mode, settings.get()));
	EXPECT_TRUE(obs_data_get_bool(settings.get(), "use_adb"));
	EXPECT_TRUE(visible(props.get(), "device"));
	EXPECT_FALSE(visible(props.get(), "host"));
	EXPECT_EQ(label(props.get(), "port"), en.text("PortUSB"));

	/* A panel built for a Wi-Fi source starts in Wi-Fi's shape. */
	obs_source_t *wifi = create_wifi(1);
	Properties wifi_props = panel(wifi);
	EXPECT_FALSE(visible(wifi_props.get(), "device"));
	EXPECT_FALSE(visible(wifi_props.get(), "refresh"));
	EXPECT_TRUE(visible(wifi_props.get(), "host"));
	EXPECT_EQ(label(wifi_props.get(), "port"), en.text("PortWiFi"));
	/* The list shows the language in force: none chosen, OBS's. */
	Settings wifi_settings = settings_of(wifi);
	EXPECT_TRUE(obs_data_has_user_value(wifi_settings.get(), "ui_lang"));
	EXPECT_STREQ(obs_data_get_string(wifi_settings.get(), "ui_lang"), "");
}

/* An open panel is asked to rebuild when the stream connects, when the
 * phone announces its capabilities and when it leaves; never for a
 * statistics window alone. */
TEST_F(PanelTest, PanelIsAskedToRebuildWhenTheConnectionChanges)
{
	auto sender = std::make_unique<Sender>();
	ASSERT_NE(sender->port(), 0);
	obs_source_t *source = create_wifi(sender->port(), false);
	RefreshCounter refreshes(source);
	EXPECT_EQ(names(panel(source).get()), panel_without_camera);

	Settings enable(obs_data_create());
	obs_data_set_bool(enable.get(), "enabled", true);
	update_source(source, enable.get());
	ASSERT_TRUE(wait_for_caps());
	ASSERT_TRUE(wait_until([&] { return refreshes.count() == 2; }, 3000ms)); /* connected, capabilities */
	Properties rebuilt = panel(source);
	EXPECT_NE(obs_properties_get(rebuilt.get(), "camera"), nullptr);
	EXPECT_TRUE(std::regex_search(label(rebuilt.get(), "status"), format_pattern(en.text("StatusOn"))));

	auto stats_logged = [&] {
		for (const LogLine &line : log.plugin_lines()) {
			if (line.text.find(" fps, ") != std::string::npos)
				return true;
		}
		return false;
	};
	ASSERT_TRUE(wait_until(stats_logged, 8000ms));
	EXPECT_EQ(refreshes.count(), 2);

	sender.reset(); /* the phone goes away */
	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_DISCONNECTED), 1, 5000ms));
	EXPECT_TRUE(wait_until([&] { return refreshes.count() == 3; }, 3000ms));
	EXPECT_EQ(label(panel(source).get(), "status"), en.text("StatusOff"));
}

TEST_F(PanelTest, StatusFollowsTheSourceAndTheButtonRefreshesIt)
{
	obs_source_t *disabled = create_wifi(1, false);
	EXPECT_EQ(label(panel(disabled).get(), "status"), en.text("StatusDisabled"));

	/* A port no system has (set from a scene file, say): nothing connects,
	 * and the status says why. */
	obs_source_t *refused = create_wifi(1);
	Settings far(obs_data_create());
	obs_data_set_int(far.get(), "port", 70000);
	update_source(refused, far.get());
	ASSERT_TRUE(log.wait_for(LOG_WARNING, plugin_line(LOGTEXT_PORT_OUT_OF_RANGE, 70000LL), 5000ms));
	EXPECT_EQ(label(panel(refused).get(), "status"), format(en.text("StatusBadPort"), 70000LL));

	obs_source_t *waiting = create_wifi(1);
	ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_UNREACHABLE), 1, 5000ms));
	EXPECT_EQ(label(panel(waiting).get(), "status"), en.text("StatusOff"));

	Sender sender({"--width", "320", "--height", "180", "--fps", "15"});
	ASSERT_NE(sender.port(), 0);
	obs_source_t *source = create_wifi(sender.port(), false);
	Properties props = panel(source);
	EXPECT_EQ(label(props.get(), "status"), en.text("StatusDisabled"));

	SourceInstance *inst = instance(source);
	Settings enable(obs_data_create());
	obs_data_set_bool(enable.get(), "enabled", true);
	update_source(source, enable.get());
	ASSERT_TRUE(sender.wait_for_line("connected"));
	/* Until the receiver has measured a rate, the numbers say little. */
	ASSERT_TRUE(wait_until([&] { return inst->status.stat_fps > 0 && inst->status.frames_decoded > 15; }, 10000ms));

	/* The status is a snapshot: the panel shows the old one until asked. */
	EXPECT_EQ(label(props.get(), "status"), en.text("StatusDisabled"));
	int fps_before = inst->status.stat_fps, kbps_before = inst->status.stat_kbps;
	uint64_t frames_before = inst->status.frames_decoded;
	EXPECT_TRUE(obs_property_button_clicked(obs_properties_get(props.get(), "refresh_status"), source));
	uint64_t frames_after = inst->status.frames_decoded;
	int fps_after = inst->status.stat_fps, kbps_after = inst->status.stat_kbps;
	std::string status = label(props.get(), "status");

	std::string on = format(en.text("StatusOn"), "H.264", 320u, 180u, 15u);
	ASSERT_EQ(status.substr(0, on.size()), on) << status;
	std::string stats = status.substr(on.size());
	std::smatch numbers;
	ASSERT_TRUE(std::regex_match(stats, numbers, format_pattern(en.text("StatusStats")))) << stats;
	int fps = std::stoi(numbers[1]);
	double mbps = std::stod(numbers[2]);
	unsigned long long frames = std::stoull(numbers[3]);
	/* Put back together from its numbers, the line is exactly the format's. */
	EXPECT_EQ(stats, format(en.text("StatusStats"), fps, mbps, frames));
	EXPECT_GE(frames, frames_before);
	EXPECT_LE(frames, frames_after);
	EXPECT_TRUE(fps == fps_before || fps == fps_after) << fps;
	EXPECT_TRUE(std::abs(mbps - kbps_before / 1000.0) <= 0.05 || std::abs(mbps - kbps_after / 1000.0) <= 0.05)
		<< mbps << " Mbps, " << kbps_before << " kbit/s";
	EXPECT_GT(kbps_after, 0);
}

/* "Smooth and in sync" is no connection setting: switched either way on a
 * live stream, the same connection goes on, and while it is on the status
 * line ends in the current delay. */
TEST_F(PanelTest, SmoothSyncSwitchesLiveAndTheStatusShowsItsDelay)
{
	Sender sender({"--width", "320", "--height", "180", "--fps", "15"});
	obs_source_t *source = create_streaming(sender);
	ASSERT_NE(source, nullptr);
	SourceInstance *inst = instance(source);
	ASSERT_TRUE(wait_until([&] { return inst->status.frames_decoded > 5; }, 10000ms));
	Properties props = panel(source);
	obs_property_t *refresh = obs_properties_get(props.get(), "refresh_status");
	std::string sync_text = en.text("StatusSyncDelay");
	std::string sync_head = sync_text.substr(0, sync_text.find('%'));
	auto status = [&] {
		obs_property_button_clicked(refresh, source);
		return label(props.get(), "status");
	};
	EXPECT_EQ(status().find(sync_head), std::string::npos);

	Settings on(obs_data_create());
	obs_data_set_bool(on.get(), "smooth_sync", true);
	update_source(source, on.get());
	ASSERT_TRUE(log.wait_for(LOG_INFO, plugin_line(LOGTEXT_SMOOTH_ON), 5000ms));
	uint64_t frames = inst->status.frames_decoded;
	ASSERT_TRUE(wait_until([&] { return inst->status.frames_decoded > frames + 5; }, 10000ms));
	std::string text = status();
	size_t at = text.find(sync_head);
	ASSERT_NE(at, std::string::npos) << text;
	int delay_ms = std::stoi(text.substr(at + sync_head.size()));
	EXPECT_EQ(text.substr(at), format(sync_text, delay_ms));
	EXPECT_GE(delay_ms, 0);
	EXPECT_LE(delay_ms, 500);

	Settings off(obs_data_create());
	obs_data_set_bool(off.get(), "smooth_sync", false);
	update_source(source, off.get());
	ASSERT_TRUE(log.wait_for(LOG_INFO, plugin_line(LOGTEXT_SMOOTH_OFF), 5000ms));
	frames = inst->status.frames_decoded;
	ASSERT_TRUE(wait_until([&] { return inst->status.frames_decoded > frames + 5; }, 10000ms));
	EXPECT_EQ(status().find(sync_head), std::string::npos);
	EXPECT_EQ(log.count_prefix(plugin_line_head(LOGTEXT_STREAM_CONNECTED)), 1u);
}

TEST_F(PanelTest, CameraGroupHoldsWhatThePhoneAdvertised)
{
	Sender sender({"--caps-flags", "0x0F", "--zoom-min", "1000", "--zoom-max", "8000", "--ev-min", "-12",
		       "--ev-max", "12", "--ev-step", "333333", "--awb", "1,5,42"});
	obs_source_t *source = create_streaming(sender);
	ASSERT_NE(source, nullptr);
	ASSERT_TRUE(wait_for_caps());

	Properties props = panel(source);
	std::vector<std::string> expected = panel_without_camera;
	expected[9] = "camera";
	EXPECT_EQ(names(props.get()), expected);
	obs_property_t *camera = obs_properties_get(props.get(), "camera");
	ASSERT_EQ(obs_property_get_type(camera), OBS_PROPERTY_GROUP);
	EXPECT_EQ(obs_property_group_type(camera), OBS_GROUP_NORMAL);
	EXPECT_EQ(label(props.get(), "camera"), en.text("CameraGroup"));

	obs_properties_t *group = obs_property_group_content(camera);
	EXPECT_EQ(names(group), (std::vector<std::string>{"zoom", "ev", "torch", "ae_lock", "awb"}));
	EXPECT_EQ(kinds(group), (std::vector<obs_property_type>{OBS_PROPERTY_FLOAT, OBS_PROPERTY_INT, OBS_PROPERTY_BOOL,
								OBS_PROPERTY_BOOL, OBS_PROPERTY_LIST}));

	obs_property_t *zoom = obs_properties_get(group, "zoom");
	EXPECT_EQ(obs_property_float_type(zoom), OBS_NUMBER_SLIDER);
	EXPECT_DOUBLE_EQ(obs_property_float_min(zoom), 1.0);
	EXPECT_DOUBLE_EQ(obs_property_float_max(zoom), 8.0);
	EXPECT_DOUBLE_EQ(obs_property_float_step(zoom), 0.1);
	EXPECT_EQ(label(group, "zoom"), en.text("Zoom"));

	obs_property_t *ev = obs_properties_get(group, "ev");
	EXPECT_EQ(obs_property_int_type(ev), OBS_NUMBER_SLIDER);
	EXPECT_EQ(obs_property_int_min(ev), -12);
	EXPECT_EQ(obs_property_int_max(ev), 12);
	EXPECT_EQ(obs_property_int_step(ev), 1);
	EXPECT_EQ(label(group, "ev"), format(en.text("ExposureStep"), 0.333333));
	EXPECT_NE(label(group, "ev").find("0.333333"), std::string::npos) << label(group, "ev");

	EXPECT_EQ(label(group, "torch"), en.text("Torch"));
	EXPECT_EQ(label(group, "ae_lock"), en.text("AELock"));
	EXPECT_EQ(label(group, "awb"), en.text("AWB"));
	expect_int_list(obs_properties_get(group, "awb"),
			{{en.text("AWBAuto"), 1}, {en.text("AWBDaylight"), 5}, {format(en.text("AWBMode"), 42), 42}});
}

TEST_F(PanelTest, CameraGroupHoldsOnlyTheAdvertisedControls)
{
	struct Case {
		const char *flags;
		const char *awb;
		std::vector<std::string> members;
	} cases[] = {
		{"0x0A", "", {"ev", "ae_lock"}},
		{"0x05", "0,8,-1", {"zoom", "torch", "awb"}},
		{"0x00", "", {}},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.flags);
		log.clear();
		Sender sender({"--caps-flags", c.flags, "--awb", c.awb});
		obs_source_t *source = create_streaming(sender);
		ASSERT_NE(source, nullptr);
		ASSERT_TRUE(wait_for_caps());
		Properties props = panel(source);
		obs_property_t *camera = obs_properties_get(props.get(), "camera");
		ASSERT_NE(camera, nullptr);
		EXPECT_EQ(obs_properties_get(props.get(), "camera_hint"), nullptr);
		EXPECT_EQ(names(obs_property_group_content(camera)), c.members);
		if (std::string(c.awb) == "0,8,-1") {
			auto modes = list_items(obs_properties_get(props.get(), "awb"));
			ASSERT_EQ(modes.size(), 3u);
			EXPECT_EQ(modes[0].name, en.text("AWBOff"));
			EXPECT_EQ(modes[1].name, en.text("AWBShade"));
			EXPECT_EQ(modes[2].name, format(en.text("AWBMode"), -1));
			EXPECT_EQ(modes[2].int_value, -1);
		}
		std::erase(sources, source);
		release_source(source);
	}
}

TEST_F(PanelTest, CameraHintUntilThePhoneSentItsCapabilities)
{
	Sender sender({"--no-caps"});
	obs_source_t *source = create_streaming(sender);
	ASSERT_NE(source, nullptr);
	ASSERT_TRUE(wait_until([&] { return instance(source)->status.frames_decoded > 0; }, 5000ms));
	Properties props = panel(source);
	EXPECT_EQ(names(props.get()), panel_without_camera);
	EXPECT_EQ(label(props.get(), "camera_hint"), en.text("CameraHint"));
	EXPECT_EQ(obs_properties_get(props.get(), "zoom"), nullptr);
}

TEST_F(PanelTest, PickedLanguageRelabelsThePanelInPlaceAndIsRemembered)
{
	Sender sender({"--ev-step", "333333"});
	obs_source_t *source = create_streaming(sender);
	ASSERT_NE(source, nullptr);
	ASSERT_TRUE(wait_for_caps());
	Properties props = panel(source);
	Settings settings = settings_of(source);
	ASSERT_EQ(lang_get(), "");

	auto expect_labels = [&](const LocaleFile &t) {
		SCOPED_TRACE(t.code);
		EXPECT_EQ(label(props.get(), "conn_mode"), t.text("ConnMode"));
		EXPECT_EQ(label(props.get(), "device"), t.text("Device"));
		EXPECT_EQ(label(props.get(), "refresh"), t.text("Rescan"));
		EXPECT_EQ(label(props.get(), "host"), t.text("Host"));
		EXPECT_EQ(label(props.get(), "port"), t.text("PortWiFi"));
		EXPECT_EQ(label(props.get(), "enabled"), t.text("Enabled"));
		EXPECT_EQ(label(props.get(), "smooth_sync"), t.text("SmoothSync"));
		EXPECT_EQ(obs_property_long_description(obs_properties_get(props.get(), SETTING_SMOOTH_SYNC)),
			  t.text("SmoothSyncHint"));
		EXPECT_EQ(label(props.get(), "refresh_status"), t.text("RefreshStatus"));
		EXPECT_EQ(label(props.get(), "camera"), t.text("CameraGroup"));
		EXPECT_EQ(label(props.get(), "zoom"), t.text("Zoom"));
		EXPECT_EQ(label(props.get(), "ev"), format(t.text("ExposureStep"), 0.333333));
		EXPECT_EQ(label(props.get(), "torch"), t.text("Torch"));
		EXPECT_EQ(label(props.get(), "ae_lock"), t.text("AELock"));
		EXPECT_EQ(label(props.get(), "awb"), t.text("AWB"));
		EXPECT_EQ(label(props.get(), "ui_lang"), t.text("Language"));
		EXPECT_EQ(obs_property_long_description(obs_properties_get(props.get(), SETTING_UI_LANG)),
			  t.text("LanguageHint"));
		std::string on = format(t.text("StatusOn"), "H.264", 640u, 360u, 30u);
		EXPECT_EQ(label(props.get(), "status").substr(0, on.size()), on);
	};

	LocaleFile zh_tw = read_shipped_locale("zh-TW");
	EXPECT_TRUE(pick_language(props.get(), settings.get(), "zh-TW"));
	expect_labels(zh_tw);
	EXPECT_EQ(stored_language(), "zh-TW");

	LocaleFile ja_jp = read_shipped_locale("ja-JP");
	EXPECT_TRUE(pick_language(props.get(), settings.get(), "ja-JP"));
	expect_labels(ja_jp);
	EXPECT_EQ(stored_language(), "ja-JP");
	EXPECT_EQ(lang_get(), "ja-JP");
	/* List entries keep their language until the panel is built again. */
	EXPECT_EQ(list_items(obs_properties_get(props.get(), SETTING_CONN_MODE))[0].name, en.text("ModeUSB"));

	/* The language in force again: nothing to do. */
	EXPECT_FALSE(pick_language(props.get(), settings.get(), "ja-JP"));
	expect_labels(ja_jp);

	Properties rebuilt = panel(source);
	EXPECT_EQ(list_items(obs_properties_get(rebuilt.get(), SETTING_CONN_MODE))[1].name, ja_jp.text("ModeWiFi"));
	EXPECT_EQ(list_items(obs_properties_get(rebuilt.get(), SETTING_UI_LANG))[0].name, ja_jp.text("LanguageAuto"));
	EXPECT_EQ(list_items(obs_properties_get(rebuilt.get(), "awb"))[0].name, ja_jp.text("AWBAuto"));
	Settings after = settings_of(source);
	EXPECT_STREQ(obs_data_get_string(after.get(), "ui_lang"), "ja-JP");

	/* The next start of OBS reads the choice back. */
	std::string stored = stored_language();
	rebuilt.reset();
	props.reset();
	settings.reset();
	after.reset();
	stop();
	log.clear();
	env = std::make_unique<ObsEnv>();
	std::filesystem::create_directories(env->module_config_dir());
	std::ofstream(env->module_config_dir() + "/language.txt", std::ios::binary) << stored;
	module = env->load_module();
	ASSERT_NE(module, nullptr);
	EXPECT_TRUE(log.contains(LOG_INFO, plugin_line(LOGTEXT_LANGUAGE, "ja-JP")));
	EXPECT_EQ(lang_get(), "ja-JP");
	Properties fresh = panel_without_instance();
	EXPECT_EQ(label(fresh.get(), "port"), ja_jp.text("PortUSB"));
	EXPECT_EQ(label(fresh.get(), "status"), ja_jp.text("StatusIdle"));
	EXPECT_EQ(label(fresh.get(), "camera_hint"), ja_jp.text("CameraHint"));
	EXPECT_EQ(list_items(obs_properties_get(fresh.get(), SETTING_DEVICE))[0].name, ja_jp.text("DeviceAuto"));
}

TEST_F(PanelTest, FollowObsAgainAfterAChoice)
{
	Properties props = panel_without_instance();
	Settings settings(obs_data_create());
	EXPECT_TRUE(pick_language(props.get(), settings.get(), "ko-KR"));
	LocaleFile ko_kr = read_shipped_locale("ko-KR");
	EXPECT_EQ(label(props.get(), "conn_mode"), ko_kr.text("ConnMode"));
	EXPECT_EQ(label(props.get(), "status"), ko_kr.text("StatusIdle"));
	EXPECT_EQ(stored_language(), "ko-KR");

	EXPECT_TRUE(pick_language(props.get(), settings.get(), ""));
	EXPECT_EQ(lang_get(), "");
	EXPECT_EQ(stored_language(), "");
	EXPECT_EQ(label(props.get(), "conn_mode"), en.text("ConnMode"));
	EXPECT_EQ(label(props.get(), "status"), en.text("StatusIdle"));
	EXPECT_EQ(label(props.get(), "camera_hint"), en.text("CameraHint"));
}

/* libobs builds a panel without a source (obs_get_source_properties) by
 * running the modified callbacks with the type's defaults, which hold no
 * "ui_lang": that must not undo the language the user chose. */
TEST_F(PanelTest, APanelWithoutASourceKeepsTheChosenLanguage)
{
	Properties props = panel_without_instance();
	Settings settings(obs_data_create());
	ASSERT_TRUE(pick_language(props.get(), settings.get(), "ja-JP"));
	ASSERT_EQ(stored_language(), "ja-JP");

	LocaleFile ja_jp = read_shipped_locale("ja-JP");
	Properties again = panel_without_instance();
	EXPECT_EQ(lang_get(), "ja-JP");
	EXPECT_EQ(stored_language(), "ja-JP");
	EXPECT_EQ(label(again.get(), "conn_mode"), ja_jp.text("ConnMode"));
	EXPECT_EQ(label(again.get(), "status"), ja_jp.text("StatusIdle"));
}
