#pragma once
/* A picture read back as RGBA (from OBS's renderer or a PNG), and the check
 * that a box of it holds one colour. */

#include <cstdint>
#include <cstdlib>
#include <vector>

struct Rgba {
	int r, g, b, a;
};

struct Picture {
	uint32_t width = 0;
	uint32_t height = 0;
	std::vector<uint8_t> rgba;

	Rgba at(uint32_t x, uint32_t y) const
	{
		const uint8_t *p = &rgba[((size_t)y * width + x) * 4];
		return {p[0], p[1], p[2], p[3]};
	}
};

/* Pixels of the box [x0, x1) x [y0, y1) further than `tolerance` from the
 * colour in any channel, or not opaque. */
inline int pixels_off(const Picture &p, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, Rgba want, int tolerance)
{
	int off = 0;
	for (uint32_t y = y0; y < y1; y++) {
		for (uint32_t x = x0; x < x1; x++) {
			Rgba c = p.at(x, y);
			off += std::abs(c.r - want.r) > tolerance || std::abs(c.g - want.g) > tolerance ||
			       std::abs(c.b - want.b) > tolerance || c.a != 255;
		}
	}
	return off;
}
