#include "send-log.h"

#include <fstream>
#include <sstream>

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
		std::istringstream in(line);
		std::string kind;
		long connection = -1;
		in >> kind >> connection;
		if (!in || connection < 0 || connection > 100000)
			continue;
		if ((size_t)connection >= log.connections.size())
			log.connections.resize((size_t)connection + 1);
		SentConnection &c = log.connections[(size_t)connection];
		if (kind == "open") {
			in >> c.open_ns;
		} else if (kind == "close") {
			in >> c.close_ns;
		} else if (kind == "video") {
			int64_t frame = 0;
			SentPicture picture = {};
			in >> frame >> picture.ns >> picture.width >> picture.height >> picture.timestamp_us;
			if (in)
				c.video.emplace(frame, picture);
		} else if (kind == "audio") {
			SentAudio audio = {};
			in >> audio.ns >> audio.timestamp_us;
			if (in)
				c.audio.push_back(audio);
		}
	}
	*out = std::move(log);
	return true;
}
