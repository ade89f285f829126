#include "soak-figures.h"

#include <algorithm>
#include <map>

namespace {

template<typename Event> OrderFigures order_of(const std::vector<Event> &events)
{
	OrderFigures f;
	for (size_t i = 1; i < events.size(); i++) {
		if (events[i].timestamp >= events[i - 1].timestamp)
			continue;
		f.steps_back++;
		f.largest_back_ms =
			std::max(f.largest_back_ms, (double)(events[i - 1].timestamp - events[i].timestamp) / 1e6);
	}
	return f;
}

/* The connection open at `ns`: the latest one opened at or before it. */
int connection_at(const SendLog &log, uint64_t ns)
{
	for (int n = (int)log.connections.size() - 1; n >= 0; n--)
		if (log.connections[(size_t)n].open_ns <= ns)
			return n;
	return -1;
}

/* Where OBS put the phone's clock for pictures: OBS timestamp minus the
 * phone's, per picture of the connection, by hand-off time. */
std::map<uint64_t, int64_t> video_offsets(const SendLog &log, const std::vector<PictureEvent> &handoffs, int connection)
{
	std::map<uint64_t, int64_t> offsets;
	const SentConnection &c = log.connections[(size_t)connection];
	for (const PictureEvent &e : handoffs) {
		if (log.connection_of(e.index, e.ns) != connection)
			continue;
		const SentPicture &picture = c.video.at(e.index);
		offsets[e.ns] = (int64_t)(e.timestamp - picture.timestamp_us * 1000);
	}
	return offsets;
}

} // namespace

OrderFigures picture_order(const std::vector<PictureEvent> &handoffs)
{
	return order_of(handoffs);
}

OrderFigures audio_order(const std::vector<AudioEvent> &audio)
{
	return order_of(audio);
}

double slope(const std::vector<double> &x, const std::vector<double> &y)
{
	size_t n = std::min(x.size(), y.size());
	if (n < 2)
		return 0;
	double mx = 0, my = 0;
	for (size_t i = 0; i < n; i++) {
		mx += x[i];
		my += y[i];
	}
	mx /= (double)n;
	my /= (double)n;
	double sxy = 0, sxx = 0;
	for (size_t i = 0; i < n; i++) {
		sxy += (x[i] - mx) * (y[i] - my);
		sxx += (x[i] - mx) * (x[i] - mx);
	}
	return sxx > 0 ? sxy / sxx : 0;
}

std::vector<double> av_offsets_ms(const SendLog &log, const std::vector<PictureEvent> &handoffs,
				  const std::vector<AudioEvent> &audio, uint64_t settle_ns)
{
	std::vector<double> out;
	for (int n = 0; n < (int)log.connections.size(); n++) {
		const SentConnection &c = log.connections[(size_t)n];
		std::vector<const AudioEvent *> received;
		for (const AudioEvent &a : audio)
			if (connection_at(log, a.ns) == n)
				received.push_back(&a);
		if (received.empty() || c.audio.empty())
			continue;

		/* The most common shift between the k-th block received and the
		 * last block written before it arrived. */
		std::map<long, size_t> shifts;
		size_t written = 0;
		for (size_t k = 0; k < received.size(); k++) {
			while (written < c.audio.size() && c.audio[written].ns <= received[k]->ns)
				written++;
			if (written > 0)
				shifts[(long)(written - 1) - (long)k]++;
		}
		if (shifts.empty())
			continue;
		long shift = std::max_element(shifts.begin(), shifts.end(), [](const auto &a, const auto &b) {
				     return a.second < b.second;
			     })->first;

		std::map<uint64_t, int64_t> video = video_offsets(log, handoffs, n);
		for (size_t k = 0; k < received.size(); k++) {
			long sent = (long)k + shift;
			if (sent < 0 || sent >= (long)c.audio.size() || received[k]->ns < c.open_ns + settle_ns)
				continue;
			auto v = video.upper_bound(received[k]->ns);
			if (v == video.begin())
				continue;
			--v;
			int64_t audio_offset =
				(int64_t)(received[k]->timestamp - c.audio[(size_t)sent].timestamp_us * 1000);
			out.push_back((double)(audio_offset - v->second) / 1e6);
		}
	}
	return out;
}
