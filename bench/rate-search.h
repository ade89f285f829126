#pragma once
/* The search for the bit rate at which an encoder reaches a given quality
 * (an SSIM): encode at a rate, measure the rate it gave and the quality, and
 * go on until two measured rates close around the target; then interpolate
 * between them. Pure arithmetic on the points measured so far. */

#include <vector>

struct RatePoint {
	double bit_rate; /* as measured on the encoded stream, bits per second */
	double ssim;
};

/* Each step outward while the target is not yet bracketed multiplies (or
 * divides) the rate by this. */
constexpr double rate_search_step = 2.0;

/* The next rate to encode at: `first` when nothing is measured yet; the
 * highest rate tried times rate_search_step while every point falls short of
 * the target; the lowest divided by it while every point reaches it; else
 * the geometric mean of the two rates that bracket the target (see
 * rate_at_quality). */
double rate_search_next(const std::vector<RatePoint> &points, double target, double first);

/* True once the target is bracketed by two rates at most `closeness` times
 * apart (e.g. 1.25). */
bool rate_search_done(const std::vector<RatePoint> &points, double target, double closeness);

/* The rate at which the quality is the target, interpolated linearly in the
 * logarithm of the rate against SSIM between the bracketing points: the
 * point of highest SSIM below the target and that of lowest SSIM at or above
 * it. NaN while the target is not bracketed. */
double rate_at_quality(const std::vector<RatePoint> &points, double target);
