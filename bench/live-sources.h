#pragma once
/* The sources the comparison benchmarks put side by side, made as a user
 * makes them, each with its own sender process and picture track, in one
 * scene on OBS's output (so that OBS's video tick takes their frames):
 *   - an Ostrelin source over Wi-Fi to 127.0.0.1 and the sender's port;
 *   - OBS's Media Source (ffmpeg_source from OBS's obs-ffmpeg module) on a
 *     network input, tcp://127.0.0.1:port, input format h264, either with
 *     its lowest-latency settings (buffering 0 MB, FFmpeg options
 *     "probesize=32 analyzeduration=0") or with its defaults. */

#include "handoff-probe.h"
#include "obs-env.h"
#include "ostrelin-sources.h"
#include "send-log.h"
#include "sender-process.h"
#include "thread-cpu.h"

#include <obs.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

/* The sources are 1280x720; OBS draws them into a smaller canvas so that its
 * software renderer, on the same two cores, keeps up with 30 fps. */
constexpr uint32_t live_canvas_width = 640;
constexpr uint32_t live_canvas_height = 360;

/* libobs started at that canvas with the built module loaded, the hand-off
 * probe registered and a new scene on OBS's output. */
class LiveStage {
public:
	explicit LiveStage(const char *scene_name);
	~LiveStage() { close(); }
	LiveStage(const LiveStage &) = delete;
	LiveStage &operator=(const LiveStage &) = delete;

	/* False when the module did not load; there is no scene then. */
	bool loaded() const { return scene_ != nullptr; }
	ObsEnv &env() { return env_; }
	obs_scene_t *scene() const { return scene_; }
	/* Takes the scene off OBS's output and releases it. */
	void close();

private:
	ObsEnv env_;
	obs_scene_t *scene_ = nullptr;
};

enum class SourceKind { ostrelin, media_lowest, media_defaults };

const char *source_kind_label(SourceKind kind);

/* The 720p30 live stream of every comparison: an IDR a second, no audio
 * unless asked, Annex B alone for the Media Source. */
std::vector<std::string> sender_options(SourceKind kind, bool audio);

class LiveSource {
public:
	/* Starts the sender, then creates the source, follows it and adds it
	 * to the scene. The threads the source starts are those that appear
	 * until ready() (call thread_snapshot_done() once it has settled). */
	LiveSource(SourceKind kind, obs_scene_t *scene, const std::string &name, const std::string &log_path,
		   bool audio = false, const std::vector<std::string> &more_options = {});
	~LiveSource();
	LiveSource(const LiveSource &) = delete;
	LiveSource &operator=(const LiveSource &) = delete;

	bool valid() const { return source_ != nullptr; }
	SourceKind kind() const { return kind_; }
	obs_source_t *source() const { return source_; }
	const PictureTrack &track() const { return track_; }
	PictureTrack &track() { return track_; }
	/* Waits until the first numbered picture has been handed to OBS. */
	bool wait_first_picture(int seconds) const;
	/* Takes the threads started since construction as this source's. */
	void thread_snapshot_done() { threads_ = threads_added(before_, threads_now()); }
	const ThreadSet &threads() const { return threads_; }
	bool read_log(SendLog *log) const { return send_log_read(log_path_, log); }
	/* Removes the source from the scene and releases it, then stops the sender. */
	void remove();

private:
	SourceKind kind_;
	std::string log_path_;
	std::unique_ptr<SenderProcess> sender_;
	obs_scene_t *scene_;
	obs_sceneitem_t *item_ = nullptr;
	obs_source_t *source_ = nullptr;
	PictureTrack track_;
	ThreadSet before_;
	ThreadSet threads_;
};
