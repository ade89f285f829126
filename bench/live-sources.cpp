#include "live-sources.h"
#include "obs-settle.h"

#include <csignal>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

LiveStage::LiveStage(const char *scene_name) : env_(live_canvas_width, live_canvas_height)
{
	if (!env_.load_module())
		return;
	handoff_probe_register();
	scene_ = obs_scene_create(scene_name);
	obs_set_output_source(0, obs_scene_get_source(scene_));
}

void LiveStage::close()
{
	if (!scene_)
		return;
	obs_set_output_source(0, nullptr);
	obs_scene_release(scene_);
	scene_ = nullptr;
}

const char *source_kind_label(SourceKind kind)
{
	/* In the order of SourceKind. */
	static const char *const labels[] = {"Ostrelin", "Media Source, lowest latency", "Media Source, defaults"};
	static_assert(sizeof(labels) / sizeof(*labels) == (size_t)SourceKind::media_defaults + 1);
	return labels[(int)kind];
}

std::vector<std::string> sender_options(SourceKind kind, bool audio)
{
	std::vector<std::string> options = {"--width", "1280", "--height", "720", "--fps", "30", "--gop", "30"};
	if (kind != SourceKind::ostrelin)
		options.push_back("--annexb");
	else if (!audio)
		options.push_back("--no-audio");
	return options;
}

static obs_source_t *create_media_source(const char *name, uint16_t port, bool lowest)
{
	obs_data_t *settings = obs_data_create();
	obs_data_set_bool(settings, "is_local_file", false);
	std::string input = "tcp://127.0.0.1:" + std::to_string(port);
	obs_data_set_string(settings, "input", input.c_str());
	obs_data_set_string(settings, "input_format", "h264");
	if (lowest) {
		obs_data_set_int(settings, "buffering_mb", 0);
		obs_data_set_string(settings, "ffmpeg_options", "probesize=32 analyzeduration=0");
	}
	obs_source_t *source = obs_source_create("ffmpeg_source", name, settings, nullptr);
	obs_data_release(settings);
	return source;
}

LiveSource::LiveSource(SourceKind kind, obs_scene_t *scene, const std::string &name, const std::string &log_path,
		       bool audio, const std::vector<std::string> &more_options)
	: kind_(kind),
	  log_path_(log_path),
	  scene_(scene)
{
	std::vector<std::string> options = {"--send-log", log_path};
	for (const std::vector<std::string> &more : {sender_options(kind, audio), more_options})
		options.insert(options.end(), more.begin(), more.end());
	sender_ = std::make_unique<SenderProcess>(options);
	if (!sender_->running())
		return;
	before_ = threads_now();
	source_ = kind == SourceKind::ostrelin
			  ? create_ostrelin_source(name.c_str(), sender_->port())
			  : create_media_source(name.c_str(), sender_->port(), kind == SourceKind::media_lowest);
	if (!source_)
		return;
	handoff_probe_attach(source_, &track_);
	item_ = obs_scene_add(scene_, source_);
	/* Fitted into the canvas, as a user places a camera. */
	obs_video_info ovi = {};
	if (item_ && obs_get_video_info(&ovi)) {
		vec2 bounds = {{{(float)ovi.base_width, (float)ovi.base_height}}};
		obs_sceneitem_set_bounds_type(item_, OBS_BOUNDS_SCALE_INNER);
		obs_sceneitem_set_bounds(item_, &bounds);
	}
}

LiveSource::~LiveSource()
{
	remove();
}

bool LiveSource::wait_first_picture(int seconds) const
{
	return wait_until([&] { return !track_.handoffs().empty(); }, std::chrono::seconds(seconds));
}

void LiveSource::remove()
{
	if (item_) {
		obs_sceneitem_remove(item_);
		item_ = nullptr;
	}
	if (source_) {
		handoff_probe_detach(source_);
		obs_source_release(source_);
		source_ = nullptr;
	}
	if (sender_)
		sender_->stop(SIGTERM);
}
