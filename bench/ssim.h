#pragma once
/* Structural similarity (SSIM) of two 8-bit planes, for how close a decoded
 * picture is to its source: the mean over 8x8 windows, 4 pixels apart, of
 *
 *   (2 ma mb + C1) (2 cov + C2) / ((ma^2 + mb^2 + C1) (va + vb + C2))
 *
 * with ma, mb the windows' means, va, vb their variances, cov their
 * covariance (all over the window's 64 pixels, unweighted) and
 * C1 = (0.01 * 255)^2, C2 = (0.03 * 255)^2: the figure libx264 and FFmpeg
 * print. 1 for identical planes, lower the further apart. Pixels right of
 * or below the last whole 4x4 block take no part. */

#include <cstdint>

struct PlaneView {
	const uint8_t *data;
	int stride; /* bytes from one row to the next */
	int width;
	int height;
};

/* Both planes must have the same size; NaN when they do not or when they
 * hold no whole window (smaller than 8x8). */
double ssim_plane(const PlaneView &a, const PlaneView &b);
