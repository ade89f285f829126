#pragma once
/* A camera stream made at run time, as a phone app sends it: libx264 (or
 * libx265) through libavcodec, no B-frames, zero latency, one slice per
 * picture, parameter sets in band before every keyframe, one access unit per
 * packet, at a phone's bit-rate. The picture is a textured scene that pans
 * (motion the decoder has to follow), a moving block and fresh sensor grain
 * on every frame. */

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AVFrame;

struct StreamShape {
	int width = 1280;
	int height = 720;
	int frames = 300;
	int fps = 30;
	int gop = 60;                     /* a keyframe every two seconds */
	int64_t bit_rate = 6'000'000;     /* bits per second */
	const char *preset = "superfast"; /* keeps CABAC and the deblocking filter, as a phone's stream has them */
	bool h265 = false;                /* libx265 with the same settings */
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

/* The stream's pictures, drawn in order: each call draws the next frame (the
 * grain goes on from one frame to the next), so a second pattern made from
 * the same shape draws the same pictures again, e.g. the source of each
 * decoded picture. */
class TestPattern {
public:
	explicit TestPattern(const StreamShape &shape);
	/* Into a YUV 4:2:0 picture of the shape's size. */
	void draw_next(AVFrame *frame);

private:
	int scene_width_;
	std::vector<uint8_t> scene_luma_;
	uint32_t grain_ = 2463534242u;
	int next_ = 0;
};

/* Encodes the whole stream; on failure the reason is in *error. */
bool make_stream(const StreamShape &shape, EncodedStream *out, std::string *error);
