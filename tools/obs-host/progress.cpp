#include "progress.h"

#include <cinttypes>
#include <cstdio>

static double rate(uint64_t count, double seconds)
{
	return seconds > 0 ? (double)count / seconds : 0.0;
}

std::string progress_line(double elapsed_s, LinkState state, const ReceivedCounts &now, const ReceivedCounts &before,
			  double interval_s)
{
	char size[32] = "-";
	if (now.width && now.height)
		snprintf(size, sizeof(size), "%ux%u", now.width, now.height);
	char line[256];
	snprintf(line, sizeof(line), "%4.0f s  %-18s  pictures %6" PRIu64 "  %5.1f fps  audio blocks %6" PRIu64 "  %s",
		 elapsed_s, link_state_name(state), now.pictures, rate(now.pictures - before.pictures, interval_s),
		 now.audio_blocks, size);
	return line;
}

std::string summary_line(const ReceivedCounts &counts, double elapsed_s)
{
	char size[48] = "";
	if (counts.width && counts.height)
		snprintf(size, sizeof(size), ", last %ux%u", counts.width, counts.height);
	char line[256];
	snprintf(line, sizeof(line),
		 "received %" PRIu64 " pictures (%.1f fps%s) and %" PRIu64 " audio blocks (%" PRIu64
		 " samples per channel) in %.1f s",
		 counts.pictures, rate(counts.pictures, elapsed_s), size, counts.audio_blocks, counts.audio_frames,
		 elapsed_s);
	return line;
}
