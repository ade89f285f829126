#include "stream-thread.h"
#include "adb-client.h"
#include "receive-loop.h"
#include "source-instance.h"

#include <util/platform.h>

#include <cstring>

#define REPORT_GATE_NS 29999999999ULL
#define CONNECT_SLICE_MS 50

enum class AttemptEnd { cannot_connect, dropped, streamed };
enum class ConnectResult { connected, failed, stopped };

bool report_gate_open(uint64_t last_report, uint64_t now)
{
	return last_report == 0 || now - last_report > REPORT_GATE_NS;
}

bool stream_address(const SourceInstance *inst, uint32_t *addr_be)
{
	if (inst->use_adb || inst->host[0] == '\0' || strcmp(inst->host, "127.0.0.1") == 0) {
		*addr_be = nx_loopback_be();
		return true;
	}
	return nx_parse_ipv4(inst->host, addr_be);
}

const char *stream_display_host(const SourceInstance *inst)
{
	return (inst->use_adb || inst->host[0] == '\0') ? "127.0.0.1" : inst->host;
}

bool connect_timeout(SourceInstance *inst, nx_socket sock, uint32_t addr_be, uint16_t port)
{
	if (!nx_socket_set_nonblocking(sock, true))
		return false;
	if (!nx_connect(sock, addr_be, port)) {
		if (!nx_last_error_is_in_progress())
			return false;
		/* Waited in slices so that a stop does not sit out the whole limit. */
		int ready = 0;
		for (int waited = 0; ready == 0 && waited < CONNECT_LIMIT_MS; waited += CONNECT_SLICE_MS) {
			if (!inst->running)
				return false;
			ready = nx_wait_writable(sock, CONNECT_SLICE_MS);
		}
		if (ready <= 0 || nx_socket_pending_error(sock) != 0)
			return false;
	}
	return nx_socket_set_nonblocking(sock, false);
}

/* Hands the connected socket to the instance, where the stop and the control
 * sending can reach it; refused when a stop came first. */
static bool publish_socket(SourceInstance *inst, nx_socket sock)
{
	std::lock_guard<std::mutex> guard(inst->sock_lock);
	if (!inst->running)
		return false;
	inst->sock = sock;
	return true;
}

/* The socket is closed here exactly once, unless a stop already closed it
 * (on platforms where only a close wakes a blocked receive). */
static void close_stream_socket(SourceInstance *inst)
{
	std::lock_guard<std::mutex> guard(inst->sock_lock);
	nx_socket_close(inst->sock);
	inst->sock = NX_INVALID_SOCKET;
}

static ConnectResult connect_stream(SourceInstance *inst)
{
	nx_socket sock = nx_socket_tcp();
	if (sock == NX_INVALID_SOCKET)
		return ConnectResult::failed;

	uint32_t addr_be = 0;
	uint16_t port = (uint16_t)inst->port;
	if (!stream_address(inst, &addr_be) || !connect_timeout(inst, sock, addr_be, port)) {
		nx_socket_close(sock);
		return inst->running ? ConnectResult::failed : ConnectResult::stopped;
	}

	nx_socket_set_nodelay(sock);
	nx_socket_set_recv_timeout(sock, RECEIVE_TIMEOUT_MS);
	/* A control message must never hold the interface thread for long. */
	nx_socket_set_send_timeout(sock, SEND_LIMIT_MS);
	if (!publish_socket(inst, sock)) {
		nx_socket_close(sock);
		return ConnectResult::stopped;
	}
	return ConnectResult::connected;
}

static bool check_handshake(const Handshake &hs)
{
	switch (handshake_check(hs)) {
	case HandshakeVerdict::accepted:
		return true;
	case HandshakeVerdict::wrong_magic:
		blog(LOG_ERROR, "[ostrelin] 對面回的不是 Ostrelin 串流");
		break;
	case HandshakeVerdict::wrong_version:
		blog(LOG_ERROR, "[ostrelin] 協定版本不合：手機端 %d，plugin 端 %d", hs.version,
		     STREAM_PROTOCOL_VERSION);
		break;
	case HandshakeVerdict::wrong_codec:
		blog(LOG_ERROR, "[ostrelin] 不支援的編碼 %d", hs.codec);
		break;
	}
	return false;
}

static AttemptEnd run_attempt(SourceInstance *inst, bool may_report)
{
	if (inst->use_adb && !adb_forward(inst->serial[0] ? inst->serial : nullptr, inst->port, ADB_SOCKET_NAME) &&
	    may_report) {
		const char *reason = adb_last_error();
		blog(LOG_WARNING, "[ostrelin] 建立 adb forward 失敗：%s", reason ? reason : "未知原因");
	}

	switch (connect_stream(inst)) {
	case ConnectResult::failed:
		return AttemptEnd::cannot_connect;
	case ConnectResult::stopped:
		return AttemptEnd::dropped;
	case ConnectResult::connected:
		break;
	}

	uint8_t bytes[HANDSHAKE_SIZE];
	if (read_exact(inst, bytes, sizeof(bytes)) != ReadResult::complete)
		return AttemptEnd::dropped;
	Handshake hs = handshake_parse(bytes);
	if (!check_handshake(hs))
		return AttemptEnd::dropped;

	inst->width = hs.width;
	inst->height = hs.height;
	inst->stream_fps = hs.fps;
	inst->connected = true;
	blog(LOG_INFO, "[ostrelin] 串流已連上 %ux%u @ %u fps", (unsigned)hs.width, (unsigned)hs.height,
	     (unsigned)hs.fps);
	receive_loop(inst);
	return AttemptEnd::streamed;
}

static void log_disconnect(SourceInstance *inst)
{
	blog(LOG_INFO, "[ostrelin] 連線中斷，%d ms 後重試（已解 %llu 張）", RETRY_PAUSE_MS,
	     (unsigned long long)inst->frames_decoded.load());
}

void stream_thread(void *arg)
{
	auto *inst = static_cast<SourceInstance *>(arg);
	uint64_t last_report = 0;

	while (inst->running) {
		uint64_t now = os_gettime_ns();
		bool may_report = report_gate_open(last_report, now);
		uint64_t report_time = may_report ? now : last_report;

		switch (run_attempt(inst, may_report)) {
		case AttemptEnd::cannot_connect:
			if (may_report)
				blog(LOG_INFO, "[ostrelin] 連不上 %s:%d，手機端 app 開了嗎？（每 30 秒回報一次）",
				     stream_display_host(inst), (int)inst->port);
			nx_stop_wait(inst->stop, RETRY_PAUSE_MS);
			last_report = report_time;
			break;
		case AttemptEnd::dropped:
			inst->connected = false;
			close_stream_socket(inst);
			if (inst->running) {
				if (may_report)
					log_disconnect(inst);
				nx_stop_wait(inst->stop, RETRY_PAUSE_MS);
			}
			last_report = report_time;
			break;
		case AttemptEnd::streamed:
			inst->connected = false;
			close_stream_socket(inst);
			last_report = 0;
			if (inst->running) {
				log_disconnect(inst);
				nx_stop_wait(inst->stop, RETRY_PAUSE_MS);
			}
			break;
		}
	}
}
