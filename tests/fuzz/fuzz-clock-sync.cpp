/* The clock trackers driven the way the receive loop drives them, with
 * timestamps a phone chooses freely. The input is OBS's time at the start
 * (u64), then events of 13 bytes: a kind (u8, odd for a video picture), how
 * far OBS's clock moved since the last event (u32 ns, up to about 4 s) and
 * the packet's timestamp (u64 sender microseconds, any value). A picture
 * feeds the audio tracker, then gets its own time from the video tracker; an
 * audio block is timed once the first picture anchored the clock. Overflow
 * shows up as an UndefinedBehaviorSanitizer abort. */

#include "timing/clock-sync.h"
#include "fuzz-quiet.h"

#include <cstddef>

namespace {

/* Little-endian values from the front of the input; false once it is used up. */
class Reader {
public:
	Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

	template<typename T> bool read(T *out)
	{
		if (size_ < sizeof(T))
			return false;
		T value = 0;
		for (size_t i = 0; i < sizeof(T); i++)
			value |= (T)data_[i] << (8 * i);
		*out = value;
		data_ += sizeof(T);
		size_ -= sizeof(T);
		return true;
	}

private:
	const uint8_t *data_;
	size_t size_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	Reader input(data, size);
	AudioClock audio = {};
	VideoClock video = {};
	uint64_t now = 0;
	if (!input.read(&now))
		return 0;

	uint8_t kind = 0;
	uint32_t elapsed = 0;
	uint64_t sender_us = 0;
	while (input.read(&kind) && input.read(&elapsed) && input.read(&sender_us)) {
		now += elapsed;
		uint64_t ts = sender_time_ns(sender_us);

		if (!(kind & 1)) {
			if (audio.clock_anchored)
				(void)audio_clock_pts(&audio, ts);
			continue;
		}
		int64_t diff = transit_offset(now, ts);
		bool was_anchored = audio.clock_anchored;
		int64_t re_anchor_delta = 0;
		if (audio_clock_update(&audio, diff, now, &re_anchor_delta))
			FUZZ_CHECK(re_anchor_delta > 500000000LL || re_anchor_delta < -500000000LL);
		FUZZ_CHECK(audio.clock_anchored);
		if (!was_anchored)
			FUZZ_CHECK(audio.clock_offset == diff);

		bool first_picture = !video.video_offset_valid;
		uint64_t pts = video_clock_pts(&video, ts, diff, now);
		if (first_picture)
			FUZZ_CHECK(pts == now);
	}
	return 0;
}
