#pragma once
/* The moving test picture, drawn straight into YUV 4:2:0 planes with BT.709
 * limited-range values, so that a receiver can check what it shows.
 *
 * Layout for a W x H picture (W and H even), frame number n counted from 0 on
 * each connection:
 *
 *   +-------------------+-------------------+
 *   |                   |[b15][b14]...[b0]  |  counter row: 16 blocks of
 *   |       RED         |                   |  s x s pixels at y 0..s-1,
 *   |   Y 63 U 102      |      BLUE         |  x = W/2 + i*s; block i holds
 *   |      V 240        |  Y 32 U 240 V 118 |  bit 15-i of n mod 65536:
 *   |                   |                   |  white = 1, black = 0
 *   +-------------------+-------------------+  y = H/2
 *   | white | yellow | cyan | green | magenta | red | blue | black |
 *   |   eight bars, W/8 wide each, moving 4 pixels left per frame |
 *   +-------------------------------------------------------------+
 *
 * s = (W/2)/16 rounded down to an even number, at least 2.
 * Bottom half: pixel x shows bar ((x + 4n) mod W) * 8 / W. */

#include <cstdint>

struct YuvColour {
	uint8_t y, u, v;
};

inline constexpr YuvColour pattern_red = {63, 102, 240};
inline constexpr YuvColour pattern_blue = {32, 240, 118};
inline constexpr YuvColour pattern_white = {235, 128, 128};
inline constexpr YuvColour pattern_black = {16, 128, 128};
inline constexpr YuvColour pattern_bars[8] = {
	{235, 128, 128}, /* white */
	{219, 16, 138},  /* yellow */
	{188, 154, 16},  /* cyan */
	{173, 42, 26},   /* green */
	{78, 214, 230},  /* magenta */
	{63, 102, 240},  /* red */
	{32, 240, 118},  /* blue */
	{16, 128, 128},  /* black */
};
inline constexpr int pattern_counter_bits = 16;
inline constexpr int pattern_scroll_per_frame = 4;

/* Side of one counter block for a picture of this width. */
int pattern_block_size(int width);

struct YuvPlanes {
	uint8_t *data[3];
	int linesize[3];
	int width;
	int height;
};

void pattern_draw(const YuvPlanes &planes, int64_t frame_number);

/* Sync marks (--sync-marks): once a second, at the same sender time, the
 * picture flashes white below its counter row and the sound holds a burst of
 * the tone, silent the rest of the second. */
#define SYNC_BURST_MS 50

/* Everything below the counter row white. */
void pattern_flash(const YuvPlanes &planes);
