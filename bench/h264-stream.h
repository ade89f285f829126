#pragma once
/* A camera stream made at run time, as a phone app sends it: libx264 through
 * libavcodec, no B-frames, zero latency, one slice per picture, SPS/PPS in
 * band before every keyframe, one access unit per packet, at a phone's
 * bit-rate. The picture is a textured scene that pans (motion the decoder has
 * to follow), a moving block and fresh sensor grain on every frame. */

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct StreamShape {
	int width = 1280;
	int height = 720;
	int frames = 300;
	int fps = 30;
	int gop = 60;                 /* a keyframe every two seconds */
	int64_t bit_rate = 6'000'000; /* bits per second */
};

/* Two seconds at 640x360 and 2 Mbit/s: enough to stream a source for the
 * benchmarks that time what the plug-in does around the pictures. */
constexpr StreamShape small_stream_shape = {640, 360, 60, 30, 60, 2'000'000};

struct EncodedStream {
	StreamShape shape;
	std::vector<std::vector<uint8_t>> access_units;
	std::vector<bool> keyframes;

	size_t total_bytes() const;
	double megabits_per_second() const;
};

/* Encodes the whole stream; on failure the reason is in *error. */
bool make_stream(const StreamShape &shape, EncodedStream *out, std::string *error);
