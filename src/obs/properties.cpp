#include "obs/properties.h"
#include "adb/adb-background.h"
#include "protocol/camera-controls.h"
#include "obs/i18n.h"
#include "obs/lifecycle.h"
#include "obs/settings.h"
#include "obs/source-instance.h"

#include <util/bmem.h>

#include <cstdio>
#include <cstring>

struct LabelPair {
	const char *property;
	const char *text_key;
};

/* Followed by the camera controls' labels, from their table. */
static const LabelPair relabel_table[] = {
	{SETTING_CONN_MODE, "ConnMode"}, {SETTING_DEVICE, "Device"},
	{"refresh", "Rescan"},           {SETTING_HOST, "Host"},
	{SETTING_ENABLED, "Enabled"},    {"refresh_status", "RefreshStatus"},
	{SETTING_UI_LANG, "Language"},   {"camera", "CameraGroup"},
	{"camera_hint", "CameraHint"},   {SETTING_SMOOTH_SYNC, "SmoothSync"},
};

static const char *const awb_text_keys[] = {
	"AWBOff",      "AWBAuto",   "AWBIncandescent", "AWBFluorescent", "AWBWarmFluorescent",
	"AWBDaylight", "AWBCloudy", "AWBTwilight",     "AWBShade",
};

/* The locale files are checked to hold exactly the conversions passed here. */
#ifdef __GNUC__
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif

static SourceInstance *instance_of(obs_properties_t *props)
{
	return static_cast<SourceInstance *>(obs_properties_get_param(props));
}

void status_text(const SourceInstance *inst, char out[STATUS_TEXT_SIZE])
{
	if (!inst) {
		snprintf(out, STATUS_TEXT_SIZE, "%s", nx_text("StatusIdle"));
	} else if (!inst->enabled) {
		snprintf(out, STATUS_TEXT_SIZE, "%s", nx_text("StatusDisabled"));
	} else if (inst->refused_port) {
		snprintf(out, STATUS_TEXT_SIZE, nx_text("StatusBadPort"), inst->refused_port.load());
	} else if (!inst->status.connected && inst->status.app_not_listening) {
		snprintf(out, STATUS_TEXT_SIZE, "%s", nx_text("StatusAppNotListening"));
	} else if (!inst->status.connected) {
		snprintf(out, STATUS_TEXT_SIZE, "%s", nx_text("StatusOff"));
	} else {
		const StreamStatus *status = &inst->status;
		char on[192];
		char stats[128];
		char sync[96] = "";
		snprintf(on, sizeof(on), nx_text("StatusOn"), stream_codec_name(status->stream_codec),
			 status->width.load(), status->height.load(), status->stream_fps.load());
		snprintf(stats, sizeof(stats), nx_text("StatusStats"), status->stat_fps.load(),
			 status->stat_kbps.load() / 1000.0, (unsigned long long)status->frames_decoded.load());
		int32_t delay_ms = status->smooth_delay_ms;
		if (inst->smooth_sync && delay_ms >= 0)
			snprintf(sync, sizeof(sync), nx_text("StatusSyncDelay"), (int)delay_ms);
		snprintf(out, STATUS_TEXT_SIZE, "%s%s%s", on, stats, sync);
	}
}

static const CameraControlRow &control_row(ControlWidget widget)
{
	for (const CameraControlRow &row : camera_controls) {
		if (row.widget == widget)
			return row;
	}
	return camera_controls[0];
}

static void exposure_label(const CameraCaps &caps, char out[64])
{
	snprintf(out, 64, nx_text(control_row(ControlWidget::exposure_slider).text_key), caps.ev_step / 1000000.0);
}

static bool conn_mode_changed(obs_properties_t *props, obs_property_t *, obs_data_t *settings)
{
	bool usb = settings_want_usb(settings);
	obs_data_set_bool(settings, SETTING_USE_ADB, usb);

	obs_property_set_visible(obs_properties_get(props, SETTING_HOST), !usb);
	obs_property_set_visible(obs_properties_get(props, SETTING_DEVICE), usb);
	obs_property_set_visible(obs_properties_get(props, "refresh"), usb);
	obs_property_t *port = obs_properties_get(props, SETTING_PORT);
	obs_property_set_visible(port, true);
	obs_property_set_description(port, nx_text(usb ? "PortUSB" : "PortWiFi"));
	return true;
}

/* Fills the device list with the last known devices; returns whether a scan
 * has ended since the module was loaded. */
static bool fill_devices(obs_properties_t *props)
{
	obs_property_t *list = obs_properties_get(props, SETTING_DEVICE);
	obs_property_list_clear(list);
	obs_property_list_add_string(list, nx_text("DeviceAuto"), "");

	AdbDevice devices[ADB_MAX_DEVICES];
	bool scanned = false;
	int count = adb_background_devices(devices, &scanned);
	for (int i = 0; i < count; i++) {
		char label[192];
		snprintf(label, sizeof(label), "%.127s (%.31s)", devices[i].serial, devices[i].state);
		obs_property_list_add_string(list, label, devices[i].serial);
	}
	return scanned;
}

/* The end of a scan a panel asked for, on the adb worker: the panel of the
 * source (held weakly) is rebuilt when the list changed. */
static void scan_done(void *weak_source, bool changed)
{
	auto *weak = static_cast<obs_weak_source_t *>(weak_source);
	obs_source_t *source = changed ? obs_weak_source_get_source(weak) : nullptr;
	if (source) {
		obs_source_update_properties(source);
		obs_source_release(source);
	}
	obs_weak_source_release(weak);
}

/* A scan whose end rebuilds the panel of the instance's source (none
 * without a source). */
static void scan_for_panel(const SourceInstance *inst, bool unless_known)
{
	obs_source_t *source = inst ? inst->source : nullptr;
	if (source)
		adb_background_scan(unless_known, scan_done, obs_source_get_weak_source(source));
	else
		adb_background_scan(unless_known, nullptr, nullptr);
}

/* Rescan: the adb server is asked in the background; the panel is rebuilt
 * when its answer changes the list. */
static bool refresh_devices(obs_properties_t *props, obs_property_t *, void *)
{
	scan_for_panel(instance_of(props), false);
	fill_devices(props);
	return true;
}

static bool refresh_status_cb(obs_properties_t *props, obs_property_t *, void *)
{
	obs_property_t *status = obs_properties_get(props, "status");
	if (!status)
		return false;
	char text[STATUS_TEXT_SIZE];
	status_text(instance_of(props), text);
	obs_property_set_description(status, text);
	return true;
}

static void set_label(obs_properties_t *props, const char *property, const char *text)
{
	obs_property_t *prop = obs_properties_get(props, property);
	if (prop)
		obs_property_set_description(prop, text);
}

static void relabel(obs_properties_t *props, obs_data_t *settings)
{
	SourceInstance *inst = instance_of(props);
	for (const LabelPair &pair : relabel_table)
		set_label(props, pair.property, nx_text(pair.text_key));

	CameraCaps caps = inst ? status_caps(&inst->status) : CameraCaps{};
	for (const CameraControlRow &row : camera_controls) {
		if (row.widget != ControlWidget::exposure_slider) {
			set_label(props, row.key, nx_text(row.text_key));
		} else if (caps.valid && camera_control_announced(row, caps)) {
			char label[64];
			exposure_label(caps, label);
			set_label(props, row.key, label);
		}
	}

	refresh_status_cb(props, nullptr, nullptr);
	obs_property_set_long_description(obs_properties_get(props, SETTING_UI_LANG), nx_text("LanguageHint"));
	obs_property_set_long_description(obs_properties_get(props, SETTING_SMOOTH_SYNC), nx_text("SmoothSyncHint"));
	if (settings)
		conn_mode_changed(props, nullptr, settings);
}

static bool lang_changed(obs_properties_t *props, obs_property_t *, obs_data_t *settings)
{
	/* libobs also runs this with the type's defaults, which hold no
	 * "ui_lang", when it builds a panel without a source: no value is no
	 * choice, not a switch back to OBS's language. */
	if (!obs_data_has_user_value(settings, SETTING_UI_LANG))
		return false;
	const char *code = obs_data_get_string(settings, SETTING_UI_LANG);
	if (!code || strcmp(code, nx_lang_get()) == 0)
		return false;
	nx_lang_set(code);
	relabel(props, settings);
	return true;
}

static void add_connection_properties(obs_properties_t *props, SourceInstance *inst)
{
	obs_property_t *mode = obs_properties_add_list(props, SETTING_CONN_MODE, nx_text("ConnMode"),
						       OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
	obs_property_list_add_int(mode, nx_text("ModeUSB"), (long long)ConnMode::usb);
	obs_property_list_add_int(mode, nx_text("ModeWiFi"), (long long)ConnMode::wifi);
	obs_property_set_modified_callback(mode, conn_mode_changed);

	obs_properties_add_list(props, SETTING_DEVICE, nx_text("Device"), OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
	if (!fill_devices(props))
		scan_for_panel(inst, true);
	obs_properties_add_button2(props, "refresh", nx_text("Rescan"), refresh_devices, nullptr);

	obs_properties_add_text(props, SETTING_HOST, nx_text("Host"), OBS_TEXT_DEFAULT);
	obs_properties_add_int(props, SETTING_PORT, nx_text("Port"), 1024, 65535, 1);
	obs_properties_add_bool(props, SETTING_ENABLED, nx_text("Enabled"));
	obs_property_t *sync = obs_properties_add_bool(props, SETTING_SMOOTH_SYNC, nx_text("SmoothSync"));
	obs_property_set_long_description(sync, nx_text("SmoothSyncHint"));

	char status[STATUS_TEXT_SIZE];
	status_text(inst, status);
	obs_properties_add_text(props, "status", status, OBS_TEXT_INFO);
	obs_properties_add_button2(props, "refresh_status", nx_text("RefreshStatus"), refresh_status_cb, nullptr);
}

static void add_awb_list(obs_properties_t *group, const CameraControlRow &row, const CameraCaps &caps)
{
	obs_property_t *awb = obs_properties_add_list(group, row.key, nx_text(row.text_key), OBS_COMBO_TYPE_LIST,
						      OBS_COMBO_FORMAT_INT);
	for (int32_t i = 0; i < caps.awb_count && i < CAPS_MAX_AWB_MODES; i++) {
		int32_t mode = caps.awb_modes[i];
		if (mode >= 0 && mode < (int32_t)(sizeof(awb_text_keys) / sizeof(awb_text_keys[0]))) {
			obs_property_list_add_int(awb, nx_text(awb_text_keys[mode]), mode);
		} else {
			char label[32];
			snprintf(label, sizeof(label), nx_text("AWBMode"), mode);
			obs_property_list_add_int(awb, label, mode);
		}
	}
}

static void add_control(obs_properties_t *group, const CameraControlRow &row, const CameraCaps &caps)
{
	char label[64];
	switch (row.widget) {
	case ControlWidget::zoom_slider:
		obs_properties_add_float_slider(group, row.key, nx_text(row.text_key), caps.zoom_min / 1000.0,
						caps.zoom_max / 1000.0, 0.1);
		break;
	case ControlWidget::exposure_slider:
		exposure_label(caps, label);
		obs_properties_add_int_slider(group, row.key, label, caps.ev_min, caps.ev_max, 1);
		break;
	case ControlWidget::check_box:
		obs_properties_add_bool(group, row.key, nx_text(row.text_key));
		break;
	case ControlWidget::white_balance_list:
		add_awb_list(group, row, caps);
		break;
	}
}

static void add_camera_group(obs_properties_t *props, const CameraCaps &caps)
{
	obs_properties_t *group = obs_properties_create();
	for (const CameraControlRow &row : camera_controls) {
		if (camera_control_announced(row, caps))
			add_control(group, row, caps);
	}
	obs_properties_add_group(props, "camera", nx_text("CameraGroup"), OBS_GROUP_NORMAL, group);
}

static void add_language_list(obs_properties_t *props)
{
	obs_property_t *lang = obs_properties_add_list(props, SETTING_UI_LANG, nx_text("Language"), OBS_COMBO_TYPE_LIST,
						       OBS_COMBO_FORMAT_STRING);
	obs_property_list_add_string(lang, nx_text("LanguageAuto"), "");
	for (int i = 0; i < nx_lang_count; i++) {
		char label[64];
		snprintf(label, sizeof(label), "%s %s", nx_langs[i].flag, nx_langs[i].name);
		obs_property_list_add_string(lang, label, nx_langs[i].code);
	}
	obs_property_set_modified_callback(lang, lang_changed);
	obs_property_set_long_description(lang, nx_text("LanguageHint"));
}

obs_properties_t *ostrelin_properties(void *data)
{
	auto *inst = static_cast<SourceInstance *>(data);
	obs_properties_t *props = obs_properties_create();
	obs_properties_set_param(props, inst, nullptr);
	add_connection_properties(props, inst);

	if (inst) {
		obs_data_t *settings = inst->source ? obs_source_get_settings(inst->source) : nullptr;
		if (settings)
			conn_mode_changed(props, nullptr, settings);

		CameraCaps caps = status_caps(&inst->status);
		if (caps.valid)
			add_camera_group(props, caps);
		else
			obs_properties_add_text(props, "camera_hint", nx_text("CameraHint"), OBS_TEXT_INFO);

		if (settings) {
			obs_data_set_string(settings, SETTING_UI_LANG, nx_lang_get());
			obs_data_release(settings);
		}
	} else {
		obs_properties_add_text(props, "camera_hint", nx_text("CameraHint"), OBS_TEXT_INFO);
	}

	add_language_list(props);
	return props;
}
