#include "receive/stream-thread.h"
#include "adb/adb-client.h"
#include "receive/receive-loop.h"
#include "timing/report-gate.h"
#include "log/ostrelin-log.h"
#include "receive/receiver.h"
#include "protocol/stream-protocol.h"

#include <util/platform.h>

#include <cstring>

enum class AttemptEnd { cannot_connect, app_not_listening, dropped, streamed };

bool stream_address(const ConnectionSettings *settings, uint32_t *addr_be)
{
	if (settings->use_adb || settings->host[0] == '\0' || strcmp(settings->host, "127.0.0.1") == 0) {
		*addr_be = plat_loopback_be();
		return true;
	}
	return plat_parse_ipv4(settings->host, addr_be);
}

const char *stream_display_host(const ConnectionSettings *settings)
{
	return (settings->use_adb || settings->host[0] == '\0') ? "127.0.0.1" : settings->host;
}

static ConnectResult connect_stream(const StreamThreadArgs *args)
{
	uint32_t addr_be = 0;
	if (!stream_address(args->settings, &addr_be))
		return ConnectResult::failed;
	return connection_open(args->rx->conn, addr_be, (uint16_t)args->settings->port);
}

static bool check_handshake(const Handshake &hs)
{
	switch (handshake_check(hs, decoder_available(decoder_codec_of_stream(STREAM_CODEC_H265)))) {
	case HandshakeVerdict::accepted:
		return true;
	case HandshakeVerdict::wrong_magic:
		ostrelin_log(LOG_ERROR, LOGTEXT_NOT_OSTRELIN);
		break;
	case HandshakeVerdict::wrong_version:
		ostrelin_log(LOG_ERROR, LOGTEXT_VERSION_MISMATCH, hs.version, STREAM_PROTOCOL_VERSION);
		break;
	case HandshakeVerdict::wrong_codec:
		ostrelin_log(LOG_ERROR, LOGTEXT_UNSUPPORTED_CODEC, hs.codec);
		break;
	}
	return false;
}

/* Decodes with the codec the handshake names: the decoder kept from the last
 * connection stays when its codec is the same, and is replaced otherwise,
 * before the first packet is read. False when no decoder opens (logged): the
 * connection would show nothing, so it ends and is tried again. */
static bool follow_codec(Receiver *rx, uint8_t stream_codec)
{
	const int codec_id = decoder_codec_of_stream(stream_codec);
	if (rx->video_decoder && decoder_codec_id(rx->video_decoder) == codec_id)
		return true;
	ostrelin_decoder_destroy(rx->video_decoder);
	rx->video_decoder = decoder_create(codec_id);
	return rx->video_decoder != nullptr;
}

/* Asks the adb server for the forward and remembers a forward made, so that
 * it can be removed later; false when a stop cut the request short. */
static bool request_forward(const StreamThreadArgs *args, bool may_report)
{
	const ConnectionSettings *settings = args->settings;
	AdbForward *forward = args->forward;
	const char *serial = settings->serial[0] ? settings->serial : nullptr;
	if (adb_forward(serial, settings->port, ADB_SOCKET_NAME)) {
		forward->made = true;
		snprintf(forward->serial, sizeof(forward->serial), "%s", settings->serial);
		forward->port = settings->port;
		return true;
	}
	if (!args->rx->conn->running)
		return false;
	if (may_report) {
		const char *reason = adb_last_error();
		ostrelin_log(LOG_WARNING, LOGTEXT_FORWARD_FAILED, reason ? reason : LOGTEXT_UNKNOWN_REASON);
	}
	return true;
}

static AttemptEnd run_attempt(const StreamThreadArgs *args, bool may_report)
{
	Receiver *rx = args->rx;
	if (args->settings->use_adb && !request_forward(args, may_report))
		return AttemptEnd::dropped;

	switch (connect_stream(args)) {
	case ConnectResult::failed:
		return AttemptEnd::cannot_connect;
	case ConnectResult::stopped:
		return AttemptEnd::dropped;
	case ConnectResult::connected:
		break;
	}

	/* Over USB adb itself takes the connection: one the phone ends before
	 * its first byte found no app listening behind the forward. */
	uint8_t bytes[HANDSHAKE_SIZE];
	size_t got = 0;
	ReadResult first = connection_read_some(rx->conn, bytes, sizeof(bytes), &got);
	if (first != ReadResult::complete)
		return got == 0 && args->settings->use_adb &&
				       (first == ReadResult::closed || first == ReadResult::failed)
			       ? AttemptEnd::app_not_listening
			       : AttemptEnd::dropped;
	if (connection_read(rx->conn, bytes + got, sizeof(bytes) - got) != ReadResult::complete)
		return AttemptEnd::dropped;
	Handshake hs = handshake_parse(bytes);
	if (!check_handshake(hs))
		return AttemptEnd::dropped;
	if (!follow_codec(rx, hs.codec))
		return AttemptEnd::dropped;

	StreamStatus *status = rx->status;
	status->width = hs.width;
	status->height = hs.height;
	status->stream_fps = hs.fps;
	status->stream_codec = hs.codec;
	status->app_not_listening = false;
	status->connected = true;
	ostrelin_log(LOG_INFO, LOGTEXT_STREAM_CONNECTED, (unsigned)hs.width, (unsigned)hs.height, (unsigned)hs.fps);
	receiver_panel_refresh(rx);
	receive_loop(rx);
	return AttemptEnd::streamed;
}

static void log_disconnect(const Receiver *rx)
{
	ostrelin_log(LOG_INFO, LOGTEXT_DISCONNECTED, RETRY_PAUSE_MS,
		     (unsigned long long)rx->status->frames_decoded.load());
}

void stream_thread(void *arg)
{
	const auto *args = static_cast<const StreamThreadArgs *>(arg);
	Receiver *rx = args->rx;
	StreamConnection *conn = rx->conn;
	uint64_t last_report = 0;
	/* A stop ends an adb request of this thread at once. */
	adb_set_thread_stop(conn->stop);
	rx->status->app_not_listening = false;

	while (conn->running) {
		uint64_t now = os_gettime_ns();
		bool may_report = report_gate_open(last_report, now);
		uint64_t report_time = may_report ? now : last_report;

		switch (run_attempt(args, may_report)) {
		case AttemptEnd::cannot_connect:
			if (may_report)
				ostrelin_log(LOG_INFO, LOGTEXT_UNREACHABLE, stream_display_host(args->settings),
					     (int)args->settings->port);
			connection_pause(conn, RETRY_PAUSE_MS);
			last_report = report_time;
			break;
		case AttemptEnd::app_not_listening:
			connection_close(conn);
			if (!rx->status->app_not_listening.exchange(true))
				receiver_panel_refresh(rx);
			if (conn->running) {
				if (may_report)
					ostrelin_log(LOG_WARNING, LOGTEXT_APP_NOT_LISTENING, (int)args->settings->port);
				connection_pause(conn, RETRY_PAUSE_MS);
			}
			last_report = report_time;
			break;
		case AttemptEnd::dropped:
			rx->status->connected = false;
			connection_close(conn);
			if (conn->running) {
				if (may_report)
					log_disconnect(rx);
				connection_pause(conn, RETRY_PAUSE_MS);
			}
			last_report = report_time;
			break;
		case AttemptEnd::streamed:
			rx->status->connected = false;
			connection_close(conn);
			receiver_panel_refresh(rx);
			last_report = 0;
			if (conn->running) {
				log_disconnect(rx);
				connection_pause(conn, RETRY_PAUSE_MS);
			}
			break;
		}
	}
	adb_set_thread_stop(nullptr);
}
