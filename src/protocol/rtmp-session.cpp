#include "protocol/rtmp-session.h"

#include "protocol/amf0.h"
#include "protocol/byte-order.h"

namespace {

const uint8_t control_csid = 2;
const uint8_t command_csid = 3;

void send_control(RtmpSession *s, uint8_t type, const uint8_t *payload, size_t size)
{
	rtmp_chunks_write(&s->output, control_csid, type, 0, 0, {payload, size}, s->out_chunk_size);
}

void send_command(RtmpSession *s, uint32_t stream_id, const std::vector<uint8_t> &amf)
{
	rtmp_chunks_write(&s->output, command_csid, RTMP_COMMAND_AMF0, stream_id, 0, amf, s->out_chunk_size);
}

void send_result(RtmpSession *s, double transaction, bool with_stream_id)
{
	std::vector<uint8_t> amf;
	amf0_write_string(&amf, "_result");
	amf0_write_number(&amf, transaction);
	amf0_write_null(&amf);
	if (with_stream_id)
		amf0_write_number(&amf, RTMP_STREAM_ID);
	send_command(s, 0, amf);
}

void send_connected(RtmpSession *s, double transaction)
{
	uint8_t value[5];
	write_be32(value, RTMP_SERVER_WINDOW);
	send_control(s, RTMP_WINDOW_ACK_SIZE, value, 4);
	value[4] = 2; /* dynamic limit */
	send_control(s, RTMP_SET_PEER_BANDWIDTH, value, 5);
	write_be32(value, RTMP_SERVER_CHUNK_SIZE);
	send_control(s, RTMP_SET_CHUNK_SIZE, value, 4);
	s->out_chunk_size = RTMP_SERVER_CHUNK_SIZE;

	std::vector<uint8_t> amf;
	amf0_write_string(&amf, "_result");
	amf0_write_number(&amf, transaction);
	amf0_write_object_start(&amf);
	amf0_write_key(&amf, "fmsVer");
	amf0_write_string(&amf, "FMS/3,0,1,123");
	amf0_write_key(&amf, "capabilities");
	amf0_write_number(&amf, 31);
	amf0_write_object_end(&amf);
	amf0_write_object_start(&amf);
	amf0_write_key(&amf, "level");
	amf0_write_string(&amf, "status");
	amf0_write_key(&amf, "code");
	amf0_write_string(&amf, "NetConnection.Connect.Success");
	amf0_write_key(&amf, "description");
	amf0_write_string(&amf, "Connection succeeded.");
	amf0_write_key(&amf, "objectEncoding");
	amf0_write_number(&amf, 0);
	amf0_write_object_end(&amf);
	send_command(s, 0, amf);
}

void send_publish_status(RtmpSession *s, bool accepted)
{
	if (accepted) {
		uint8_t stream_begin[6] = {0, 0}; /* event 0, Stream Begin, then the stream id */
		write_be32(stream_begin + 2, RTMP_STREAM_ID);
		send_control(s, RTMP_USER_CONTROL, stream_begin, sizeof(stream_begin));
	}
	std::vector<uint8_t> amf;
	amf0_write_string(&amf, "onStatus");
	amf0_write_number(&amf, 0);
	amf0_write_null(&amf);
	amf0_write_object_start(&amf);
	amf0_write_key(&amf, "level");
	amf0_write_string(&amf, accepted ? "status" : "error");
	amf0_write_key(&amf, "code");
	amf0_write_string(&amf, accepted ? "NetStream.Publish.Start" : "NetStream.Publish.BadName");
	amf0_write_key(&amf, "description");
	amf0_write_string(&amf, accepted ? "Publishing." : "Wrong stream key.");
	amf0_write_object_end(&amf);
	send_command(s, RTMP_STREAM_ID, amf);
}

void close_with(RtmpSession *s, RtmpError why, RtmpEvent *event)
{
	s->phase = RtmpPhase::closed;
	s->closed_by = why;
	event->kind = why == RtmpError::wrong_key ? RtmpEventKind::refused : RtmpEventKind::error;
	event->error = why;
}

void publish(RtmpSession *s, Amf0Reader *r, RtmpEvent *event)
{
	std::string_view name;
	if (!amf0_skip(r) || !amf0_read_string(r, &name))
		return close_with(s, RtmpError::malformed_command, event);
	if (s->phase == RtmpPhase::publishing)
		return; /* already: nothing changes */
	if (s->phase != RtmpPhase::connected && s->phase != RtmpPhase::ended)
		return close_with(s, RtmpError::command_out_of_order, event);
	name = name.substr(0, name.find('?'));
	bool accepted = s->key.empty() || name == s->key;
	send_publish_status(s, accepted);
	if (!accepted)
		return close_with(s, RtmpError::wrong_key, event);
	s->phase = RtmpPhase::publishing;
	flv_reader_init(&s->flv); /* a publish after an end starts afresh */
	event->kind = RtmpEventKind::publishing;
}

void command(RtmpSession *s, std::span<const uint8_t> payload, RtmpEvent *event)
{
	Amf0Reader r = amf0_reader(payload);
	std::string_view name;
	double transaction = 0;
	if (!amf0_read_string(&r, &name) || !amf0_read_number(&r, &transaction))
		return close_with(s, RtmpError::malformed_command, event);
	if (name == "connect") {
		std::string_view app;
		if (!amf0_read_object_string(&r, "app", &app))
			return close_with(s, RtmpError::malformed_command, event);
		if (s->phase == RtmpPhase::connecting) {
			s->phase = RtmpPhase::connected;
			send_connected(s, transaction);
		}
	} else if (name == "releaseStream" || name == "FCPublish") {
		send_result(s, transaction, false);
	} else if (name == "createStream") {
		send_result(s, transaction, true);
	} else if (name == "publish") {
		publish(s, &r, event);
	} else if (name == "FCUnpublish" || name == "deleteStream" || name == "closeStream") {
		if (s->phase == RtmpPhase::publishing) {
			s->phase = RtmpPhase::ended;
			event->kind = RtmpEventKind::ended;
		}
	}
}

void media(RtmpSession *s, const RtmpMessage &msg, RtmpEvent *event)
{
	if (s->phase != RtmpPhase::publishing)
		return;
	RtmpError error = RtmpError::none;
	FlvResult result = msg.type == RTMP_VIDEO
				   ? flv_read_video(&s->flv, msg.payload, msg.timestamp, &event->packet, &error)
				   : flv_read_audio(&s->flv, msg.payload, msg.timestamp, &event->packet, &error);
	if (result == FlvResult::packet) {
		event->kind = RtmpEventKind::media;
	} else if (result == FlvResult::error) {
		bool *told = error == RtmpError::unsupported_video   ? &s->told_video
			     : error == RtmpError::unsupported_audio ? &s->told_audio
								     : nullptr;
		if (!told)
			return close_with(s, error, event);
		if (!*told) {
			*told = true;
			event->kind = RtmpEventKind::unsupported;
			event->error = error;
		}
	}
}

void message(RtmpSession *s, const RtmpMessage &msg, RtmpEvent *event)
{
	switch (msg.type) {
	case RTMP_WINDOW_ACK_SIZE:
		if (msg.payload.size() != 4)
			return close_with(s, RtmpError::malformed_control, event);
		s->peer_window = read_be32(msg.payload.data());
		break;
	case RTMP_COMMAND_AMF3: /* a format byte of 0, then AMF0 */
		if (!msg.payload.empty())
			command(s, msg.payload.subspan(1), event);
		break;
	case RTMP_COMMAND_AMF0:
		command(s, msg.payload, event);
		break;
	case RTMP_AUDIO:
	case RTMP_VIDEO:
		media(s, msg, event);
		break;
	default: /* acknowledgements, user control (pings), bandwidth, data */
		break;
	}
}

} // namespace

void rtmp_session_init(RtmpSession *s, std::string_view key)
{
	s->key = key;
	s->phase = RtmpPhase::handshake;
	s->closed_by = RtmpError::none;
	rtmp_handshake_init(&s->handshake);
	rtmp_chunks_init(&s->chunks);
	flv_reader_init(&s->flv);
	s->output.clear();
	s->out_chunk_size = RTMP_DEFAULT_CHUNK_SIZE;
	s->peer_window = 0;
	s->acked = 0;
	s->told_video = false;
	s->told_audio = false;
}

size_t rtmp_session_feed(RtmpSession *s, const uint8_t *data, size_t size, RtmpEvent *event)
{
	event->kind = RtmpEventKind::none;
	event->error = RtmpError::none;
	if (s->phase == RtmpPhase::closed) {
		event->kind = RtmpEventKind::error;
		event->error = s->closed_by;
		return size;
	}
	size_t used = 0;
	if (s->phase == RtmpPhase::handshake) {
		RtmpError error = RtmpError::none;
		used = rtmp_handshake_read(&s->handshake, data, size, &s->output, &error);
		if (error != RtmpError::none)
			close_with(s, error, event);
		else if (s->handshake.state == RtmpHandshakeState::done)
			s->phase = RtmpPhase::connecting;
	}
	while (used < size && s->phase != RtmpPhase::handshake && event->kind == RtmpEventKind::none &&
	       s->phase != RtmpPhase::closed) {
		RtmpMessage msg;
		RtmpChunkResult result;
		RtmpError error = RtmpError::none;
		used += rtmp_chunks_read(&s->chunks, data + used, size - used, &msg, &result, &error);
		if (result == RtmpChunkResult::error)
			close_with(s, error, event);
		else if (result == RtmpChunkResult::message)
			message(s, msg, event);
		if (s->peer_window > 0 && s->chunks.bytes_read - s->acked >= s->peer_window) {
			uint8_t sequence[4];
			write_be32(sequence, (uint32_t)s->chunks.bytes_read);
			send_control(s, RTMP_ACKNOWLEDGEMENT, sequence, 4);
			s->acked = s->chunks.bytes_read;
		}
		if (s->output.size() > RTMP_MAX_PENDING_OUTPUT && s->phase != RtmpPhase::closed)
			close_with(s, RtmpError::replies_pending, event);
	}
	return used;
}
