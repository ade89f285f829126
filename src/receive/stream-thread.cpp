#include "receive/stream-thread.h"
#include "adb/adb-client.h"
#include "receive/receive-loop.h"
#include "timing/report-gate.h"
#include "log/ostrelin-log.h"
#include "obs/source-instance.h"
#include "protocol/stream-protocol.h"

#include <util/platform.h>

#include <cstring>

enum class AttemptEnd { cannot_connect, dropped, streamed };

bool stream_address(const SourceInstance *inst, uint32_t *addr_be)
{
	if (inst->use_adb || inst->host[0] == '\0' || strcmp(inst->host, "127.0.0.1") == 0) {
		*addr_be = plat_loopback_be();
		return true;
	}
	return plat_parse_ipv4(inst->host, addr_be);
}

const char *stream_display_host(const SourceInstance *inst)
{
	return (inst->use_adb || inst->host[0] == '\0') ? "127.0.0.1" : inst->host;
}

static ConnectResult connect_stream(SourceInstance *inst)
{
	uint32_t addr_be = 0;
	if (!stream_address(inst, &addr_be))
		return ConnectResult::failed;
	return connection_open(&inst->conn, addr_be, (uint16_t)inst->port);
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
static bool request_forward(SourceInstance *inst, bool may_report)
{
	const char *serial = inst->serial[0] ? inst->serial : nullptr;
	if (adb_forward(serial, inst->port, ADB_SOCKET_NAME)) {
		inst->forward_made = true;
		snprintf(inst->forward_serial, sizeof(inst->forward_serial), "%s", inst->serial);
		inst->forward_port = inst->port;
		return true;
	}
	if (!inst->conn.running)
		return false;
	if (may_report) {
		const char *reason = adb_last_error();
		ostrelin_log(LOG_WARNING, LOGTEXT_FORWARD_FAILED, reason ? reason : LOGTEXT_UNKNOWN_REASON);
	}
	return true;
}

static AttemptEnd run_attempt(SourceInstance *inst, bool may_report)
{
	if (inst->use_adb && !request_forward(inst, may_report))
		return AttemptEnd::dropped;

	switch (connect_stream(inst)) {
	case ConnectResult::failed:
		return AttemptEnd::cannot_connect;
	case ConnectResult::stopped:
		return AttemptEnd::dropped;
	case ConnectResult::connected:
		break;
	}

	uint8_t bytes[HANDSHAKE_SIZE];
	if (connection_read(&inst->conn, bytes, sizeof(bytes)) != ReadResult::complete)
		return AttemptEnd::dropped;
	Handshake hs = handshake_parse(bytes);
	if (!check_handshake(hs))
		return AttemptEnd::dropped;
	if (!follow_codec(&inst->rx, hs.codec))
		return AttemptEnd::dropped;

	inst->width = hs.width;
	inst->height = hs.height;
	inst->stream_fps = hs.fps;
	inst->stream_codec = hs.codec;
	inst->connected = true;
	ostrelin_log(LOG_INFO, LOGTEXT_STREAM_CONNECTED, (unsigned)hs.width, (unsigned)hs.height, (unsigned)hs.fps);
	source_panel_refresh(inst);
	receive_loop(inst);
	return AttemptEnd::streamed;
}

static void log_disconnect(SourceInstance *inst)
{
	ostrelin_log(LOG_INFO, LOGTEXT_DISCONNECTED, RETRY_PAUSE_MS, (unsigned long long)inst->frames_decoded.load());
}

void stream_thread(void *arg)
{
	auto *inst = static_cast<SourceInstance *>(arg);
	StreamConnection *conn = &inst->conn;
	uint64_t last_report = 0;
	/* A stop ends an adb request of this thread at once. */
	adb_set_thread_stop(conn->stop);

	while (conn->running) {
		uint64_t now = os_gettime_ns();
		bool may_report = report_gate_open(last_report, now);
		uint64_t report_time = may_report ? now : last_report;

		switch (run_attempt(inst, may_report)) {
		case AttemptEnd::cannot_connect:
			if (may_report)
				ostrelin_log(LOG_INFO, LOGTEXT_UNREACHABLE, stream_display_host(inst), (int)inst->port);
			connection_pause(conn, RETRY_PAUSE_MS);
			last_report = report_time;
			break;
		case AttemptEnd::dropped:
			inst->connected = false;
			connection_close(conn);
			if (conn->running) {
				if (may_report)
					log_disconnect(inst);
				connection_pause(conn, RETRY_PAUSE_MS);
			}
			last_report = report_time;
			break;
		case AttemptEnd::streamed:
			inst->connected = false;
			connection_close(conn);
			source_panel_refresh(inst);
			last_report = 0;
			if (conn->running) {
				log_disconnect(inst);
				connection_pause(conn, RETRY_PAUSE_MS);
			}
			break;
		}
	}
	adb_set_thread_stop(nullptr);
}
