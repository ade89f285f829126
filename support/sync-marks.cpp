#include "sync-marks.h"

#include "picture-index.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

/* The sender's picture is red at a quarter of its width and height; a flash
 * makes it white. */
bool flashed(const obs_source_frame *frame)
{
	if (!frame->data[0] || frame->width < 64 || frame->height < 64)
		return false;
	return frame->data[0][(size_t)(frame->height / 4) * frame->linesize[0] + frame->width / 4] > 200;
}

constexpr uint64_t burst_quiet_ns = 200000000ull; /* a burst starts after this long without a loud sample */
constexpr int64_t pair_limit_ns = 500000000;      /* half the time between marks */

} // namespace

void sync_marks_note_picture(SyncMarks *marks, const obs_source_frame *frame, uint64_t now)
{
	int index = picture_index(frame);
	std::lock_guard<std::mutex> guard(marks->lock);
	if (now < marks->from || index < 0)
		return;
	marks->pictures.insert(index);
	if (flashed(frame))
		marks->flashes.push_back(now);
}

namespace {

/* The start of each burst in 48 kHz float samples that begin at `timestamp`. */
void note_bursts(SyncMarks *marks, const uint8_t *data, uint32_t frames, uint64_t timestamp)
{
	const float *samples = reinterpret_cast<const float *>(data);
	std::lock_guard<std::mutex> guard(marks->lock);
	for (uint32_t i = 0; samples && i < frames; i++) {
		if (std::fabs(samples[i]) < 0.25f)
			continue;
		uint64_t t = timestamp + (uint64_t)i * 1000000000ull / 48000;
		if (t >= marks->from && (marks->last_loud == 0 || t - marks->last_loud > burst_quiet_ns))
			marks->bursts.push_back(t);
		marks->last_loud = t;
	}
}

} // namespace

void sync_marks_note_audio(void *param, obs_source_t *, const audio_data *audio, bool)
{
	note_bursts(static_cast<SyncMarks *>(param), audio->data[0], audio->frames, audio->timestamp);
}

void sync_marks_note_mix(void *param, size_t, audio_data *audio)
{
	note_bursts(static_cast<SyncMarks *>(param), audio->data[0], audio->frames, audio->timestamp);
}

std::vector<int64_t> sync_mark_offsets_in_order(SyncMarks *marks, uint64_t after)
{
	std::lock_guard<std::mutex> guard(marks->lock);
	std::vector<int64_t> offsets;
	for (uint64_t flash : marks->flashes) {
		if (flash < after)
			continue;
		int64_t best = INT64_MAX;
		for (uint64_t burst : marks->bursts) {
			int64_t d = (int64_t)(burst - flash);
			if (std::llabs(d) < std::llabs(best))
				best = d;
		}
		if (best != INT64_MAX && std::llabs(best) < pair_limit_ns)
			offsets.push_back(best);
	}
	return offsets;
}

std::vector<int64_t> sync_mark_offsets(SyncMarks *marks, uint64_t after)
{
	std::vector<int64_t> offsets = sync_mark_offsets_in_order(marks, after);
	std::sort(offsets.begin(), offsets.end(), [](int64_t a, int64_t b) { return std::llabs(a) < std::llabs(b); });
	return offsets;
}

double sync_marks_shown_share(SyncMarks *marks)
{
	std::lock_guard<std::mutex> guard(marks->lock);
	if (marks->pictures.empty())
		return 0;
	int first = *marks->pictures.begin(), last = *marks->pictures.rbegin();
	return (double)marks->pictures.size() / (double)(last - first + 1);
}
