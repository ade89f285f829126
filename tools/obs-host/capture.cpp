#include "capture.h"

#include "frame-filter.h"

static const char counter_filter_id[] = "ostrelin_host_picture_counter";

void capture_register_types()
{
	frame_filter_register(counter_filter_id, "picture counter", Capture::on_picture);
}

Capture::Capture(obs_source_t *source) : source_(source)
{
	filter_ = frame_filter_attach(source_, counter_filter_id, this);
	obs_source_add_audio_capture_callback(source_, on_audio, this);
}

Capture::~Capture()
{
	obs_source_remove_audio_capture_callback(source_, on_audio, this);
	frame_filter_detach(source_, filter_);
}

ReceivedCounts Capture::counts() const
{
	ReceivedCounts counts;
	counts.pictures = pictures_.load();
	counts.audio_blocks = audio_blocks_.load();
	counts.audio_frames = audio_frames_.load();
	uint32_t size = size_.load();
	counts.width = size >> 16;
	counts.height = size & 0xFFFF;
	return counts;
}

obs_source_frame *Capture::on_picture(void *data, obs_source_frame *frame)
{
	auto *self = static_cast<Capture *>(data);
	self->size_ = (frame->width & 0xFFFF) << 16 | (frame->height & 0xFFFF);
	self->pictures_++;
	return frame;
}

void Capture::on_audio(void *data, obs_source_t *, const audio_data *audio, bool)
{
	auto *self = static_cast<Capture *>(data);
	self->audio_frames_ += audio->frames;
	self->audio_blocks_++;
}
