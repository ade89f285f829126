#pragma once
/* Why an RTMP publisher is refused or dropped: one name per reason, and the
 * text a log line gives it. */

enum class RtmpError {
	none,
	handshake_version,    /* C0 asks for another version than 3 */
	chunk_size,           /* Set Chunk Size of 0 or with its top bit set */
	unknown_chunk_stream, /* a compressed chunk header on a stream never started */
	too_many_chunk_streams,
	message_too_large,    /* larger than the receive path takes */
	buffered_too_much,    /* messages in assembly hold too many bytes together */
	malformed_control,    /* a protocol control message of the wrong size */
	malformed_command,    /* an AMF0 command that does not decode */
	command_out_of_order, /* publish before connect */
	replies_pending,      /* the caller sends none of the replies */
	wrong_key,            /* publish with another stream key */
	malformed_video,
	malformed_audio,
	unsupported_video,
	unsupported_audio,
};

static inline const char *rtmp_error_text(RtmpError error)
{
	switch (error) {
	case RtmpError::none:
		return "no error";
	case RtmpError::handshake_version:
		return "handshake of another version than 3";
	case RtmpError::chunk_size:
		return "invalid chunk size";
	case RtmpError::unknown_chunk_stream:
		return "chunk continues a chunk stream that never started";
	case RtmpError::too_many_chunk_streams:
		return "too many chunk streams";
	case RtmpError::message_too_large:
		return "message larger than 8 MiB";
	case RtmpError::buffered_too_much:
		return "too many bytes in messages under assembly";
	case RtmpError::malformed_control:
		return "malformed protocol control message";
	case RtmpError::malformed_command:
		return "malformed command";
	case RtmpError::command_out_of_order:
		return "publish before connect";
	case RtmpError::replies_pending:
		return "replies not sent";
	case RtmpError::wrong_key:
		return "refused: wrong key";
	case RtmpError::malformed_video:
		return "malformed video tag";
	case RtmpError::malformed_audio:
		return "malformed audio tag";
	case RtmpError::unsupported_video:
		return "unsupported video codec";
	case RtmpError::unsupported_audio:
		return "unsupported audio codec";
	}
	return "?";
}
