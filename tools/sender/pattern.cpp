#include "pattern.h"

#include <cstddef>
#include <cstring>

int pattern_block_size(int width)
{
	int side = (width / 2) / pattern_counter_bits;
	side &= ~1;
	return side < 2 ? 2 : side;
}

/* The colour of one luma position; chroma takes the colour of the top-left
 * luma sample of its 2x2 block. */
static YuvColour colour_at(int x, int y, int width, int height, int64_t frame_number, int block)
{
	if (y >= height / 2) {
		int64_t shifted = (x + pattern_scroll_per_frame * frame_number) % width;
		return pattern_bars[shifted * 8 / width];
	}
	if (x < width / 2)
		return pattern_red;
	int index = (x - width / 2) / block;
	if (y < block && index < pattern_counter_bits) {
		int bit = pattern_counter_bits - 1 - index;
		bool one = ((frame_number & 0xFFFF) >> bit) & 1;
		return one ? pattern_white : pattern_black;
	}
	return pattern_blue;
}

void pattern_flash(const YuvPlanes &planes)
{
	int block = pattern_block_size(planes.width);
	for (int y = block; y < planes.height; y++)
		memset(planes.data[0] + (size_t)y * planes.linesize[0], pattern_white.y, (size_t)planes.width);
	for (int cy = block / 2; cy < planes.height / 2; cy++) {
		memset(planes.data[1] + (size_t)cy * planes.linesize[1], pattern_white.u, (size_t)planes.width / 2);
		memset(planes.data[2] + (size_t)cy * planes.linesize[2], pattern_white.v, (size_t)planes.width / 2);
	}
}

void pattern_draw(const YuvPlanes &planes, int64_t frame_number)
{
	int block = pattern_block_size(planes.width);
	for (int y = 0; y < planes.height; y++) {
		uint8_t *luma = planes.data[0] + (size_t)y * planes.linesize[0];
		for (int x = 0; x < planes.width; x++)
			luma[x] = colour_at(x, y, planes.width, planes.height, frame_number, block).y;
	}
	for (int cy = 0; cy < planes.height / 2; cy++) {
		uint8_t *u = planes.data[1] + (size_t)cy * planes.linesize[1];
		uint8_t *v = planes.data[2] + (size_t)cy * planes.linesize[2];
		for (int cx = 0; cx < planes.width / 2; cx++) {
			YuvColour c = colour_at(2 * cx, 2 * cy, planes.width, planes.height, frame_number, block);
			u[cx] = c.u;
			v[cx] = c.v;
		}
	}
}
