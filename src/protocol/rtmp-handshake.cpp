#include "protocol/rtmp-handshake.h"

#include <algorithm>
#include <cstring>

void rtmp_handshake_init(RtmpHandshake *hs)
{
	hs->state = RtmpHandshakeState::c0c1;
	hs->have = 0;
}

static void write_replies(const RtmpHandshake *hs, std::vector<uint8_t> *out)
{
	out->push_back(RTMP_VERSION);
	/* S1: time 0, zero, then a fixed pattern: plain clients read nothing in it. */
	size_t s1 = out->size();
	out->resize(s1 + RTMP_HANDSHAKE_SIZE, 0);
	for (size_t i = 8; i < RTMP_HANDSHAKE_SIZE; i++)
		(*out)[s1 + i] = (uint8_t)(i * 131 + 7);
	out->insert(out->end(), hs->c1, hs->c1 + RTMP_HANDSHAKE_SIZE);
}

size_t rtmp_handshake_read(RtmpHandshake *hs, const uint8_t *data, size_t size, std::vector<uint8_t> *out,
			   RtmpError *error)
{
	size_t used = 0;
	if (hs->state == RtmpHandshakeState::c0c1 && used < size) {
		if (hs->have == 0) {
			if (data[0] != RTMP_VERSION) {
				hs->state = RtmpHandshakeState::failed;
				*error = RtmpError::handshake_version;
				return 1;
			}
			hs->have = 1;
			used = 1;
		}
		size_t n = std::min(size - used, 1 + RTMP_HANDSHAKE_SIZE - hs->have);
		memcpy(hs->c1 + hs->have - 1, data + used, n);
		hs->have += n;
		used += n;
		if (hs->have == 1 + RTMP_HANDSHAKE_SIZE) {
			write_replies(hs, out);
			hs->state = RtmpHandshakeState::c2;
			hs->have = 0;
		}
	}
	if (hs->state == RtmpHandshakeState::c2 && used < size) {
		size_t n = std::min(size - used, RTMP_HANDSHAKE_SIZE - hs->have);
		hs->have += n;
		used += n;
		if (hs->have == RTMP_HANDSHAKE_SIZE)
			hs->state = RtmpHandshakeState::done;
	}
	return used;
}
