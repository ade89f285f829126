#pragma once
/* The reference sender's sync marks (--sync-marks) as OBS presents them:
 * once a second the picture flashes white and the sound holds a tone burst,
 * at the same sender time. Noted from a frame filter (when OBS takes a
 * flashed picture, on os_gettime_ns) and from an audio capture callback
 * (the OBS time the burst starts at), then paired: each flash with the
 * nearest burst. */

#include <media-io/audio-io.h>
#include <obs.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

struct SyncMarks {
	std::mutex lock;
	uint64_t from = 0;             /* note nothing before this */
	std::set<int> pictures;        /* counters of the pictures OBS took */
	std::vector<uint64_t> flashes; /* when OBS took a flashed picture */
	std::vector<uint64_t> bursts;  /* the OBS time a burst starts at */
	uint64_t last_loud = 0;
};

/* From the frame filter, as OBS takes `frame` at `now`. */
void sync_marks_note_picture(SyncMarks *marks, const obs_source_frame *frame, uint64_t now);

/* An obs_source_audio_capture_t for a 48 kHz source; `param` is the marks. */
void sync_marks_note_audio(void *param, obs_source_t *source, const audio_data *audio, bool muted);

/* An audio_output_callback_t for OBS's main mix (48 kHz float): the bursts
 * at the timestamps a recording takes; `param` is the marks. */
void sync_marks_note_mix(void *param, size_t mix_idx, audio_data *audio);

/* For each flash from `after` on, the burst nearest to it minus the flash
 * (ns), when that is within half the marks' second; sorted by size, smallest
 * first. */
std::vector<int64_t> sync_mark_offsets(SyncMarks *marks, uint64_t after = 0);
/* The same in the flashes' order. */
std::vector<int64_t> sync_mark_offsets_in_order(SyncMarks *marks, uint64_t after = 0);

/* Of the pictures sent between the first and the last OBS took, the share
 * it took (0 when it took none). */
double sync_marks_shown_share(SyncMarks *marks);
