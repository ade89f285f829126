#include "send-log.h"
#include "send-log-line.h"

#include <fstream>

int SendLog::connection_of(int64_t frame, uint64_t at_ns) const
{
	for (int n = (int)connections.size() - 1; n >= 0; n--) {
		const SentConnection &c = connections[(size_t)n];
		if (c.open_ns > at_ns)
			continue;
		auto it = c.video.find(frame);
		if (it != c.video.end() && it->second.ns <= at_ns)
			return n;
	}
	return -1;
}

size_t SendLog::pictures() const
{
	size_t n = 0;
	for (const SentConnection &c : connections)
		n += c.video.size();
	return n;
}

bool send_log_read(const std::string &path, SendLog *out)
{
	std::ifstream file(path);
	if (!file)
		return false;
	SendLog log;
	std::string line;
	while (std::getline(file, line)) {
		SendLogLine event;
		if (!send_log_parse(line, &event) || event.connection < 0 || event.connection > 100000)
			continue;
		if ((size_t)event.connection >= log.connections.size())
			log.connections.resize((size_t)event.connection + 1);
		SentConnection &c = log.connections[(size_t)event.connection];
		switch (event.kind) {
		case SendLogKind::open:
			c.open_ns = event.ns;
			break;
		case SendLogKind::close:
			c.close_ns = event.ns;
			break;
		case SendLogKind::video:
			c.video.emplace(event.frame,
					SentPicture{event.ns, event.width, event.height, event.timestamp_us});
			break;
		case SendLogKind::audio:
			c.audio.push_back({event.ns, event.timestamp_us});
			break;
		}
	}
	*out = std::move(log);
	return true;
}
