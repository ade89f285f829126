#include "obs/lifecycle.h"
#include "adb/adb-background.h"
#include "receive/receive-loop.h"
#include "log/ostrelin-log.h"
#include "obs/settings.h"
#include "obs/source-instance.h"
#include "protocol/stream-protocol.h"
#include "receive/stream-thread.h"

#include <util/bmem.h>

#include <cstring>
#include <new>

#define PORT_MAX 65535

static const char *text_or_empty(const char *text)
{
	return text ? text : "";
}

/* The port a "port" setting asks for: 0 or less means the default; above
 * 65535 there is no such port, and the setting is refused (0). */
static int32_t effective_port(long long setting)
{
	if (setting <= 0)
		return STREAM_DEFAULT_PORT;
	return setting > PORT_MAX ? 0 : (int32_t)setting;
}

bool settings_want_usb(obs_data_t *settings)
{
	return settings_usb_mode(obs_data_has_user_value(settings, SETTING_CONN_MODE),
				 obs_data_get_int(settings, SETTING_CONN_MODE),
				 obs_data_get_bool(settings, SETTING_USE_ADB));
}

static void copy_text(char *dst, size_t size, const char *src)
{
	snprintf(dst, size, "%s", text_or_empty(src));
}

const char *ostrelin_get_name(void *)
{
	return "Ostrelin";
}

void ostrelin_defaults(obs_data_t *settings)
{
	obs_data_set_default_int(settings, SETTING_PORT, STREAM_DEFAULT_PORT);
	obs_data_set_default_string(settings, SETTING_DEVICE, "");
	obs_data_set_default_bool(settings, SETTING_USE_ADB, true);
	obs_data_set_default_int(settings, SETTING_CONN_MODE, (long long)ConnMode::usb);
	obs_data_set_default_bool(settings, SETTING_ENABLED, true);
	obs_data_set_default_bool(settings, SETTING_SMOOTH_SYNC, false);
	obs_data_set_default_string(settings, SETTING_HOST, "127.0.0.1");
	for (const CameraControlRow &row : camera_controls) {
		switch (row.setting) {
		case ControlSetting::zoom_factor:
			obs_data_set_default_double(settings, row.key, row.default_value);
			break;
		case ControlSetting::integer:
			obs_data_set_default_int(settings, row.key, (long long)row.default_value);
			break;
		case ControlSetting::boolean:
			obs_data_set_default_bool(settings, row.key, row.default_value != 0);
			break;
		}
	}
}

void *ostrelin_create(obs_data_t *settings, obs_source_t *source)
{
	void *mem = bzalloc(sizeof(SourceInstance));
	auto *inst = new (mem) SourceInstance();
	inst->source = source;
	connection_init(&inst->conn);
	inst->rx = receiver_create(source, &inst->conn, &inst->status, &inst->smooth_sync, &inst->tick);
	inst->thread_args = {inst->rx, &inst->settings, &inst->forward};
	/* The video decoder is made by the connection thread: opening it
	 * starts the decoder's own threads, which can take milliseconds. */
	obs_source_set_async_unbuffered(source, true);
	ostrelin_update(inst, settings);
	return inst;
}

void ostrelin_video_tick(void *data, float)
{
	obs_tick_note(&static_cast<SourceInstance *>(data)->tick, obs_get_video_frame_time());
}

static bool connection_unchanged(const SourceInstance *inst, obs_data_t *settings)
{
	long long port = obs_data_get_int(settings, SETTING_PORT);
	return obs_data_get_bool(settings, SETTING_ENABLED) == inst->enabled &&
	       strcmp(inst->settings.serial, text_or_empty(obs_data_get_string(settings, SETTING_DEVICE))) == 0 &&
	       strcmp(inst->settings.host, text_or_empty(obs_data_get_string(settings, SETTING_HOST))) == 0 &&
	       inst->settings.port == effective_port(port) && inst->refused_port == (effective_port(port) ? 0 : port) &&
	       inst->settings.use_adb == settings_want_usb(settings);
}

/* The key that does not lead is written to follow the one that does. */
static void apply_mode(SourceInstance *inst, obs_data_t *settings)
{
	inst->settings.use_adb = settings_want_usb(settings);
	if (obs_data_has_user_value(settings, SETTING_CONN_MODE))
		obs_data_set_bool(settings, SETTING_USE_ADB, inst->settings.use_adb);
	else
		obs_data_set_int(settings, SETTING_CONN_MODE, conn_mode_value(inst->settings.use_adb));
}

static ControlValues read_control_values(obs_data_t *settings)
{
	ControlValues values = {};
	for (size_t i = 0; i < CAMERA_CONTROL_COUNT; i++) {
		const CameraControlRow &row = camera_controls[i];
		switch (row.setting) {
		case ControlSetting::zoom_factor:
			values.value[i] = control_zoom_value(obs_data_get_double(settings, row.key));
			break;
		case ControlSetting::integer:
			values.value[i] = (int32_t)obs_data_get_int(settings, row.key);
			break;
		case ControlSetting::boolean:
			values.value[i] = obs_data_get_bool(settings, row.key) ? 1 : 0;
			break;
		}
	}
	return values;
}

void send_camera_controls(SourceInstance *inst, obs_data_t *settings)
{
	connection_want_controls(&inst->conn, read_control_values(settings));
}

/* After the thread has ended: a forward this source made that the applied
 * settings no longer use goes, in the background. */
static void drop_stale_forward(SourceInstance *inst, bool removing)
{
	const ConnectionSettings *applied = &inst->settings;
	AdbForward *forward = &inst->forward;
	if (!forward->made)
		return;
	bool still_used = !removing && applied->use_adb && applied->port == forward->port &&
			  strcmp(applied->serial, forward->serial) == 0;
	if (still_used)
		return;
	adb_background_remove_forward(forward->serial, forward->port);
	forward->made = false;
}

void ostrelin_update(void *data, obs_data_t *settings)
{
	auto *inst = static_cast<SourceInstance *>(data);
	/* Not a connection setting: the connection thread takes it up as it goes. */
	inst->smooth_sync = obs_data_get_bool(settings, SETTING_SMOOTH_SYNC);

	/* Controls are only recorded here; the connection thread writes them.
	 * A connection this update ends gets none: they are recorded once its
	 * thread has gone, and the next connection sends them when the phone
	 * announces its capabilities. */
	if (connection_active(&inst->conn)) {
		if (connection_unchanged(inst, settings)) {
			send_camera_controls(inst, settings);
			return;
		}
		stop_stream_thread(inst);
	}
	send_camera_controls(inst, settings);

	long long port_setting = obs_data_get_int(settings, SETTING_PORT);
	long long refused_before = inst->refused_port;
	copy_text(inst->settings.serial, sizeof(inst->settings.serial), obs_data_get_string(settings, SETTING_DEVICE));
	inst->settings.port = effective_port(port_setting);
	inst->refused_port = inst->settings.port ? 0 : port_setting;
	apply_mode(inst, settings);
	copy_text(inst->settings.host, sizeof(inst->settings.host), obs_data_get_string(settings, SETTING_HOST));
	inst->enabled = obs_data_get_bool(settings, SETTING_ENABLED);
	drop_stale_forward(inst, false);

	if (inst->refused_port) {
		if (inst->refused_port != refused_before)
			ostrelin_log(LOG_WARNING, LOGTEXT_PORT_OUT_OF_RANGE, inst->refused_port.load());
		return;
	}
	if (inst->enabled)
		connection_start(&inst->conn, stream_thread, &inst->thread_args);
}

void stop_stream_thread(SourceInstance *inst)
{
	connection_stop(&inst->conn);
	inst->status.connected = false;
}

void ostrelin_destroy(void *data)
{
	auto *inst = static_cast<SourceInstance *>(data);
	if (!inst)
		return;

	stop_stream_thread(inst);
	drop_stale_forward(inst, true);

	receiver_free(inst->rx);
	connection_free(&inst->conn);
	inst->~SourceInstance();
	bfree(inst);
}
