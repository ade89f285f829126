#include "picture-figures.h"

#include <map>
#include <utility>

namespace {

using PictureKey = std::pair<int, int64_t>; /* connection, frame */

/* The first time each sent picture was seen, keyed by its connection. The
 * counter drawn in the picture holds 16 bits of the frame number. */
std::map<PictureKey, uint64_t> first_seen(const SendLog &log, const std::vector<PictureEvent> &events)
{
	std::map<PictureKey, uint64_t> seen;
	for (const PictureEvent &e : events) {
		int connection = log.connection_of(e.index, e.ns);
		if (connection < 0)
			continue;
		seen.emplace(PictureKey{connection, e.index}, e.ns);
	}
	return seen;
}

} // namespace

PictureFigures picture_figures(const SendLog &log, const PictureTrack &track, uint64_t from_ns, uint64_t to_ns)
{
	PictureFigures f;
	std::vector<PictureEvent> handoffs = track.handoffs();
	std::map<PictureKey, uint64_t> handed = first_seen(log, handoffs);
	std::map<PictureKey, uint64_t> shown = first_seen(log, track.renders());

	for (size_t n = 0; n < log.connections.size(); n++) {
		const SentConnection &c = log.connections[n];
		for (const auto &[frame, picture] : c.video) {
			if (picture.ns < from_ns || picture.ns >= to_ns || frame > 0xFFFF)
				continue;
			f.sent++;
			PictureKey key{(int)n, frame};
			auto h = handed.find(key);
			if (h != handed.end()) {
				f.handed++;
				f.handoff_ms.push_back((double)(h->second - picture.ns) / 1e6);
				f.handoff_at_s.push_back((double)(h->second - from_ns) / 1e9);
			}
			auto s = shown.find(key);
			if (s != shown.end()) {
				f.shown++;
				f.tick_ms.push_back((double)(s->second - picture.ns) / 1e6);
			}
		}
		if (c.open_ns < from_ns || c.open_ns >= to_ns)
			continue;
		for (const PictureEvent &e : handoffs) {
			if (e.ns >= c.open_ns && log.connection_of(e.index, e.ns) == (int)n) {
				f.first_picture_ms.push_back((double)(e.ns - c.open_ns) / 1e6);
				break;
			}
		}
	}
	return f;
}
