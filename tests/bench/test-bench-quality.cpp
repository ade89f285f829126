/* The H.265 benchmark's arithmetic: SSIM of chosen planes whose figure is
 * known by hand, and the bit-rate search and its interpolation on chosen
 * points. */

#include "rate-search.h"
#include "ssim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr double c1 = (0.01 * 255) * (0.01 * 255);
constexpr double c2 = (0.03 * 255) * (0.03 * 255);

using Pixel = int (*)(int x, int y);

/* A plane of the size filled by f, with a stride wider than the row and
 * padding that no figure may read. */
struct Plane {
	int width;
	int height;
	int stride;
	std::vector<uint8_t> bytes;

	Plane(int w, int h, Pixel f) : width(w), height(h), stride(w + 5), bytes((size_t)stride * (size_t)h, 255)
	{
		for (int y = 0; y < h; y++)
			for (int x = 0; x < w; x++)
				bytes[(size_t)y * (size_t)stride + (size_t)x] = (uint8_t)f(x, y);
	}

	PlaneView view() const { return {bytes.data(), stride, width, height}; }
};

/* Columns alternating 100 and 140 (mean 120, variance 400), the same in
 * opposite phase, and with half the swing (110 and 130: variance 100,
 * covariance with the first 200). Every 8x8 window holds four columns of
 * each value. */
int stripes(int x, int)
{
	return x % 2 ? 140 : 100;
}
int stripes_inverted(int x, int)
{
	return x % 2 ? 100 : 140;
}
int stripes_half(int x, int)
{
	return x % 2 ? 130 : 110;
}
int flat_100(int, int)
{
	return 100;
}
int flat_110(int, int)
{
	return 110;
}
/* Some texture, different in every window. */
int texture(int x, int y)
{
	return (x * 37 + y * 91 + (x * y) % 23) % 220 + 16;
}
/* The texture but for column 7 (inside the first window) or column 8 (past
 * the last whole block of a plane 11 pixels wide). */
int texture_off_at_7(int x, int y)
{
	return x == 7 ? 255 - texture(x, y) : texture(x, y);
}
int texture_off_at_8(int x, int y)
{
	return x == 8 ? 255 - texture(x, y) : texture(x, y);
}

struct SsimRow {
	const char *rule;
	int width;
	int height;
	Pixel a;
	Pixel b;
	double expected;  /* NaN: no figure; below_one: a figure clearly below 1 */
	int b_height = 0; /* the second plane's, when not the first's */
};

constexpr double below_one = -1;

TEST(Ssim, KnownPlanes)
{
	const double uniform = (2 * 100.0 * 110.0 + c1) / (100.0 * 100.0 + 110.0 * 110.0 + c1);
	const SsimRow rows[] = {
		{"identical planes", 64, 48, texture, texture, 1.0},
		{"identical, one window", 8, 8, texture, texture, 1.0},
		{"flat planes apart in brightness: the mean term alone", 16, 16, flat_100, flat_110, uniform},
		{"the same stripes in opposite phase: covariance -400", 32, 16, stripes, stripes_inverted,
		 (c2 - 800) / (c2 + 800)},
		{"half the contrast: covariance 200, variances 400 and 100", 32, 16, stripes, stripes_half,
		 (400 + c2) / (500 + c2)},
		{"a difference in the last pixels of a whole block counts", 11, 8, texture, texture_off_at_7,
		 below_one},
		{"pixels past the last whole block take no part", 11, 8, texture, texture_off_at_8, 1.0},
		{"narrower than a window", 7, 8, texture, texture, NAN},
		{"lower than a window", 8, 7, texture, texture, NAN},
		{"lower than one block", 8, 3, texture, texture, NAN},
		{"planes of different sizes", 16, 16, texture, texture, NAN, 20},
	};
	for (const SsimRow &row : rows) {
		SCOPED_TRACE(row.rule);
		Plane a(row.width, row.height, row.a);
		Plane b(row.width, row.b_height ? row.b_height : row.height, row.b);
		const double ssim = ssim_plane(a.view(), b.view());
		if (std::isnan(row.expected))
			EXPECT_TRUE(std::isnan(ssim)) << ssim;
		else if (row.expected == below_one)
			EXPECT_LT(ssim, 0.99);
		else
			EXPECT_NEAR(ssim, row.expected, 1e-9);
	}
}

constexpr double target = 0.95;
constexpr double first = 10e6;

struct NextRow {
	const char *rule;
	std::vector<RatePoint> points;
	double expected;
};

TEST(RateSearch, NextRate)
{
	const NextRow rows[] = {
		{"nothing measured: the first rate", {}, first},
		{"every point short: twice the highest", {{8e6, 0.90}, {12e6, 0.93}}, 24e6},
		{"just short counts as short", {{12e6, 0.9499999}}, 24e6},
		{"every point reaching it: half the lowest", {{8e6, 0.96}, {12e6, 0.97}}, 4e6},
		{"exactly at the target counts as reaching it", {{8e6, 0.95}}, 4e6},
		{"bracketed: the geometric mean of the two around it", {{4e6, 0.90}, {16e6, 0.97}}, 8e6},
		{"bracketed by the nearest on each side, in SSIM",
		 {{2e6, 0.85}, {4e6, 0.93}, {25e6, 0.99}, {9e6, 0.96}},
		 6e6},
	};
	for (const NextRow &row : rows) {
		SCOPED_TRACE(row.rule);
		EXPECT_NEAR(rate_search_next(row.points, target, first), row.expected, 1);
	}
}

struct DoneRow {
	const char *rule;
	std::vector<RatePoint> points;
	bool done;
};

TEST(RateSearch, DoneOnceTheBracketIsClose)
{
	const DoneRow rows[] = {
		{"nothing measured", {}, false},
		{"short on every side", {{10e6, 0.90}, {14e6, 0.94}}, false},
		{"bracketed, 1.5 apart: just inside", {{10e6, 0.94}, {15e6, 0.96}}, true},
		{"bracketed, a little over 1.5 apart: just outside", {{10e6, 0.94}, {15.1e6, 0.96}}, false},
		{"bracketed with the rates crossed (a noisy measure)", {{14e6, 0.94}, {10e6, 0.96}}, true},
	};
	for (const DoneRow &row : rows) {
		SCOPED_TRACE(row.rule);
		EXPECT_EQ(rate_search_done(row.points, target, 1.5), row.done);
	}
}

struct QualityRow {
	const char *rule;
	std::vector<RatePoint> points;
	double expected; /* NaN: not bracketed */
};

TEST(RateSearch, RateAtQuality)
{
	const QualityRow rows[] = {
		{"not bracketed", {{10e6, 0.90}, {20e6, 0.94}}, NAN},
		{"halfway in SSIM: the geometric mean", {{4e6, 0.94}, {16e6, 0.96}}, 8e6},
		{"a quarter of the way: a quarter of the way in log rate",
		 {{4e6, 0.94}, {16e6, 0.98}},
		 4e6 * std::pow(4.0, 0.25)},
		{"a point at the target itself", {{4e6, 0.90}, {9e6, 0.95}, {30e6, 0.99}}, 9e6},
		{"the nearest on each side, whatever the order",
		 {{30e6, 0.99}, {6e6, 0.945}, {2e6, 0.80}, {12e6, 0.955}},
		 std::sqrt(6e6 * 12e6)},
		{"a noisy measure: nearest in SSIM, not in rate",
		 {{8e6, 0.93}, {6e6, 0.945}, {12e6, 0.955}},
		 std::sqrt(6e6 * 12e6)},
	};
	for (const QualityRow &row : rows) {
		SCOPED_TRACE(row.rule);
		const double rate = rate_at_quality(row.points, target);
		if (std::isnan(row.expected))
			EXPECT_TRUE(std::isnan(rate)) << rate;
		else
			EXPECT_NEAR(rate, row.expected, 1);
	}
}

/* The search as the benchmark runs it, against an encoder whose SSIM rises
 * with the log of the rate: it ends within the steps and its answer is the
 * rate that encoder needs. */
TEST(RateSearch, FindsTheRateOfAModelEncoder)
{
	const double needed = 23e6;
	auto encoder_ssim = [&](double rate) {
		return target + 0.02 * std::log2(rate / needed);
	};
	std::vector<RatePoint> points;
	int steps = 0;
	while (!rate_search_done(points, target, 1.5) && steps < 6) {
		const double rate = rate_search_next(points, target, first);
		points.push_back({rate, encoder_ssim(rate)});
		steps++;
	}
	EXPECT_LE(steps, 4);
	EXPECT_NEAR(rate_at_quality(points, target), needed, needed * 1e-9);
}

} // namespace
