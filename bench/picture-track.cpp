#include "picture-track.h"

#include <algorithm>

void PictureTrack::reserve(size_t pictures, size_t audio_blocks)
{
	std::lock_guard<std::mutex> guard(lock_);
	/* Growing the size writes every element; shrinking back keeps the
	 * capacity and the events already noted. */
	size_t n = handoffs_.size();
	handoffs_.resize(std::max(n, pictures));
	handoffs_.resize(n);
	n = renders_.size();
	renders_.resize(std::max(n, pictures));
	renders_.resize(n);
	n = audio_.size();
	audio_.resize(std::max(n, audio_blocks));
	audio_.resize(n);
}

void PictureTrack::add_handoff(const PictureEvent &e)
{
	std::lock_guard<std::mutex> guard(lock_);
	handoffs_.push_back(e);
}

void PictureTrack::add_render(const PictureEvent &e)
{
	std::lock_guard<std::mutex> guard(lock_);
	renders_.push_back(e);
}

void PictureTrack::add_audio(const AudioEvent &e)
{
	std::lock_guard<std::mutex> guard(lock_);
	audio_.push_back(e);
}

std::vector<AudioEvent> PictureTrack::audio() const
{
	std::lock_guard<std::mutex> guard(lock_);
	return audio_;
}

std::vector<PictureEvent> PictureTrack::handoffs() const
{
	std::lock_guard<std::mutex> guard(lock_);
	return handoffs_;
}

std::vector<PictureEvent> PictureTrack::renders() const
{
	std::lock_guard<std::mutex> guard(lock_);
	return renders_;
}
