#include "protocol/rtmp-chunks.h"

#include "protocol/byte-order.h"

#include <algorithm>

namespace {

const size_t message_header_size[4] = {11, 7, 3, 0};

/* A message handed out is dropped, and its room too when it was large, so
 * that idle chunk streams hold little. */
void release(RtmpChunkReader *r, RtmpChunkStream *s)
{
	r->buffered -= s->data.size();
	s->assembling = false;
	if (s->data.capacity() > 65536)
		std::vector<uint8_t>().swap(s->data);
	else
		s->data.clear();
}

RtmpChunkStream *find_stream(RtmpChunkReader *r, uint32_t csid)
{
	for (RtmpChunkStream &s : r->streams) {
		if (s.csid == csid)
			return &s;
	}
	return nullptr;
}

size_t basic_header_size(uint8_t first)
{
	uint8_t low = first & 0x3f;
	return low == 0 ? 2 : low == 1 ? 3 : 1;
}

uint32_t header_csid(const uint8_t *h)
{
	uint8_t low = h[0] & 0x3f;
	if (low == 0)
		return 64u + h[1];
	if (low == 1)
		return 64u + h[1] + 256u * h[2];
	return low;
}

RtmpChunkResult fail(RtmpError *error, RtmpError why)
{
	*error = why;
	return RtmpChunkResult::error;
}

/* The whole chunk header is in r->header: find or make its chunk stream,
 * apply the header and set up the chunk's payload. */
RtmpChunkResult start_chunk(RtmpChunkReader *r, size_t basic, bool has_extended, RtmpError *error)
{
	const uint8_t *h = r->header;
	unsigned fmt = h[0] >> 6;
	uint32_t csid = header_csid(h);
	RtmpChunkStream *s = find_stream(r, csid);
	if (!s && fmt != 0)
		return fail(error, RtmpError::unknown_chunk_stream);
	if (!s) {
		s = find_stream(r, 0);
		if (!s)
			return fail(error, RtmpError::too_many_chunk_streams);
		s->csid = csid;
	}
	const uint8_t *m = h + basic;
	uint32_t extended = has_extended ? read_be32(m + message_header_size[fmt]) : 0;
	bool continuation = fmt == 3 && s->assembling;
	if (!continuation) {
		if (s->assembling) /* a new header abandons the message under way */
			release(r, s);
		if (fmt <= 2) {
			uint32_t field = read_be24(m);
			s->extended = field == 0xFFFFFF;
			s->ts_field = s->extended ? extended : field;
		} else if (s->extended) {
			s->ts_field = extended;
		}
		if (fmt <= 1) {
			s->length = read_be24(m + 3);
			s->type = m[6];
		}
		if (fmt == 0) {
			s->stream_id = read_le32(m + 7);
			s->timestamp = s->ts_field;
		} else {
			s->timestamp += s->ts_field; /* wraps at 2^32, as the wire's does */
		}
		if (s->length > STREAM_MAX_PAYLOAD)
			return fail(error, RtmpError::message_too_large);
		size_t assembling = 0;
		for (const RtmpChunkStream &other : r->streams)
			assembling += other.assembling ? 1 : 0;
		if (assembling >= RTMP_MAX_ASSEMBLING)
			return fail(error, RtmpError::too_many_chunk_streams);
		s->assembling = true;
	}
	r->current = s;
	r->chunk_left = std::min<size_t>(r->chunk_size, s->length - s->data.size());
	return RtmpChunkResult::more;
}

/* Set Chunk Size and Abort act on the reader; true when msg was one of them. */
bool control(RtmpChunkReader *r, const RtmpChunkStream *s, RtmpChunkResult *result, RtmpError *error)
{
	if (s->type != RTMP_SET_CHUNK_SIZE && s->type != RTMP_ABORT)
		return false;
	if (s->data.size() != 4) {
		*result = fail(error, RtmpError::malformed_control);
		return true;
	}
	uint32_t value = read_be32(s->data.data());
	if (s->type == RTMP_SET_CHUNK_SIZE) {
		if (value == 0 || value > 0x7FFFFFFFu)
			*result = fail(error, RtmpError::chunk_size);
		else
			r->chunk_size = value;
	} else {
		RtmpChunkStream *aborted = find_stream(r, value);
		if (aborted && aborted != s && aborted->assembling)
			release(r, aborted);
	}
	return true;
}

} // namespace

void rtmp_chunks_init(RtmpChunkReader *r)
{
	r->chunk_size = RTMP_DEFAULT_CHUNK_SIZE;
	r->bytes_read = 0;
	r->buffered = 0;
	r->header_have = 0;
	r->current = nullptr;
	r->chunk_left = 0;
	r->delivered = nullptr;
	r->failed = RtmpError::none;
	for (RtmpChunkStream &s : r->streams) {
		s = RtmpChunkStream{};
	}
}

size_t rtmp_chunks_read(RtmpChunkReader *r, const uint8_t *data, size_t size, RtmpMessage *out, RtmpChunkResult *result,
			RtmpError *error)
{
	if (r->delivered) {
		release(r, r->delivered);
		r->delivered = nullptr;
	}
	*result = RtmpChunkResult::more;
	if (r->failed != RtmpError::none) {
		*result = fail(error, r->failed);
		return 0;
	}
	size_t used = 0;
	while (used < size) {
		if (!r->current) {
			r->header[r->header_have++] = data[used++];
			size_t basic = basic_header_size(r->header[0]);
			if (r->header_have < basic)
				continue;
			unsigned fmt = r->header[0] >> 6;
			size_t need = basic + message_header_size[fmt];
			if (r->header_have < need)
				continue;
			bool has_extended;
			if (fmt <= 2) {
				has_extended = read_be24(r->header + basic) == 0xFFFFFF;
			} else {
				const RtmpChunkStream *s = find_stream(r, header_csid(r->header));
				has_extended = s && s->extended;
			}
			if (r->header_have < need + (has_extended ? 4 : 0))
				continue;
			r->header_have = 0;
			*result = start_chunk(r, basic, has_extended, error);
			if (*result == RtmpChunkResult::error)
				break;
		} else {
			size_t n = std::min(r->chunk_left, size - used);
			if (r->buffered + n > RTMP_MAX_BUFFERED) {
				*result = fail(error, RtmpError::buffered_too_much);
				break;
			}
			r->current->data.insert(r->current->data.end(), data + used, data + used + n);
			r->buffered += n;
			r->chunk_left -= n;
			used += n;
		}
		RtmpChunkStream *s = r->current;
		if (!s || r->chunk_left > 0)
			continue;
		r->current = nullptr;
		if (s->data.size() < s->length)
			continue;
		if (control(r, s, result, error)) {
			release(r, s);
			if (*result == RtmpChunkResult::error)
				break;
			continue;
		}
		*out = {s->type, s->stream_id, s->timestamp, {s->data.data(), s->data.size()}};
		r->delivered = s;
		*result = RtmpChunkResult::message;
		break;
	}
	if (*result == RtmpChunkResult::error)
		r->failed = *error;
	r->bytes_read += used;
	return used;
}

void rtmp_chunks_write(std::vector<uint8_t> *out, uint8_t csid, uint8_t type, uint32_t stream_id, uint32_t timestamp,
		       std::span<const uint8_t> payload, uint32_t chunk_size)
{
	uint8_t header[12] = {csid};
	write_be24(header + 1, timestamp & 0xFFFFFF);
	write_be24(header + 4, (uint32_t)payload.size());
	header[7] = type;
	write_le32(header + 8, stream_id);
	out->insert(out->end(), header, header + sizeof(header));
	size_t sent = 0;
	for (;;) {
		size_t n = std::min<size_t>(chunk_size, payload.size() - sent);
		out->insert(out->end(), payload.begin() + (ptrdiff_t)sent, payload.begin() + (ptrdiff_t)(sent + n));
		sent += n;
		if (sent == payload.size())
			break;
		out->push_back((uint8_t)(0xC0 | csid));
	}
}
