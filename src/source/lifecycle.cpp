#include "lifecycle.h"
#include "adb-client.h"
#include "source-instance.h"
#include "stream-thread.h"

#include <util/bmem.h>

#include <cstring>
#include <new>

static const char *text_or_empty(const char *text)
{
	return text ? text : "";
}

static int32_t effective_port(long long setting)
{
	int32_t port = (int32_t)setting;
	return port <= 0 ? SOURCE_DEFAULT_PORT : port;
}

/* The mode that the settings ask for: "conn_mode" leads once it has a user
 * value; older settings only have "use_adb". */
static bool wanted_usb_mode(obs_data_t *settings)
{
	if (obs_data_has_user_value(settings, "conn_mode"))
		return obs_data_get_int(settings, "conn_mode") == 0;
	return obs_data_get_bool(settings, "use_adb");
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
	obs_data_set_default_int(settings, "port", SOURCE_DEFAULT_PORT);
	obs_data_set_default_string(settings, "device", "");
	obs_data_set_default_bool(settings, "use_adb", true);
	obs_data_set_default_int(settings, "conn_mode", 0);
	obs_data_set_default_bool(settings, "enabled", true);
	obs_data_set_default_string(settings, "host", "127.0.0.1");
	obs_data_set_default_double(settings, "zoom", 1.0);
	obs_data_set_default_int(settings, "ev", 0);
	obs_data_set_default_bool(settings, "torch", false);
	obs_data_set_default_bool(settings, "ae_lock", false);
	obs_data_set_default_int(settings, "awb", 1);
}

void *ostrelin_create(obs_data_t *settings, obs_source_t *source)
{
	void *mem = bzalloc(sizeof(SourceInstance));
	auto *inst = new (mem) SourceInstance();
	inst->source = source;
	inst->sock = NX_INVALID_SOCKET;
	inst->stop = nx_stop_create();
	inst->video_decoder = ostrelin_decoder_create();
	obs_source_set_async_unbuffered(source, true);
	ostrelin_update(inst, settings);
	return inst;
}

static bool connection_unchanged(const SourceInstance *inst, obs_data_t *settings)
{
	return obs_data_get_bool(settings, "enabled") == inst->enabled &&
	       strcmp(inst->serial, text_or_empty(obs_data_get_string(settings, "device"))) == 0 &&
	       strcmp(inst->host, text_or_empty(obs_data_get_string(settings, "host"))) == 0 &&
	       inst->port == effective_port(obs_data_get_int(settings, "port")) &&
	       inst->use_adb == wanted_usb_mode(settings);
}

static void apply_mode(SourceInstance *inst, obs_data_t *settings)
{
	if (obs_data_has_user_value(settings, "conn_mode")) {
		inst->use_adb = obs_data_get_int(settings, "conn_mode") == 0;
		obs_data_set_bool(settings, "use_adb", inst->use_adb);
	} else {
		inst->use_adb = obs_data_get_bool(settings, "use_adb");
		obs_data_set_int(settings, "conn_mode", inst->use_adb ? 0 : 1);
	}
}

static void start_stream_thread(SourceInstance *inst)
{
	if (!inst->stop)
		return;
	nx_stop_reset(inst->stop);
	inst->running = true;
	nx_thread_start(&inst->thread, stream_thread, inst);
}

void ostrelin_update(void *data, obs_data_t *settings)
{
	auto *inst = static_cast<SourceInstance *>(data);

	if (nx_thread_running(&inst->thread)) {
		if (connection_unchanged(inst, settings)) {
			if (source_caps(inst).valid)
				send_camera_controls(inst, settings);
			return;
		}
		stop_stream_thread(inst);
	}

	copy_text(inst->serial, sizeof(inst->serial), obs_data_get_string(settings, "device"));
	inst->port = effective_port(obs_data_get_int(settings, "port"));
	apply_mode(inst, settings);
	copy_text(inst->host, sizeof(inst->host), obs_data_get_string(settings, "host"));
	inst->enabled = obs_data_get_bool(settings, "enabled");
	if (inst->enabled)
		start_stream_thread(inst);
}

static void send_control(SourceInstance *inst, uint8_t command, int32_t value)
{
	uint8_t bytes[CONTROL_MESSAGE_SIZE];
	control_message_write(ControlMessage{command, value}, bytes);

	/* Under the lock, so the connection thread cannot close (and the system
	 * reuse) the socket while a message goes out on it. */
	std::lock_guard<std::mutex> guard(inst->sock_lock);
	if (inst->sock != NX_INVALID_SOCKET)
		nx_send(inst->sock, bytes, sizeof(bytes));
}

void send_camera_controls(SourceInstance *inst, obs_data_t *settings)
{
	CameraCaps caps = source_caps(inst);
	if (caps.flags & CAPS_ZOOM)
		send_control(inst, CONTROL_ZOOM, control_zoom_value(obs_data_get_double(settings, "zoom")));
	if (caps.flags & CAPS_EV)
		send_control(inst, CONTROL_EV, (int32_t)obs_data_get_int(settings, "ev"));
	if (caps.flags & CAPS_TORCH)
		send_control(inst, CONTROL_TORCH, obs_data_get_bool(settings, "torch") ? 1 : 0);
	if (caps.flags & CAPS_AE_LOCK)
		send_control(inst, CONTROL_AE_LOCK, obs_data_get_bool(settings, "ae_lock") ? 1 : 0);
	if (caps.awb_count > 0)
		send_control(inst, CONTROL_AWB, (int32_t)obs_data_get_int(settings, "awb"));
}

void stop_stream_thread(SourceInstance *inst)
{
	if (!nx_thread_running(&inst->thread))
		return;

	inst->running = false;
	if (inst->stop)
		nx_stop_raise(inst->stop);
	{
		std::lock_guard<std::mutex> guard(inst->sock_lock);
		if (inst->sock != NX_INVALID_SOCKET) {
			nx_socket_shutdown(inst->sock);
			/* Where shutdown does not wake a blocked receive (Windows,
			 * macOS) only a close does; the thread then finds -1. */
			if (!nx_shutdown_wakes_receive()) {
				nx_socket_close(inst->sock);
				inst->sock = NX_INVALID_SOCKET;
			}
		}
	}
	nx_thread_join(&inst->thread);
}

void ostrelin_destroy(void *data)
{
	auto *inst = static_cast<SourceInstance *>(data);
	if (!inst)
		return;

	stop_stream_thread(inst);
	if (inst->serial[0] != '\0')
		adb_forward_remove(inst->serial, inst->port);
	else if (inst->port != 0)
		adb_forward_remove(nullptr, inst->port);

	ostrelin_decoder_destroy(inst->video_decoder);
	ostrelin_audio_decoder_destroy(inst->audio_decoder);
	bfree(inst->packet_buf);
	nx_stop_destroy(inst->stop);
	inst->~SourceInstance();
	bfree(inst);
}
