/* The RTMP server logic as a publisher drives it: a valid handshake is put in
 * front (unless the first byte's top bit is set, when the input goes to the
 * handshake too), the rest is fed in parts whose sizes come from the first
 * byte, and the session is fed until it has taken everything or drops the
 * publisher. Whatever comes, the memory it holds stays within its bounds, it
 * always makes progress, and its packets are well formed. */

#include "fuzz-quiet.h"
#include "protocol/rtmp-session.h"

#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	uint32_t seed = data[0];
	std::vector<uint8_t> wire;
	if (!(seed & 0x80)) {
		wire.push_back(RTMP_VERSION);
		wire.resize(1 + 2 * RTMP_HANDSHAKE_SIZE, 0);
	}
	wire.insert(wire.end(), data + 1, data + size);

	auto s = std::make_unique<RtmpSession>();
	rtmp_session_init(s.get(), "k");
	size_t at = 0;
	while (at < wire.size()) {
		seed = seed * 1103515245u + 12345u;
		size_t part = std::min<size_t>(wire.size() - at, 1 + (seed >> 16) % 300);
		size_t end = at + part;
		bool dropped = false;
		while (at < end && !dropped) {
			RtmpEvent event;
			size_t used = rtmp_session_feed(s.get(), wire.data() + at, end - at, &event);
			FUZZ_CHECK(used <= end - at);
			FUZZ_CHECK(used > 0 || event.kind != RtmpEventKind::none);
			at += used;
			dropped = event.kind == RtmpEventKind::refused || event.kind == RtmpEventKind::error;
			if (event.kind == RtmpEventKind::media) {
				const MediaPacket &p = event.packet;
				FUZZ_CHECK(p.size <= STREAM_MAX_PAYLOAD);
				FUZZ_CHECK(p.kind ==
					   (p.codec == MediaCodec::aac ? MediaKind::audio : MediaKind::video));
				FUZZ_CHECK(p.dts_us % 1000 == 0 && p.pts_us % 1000 == 0);
				if (p.kind == MediaKind::audio && p.config)
					FUZZ_CHECK(p.audio.valid && p.audio.asc_len == p.size &&
						   p.audio.sample_rate > 0);
				FUZZ_CHECK(s->phase == RtmpPhase::publishing);
			}
			FUZZ_CHECK(s->chunks.buffered <= RTMP_MAX_BUFFERED);
			FUZZ_CHECK(s->output.size() <= RTMP_MAX_PENDING_OUTPUT + 4 * RTMP_SERVER_CHUNK_SIZE);
			FUZZ_CHECK(s->flv.params.size() <= FLV_MAX_PARAMS);
		}
		if (dropped)
			break;
		s->output.clear(); /* sent */
	}
	return 0;
}
