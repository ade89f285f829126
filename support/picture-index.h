#pragma once
/* The frame counter the reference sender draws into every picture: 16
 * blocks of s x s pixels at the top of the right half (s = (W/2)/16 rounded
 * down to even), block i white for bit 15-i, black for 0. Read from the
 * centre of each block in the luma plane of a frame handed to OBS. */

#include <obs.h>

#include <cstdint>

inline int picture_block_size(uint32_t width)
{
	int s = (int)(width / 2) / 16;
	s -= s % 2;
	return s < 2 ? 2 : s;
}

/* The counter (0..65535), or -1 for a frame it cannot be read from. */
inline int picture_index(const obs_source_frame *frame)
{
	if (!frame || !frame->data[0] || frame->width < 64 || frame->height < 64)
		return -1;
	switch (frame->format) {
	case VIDEO_FORMAT_I420:
	case VIDEO_FORMAT_NV12:
	case VIDEO_FORMAT_I422:
	case VIDEO_FORMAT_I444:
		break;
	default:
		return -1;
	}
	const int s = picture_block_size(frame->width);
	const uint8_t *row = frame->data[0] + (size_t)(s / 2) * frame->linesize[0];
	int value = 0;
	for (int i = 0; i < 16; i++) {
		uint8_t y = row[frame->width / 2 + (uint32_t)(i * s + s / 2)];
		value = value << 1 | (y > 128 ? 1 : 0);
	}
	return value;
}
