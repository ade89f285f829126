#include "rate-search.h"

#include <algorithm>
#include <cmath>

namespace {

struct Bracket {
	const RatePoint *below = nullptr;
	const RatePoint *above = nullptr;
};

Bracket bracket(const std::vector<RatePoint> &points, double target)
{
	Bracket b;
	for (const RatePoint &p : points) {
		if (p.ssim < target) {
			if (!b.below || p.ssim > b.below->ssim)
				b.below = &p;
		} else if (!b.above || p.ssim < b.above->ssim) {
			b.above = &p;
		}
	}
	return b;
}

} // namespace

double rate_search_next(const std::vector<RatePoint> &points, double target, double first)
{
	if (points.empty())
		return first;
	const Bracket b = bracket(points, target);
	if (b.below && b.above)
		return std::sqrt(b.below->bit_rate * b.above->bit_rate);
	auto by_rate = [](const RatePoint &x, const RatePoint &y) {
		return x.bit_rate < y.bit_rate;
	};
	if (b.below)
		return std::max_element(points.begin(), points.end(), by_rate)->bit_rate * rate_search_step;
	return std::min_element(points.begin(), points.end(), by_rate)->bit_rate / rate_search_step;
}

bool rate_search_done(const std::vector<RatePoint> &points, double target, double closeness)
{
	const Bracket b = bracket(points, target);
	if (!b.below || !b.above)
		return false;
	const double lo = std::min(b.below->bit_rate, b.above->bit_rate);
	const double hi = std::max(b.below->bit_rate, b.above->bit_rate);
	return hi <= lo * closeness;
}

double rate_at_quality(const std::vector<RatePoint> &points, double target)
{
	const Bracket b = bracket(points, target);
	if (!b.below || !b.above)
		return NAN;
	const double t = (target - b.below->ssim) / (b.above->ssim - b.below->ssim);
	const double log_rate =
		std::log(b.below->bit_rate) + t * (std::log(b.above->bit_rate) - std::log(b.below->bit_rate));
	return std::exp(log_rate);
}
