#include "ssim.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace {

constexpr int block = 4; /* a window is 2x2 blocks */
constexpr double c1 = (0.01 * 255) * (0.01 * 255);
constexpr double c2 = (0.03 * 255) * (0.03 * 255);

/* Sums over one 4x4 block: of a, of b, of a^2 + b^2 and of a*b. */
struct BlockSums {
	int64_t a = 0;
	int64_t b = 0;
	int64_t squares = 0;
	int64_t products = 0;

	void add(const BlockSums &o)
	{
		a += o.a;
		b += o.b;
		squares += o.squares;
		products += o.products;
	}
};

BlockSums block_sums(const PlaneView &a, const PlaneView &b, int bx, int by)
{
	BlockSums s;
	for (int y = by * block; y < (by + 1) * block; y++) {
		const uint8_t *ra = a.data + (ptrdiff_t)y * a.stride;
		const uint8_t *rb = b.data + (ptrdiff_t)y * b.stride;
		for (int x = bx * block; x < (bx + 1) * block; x++) {
			const int pa = ra[x];
			const int pb = rb[x];
			s.a += pa;
			s.b += pb;
			s.squares += pa * pa + pb * pb;
			s.products += pa * pb;
		}
	}
	return s;
}

double window_ssim(const BlockSums &s)
{
	constexpr double n = 4 * block * block;
	const double ma = (double)s.a / n;
	const double mb = (double)s.b / n;
	const double variances = (double)s.squares / n - ma * ma - mb * mb;
	const double covariance = (double)s.products / n - ma * mb;
	return (2 * ma * mb + c1) * (2 * covariance + c2) / ((ma * ma + mb * mb + c1) * (variances + c2));
}

} // namespace

double ssim_plane(const PlaneView &a, const PlaneView &b)
{
	if (a.width != b.width || a.height != b.height)
		return NAN;
	const int blocks_x = a.width / block;
	const int blocks_y = a.height / block;
	if (blocks_x < 2 || blocks_y < 2)
		return NAN;

	/* Two rows of block sums: a window takes two blocks of each. */
	std::vector<BlockSums> above(blocks_x);
	std::vector<BlockSums> below(blocks_x);
	for (int bx = 0; bx < blocks_x; bx++)
		above[bx] = block_sums(a, b, bx, 0);
	double total = 0;
	for (int by = 1; by < blocks_y; by++) {
		for (int bx = 0; bx < blocks_x; bx++)
			below[bx] = block_sums(a, b, bx, by);
		for (int bx = 0; bx + 1 < blocks_x; bx++) {
			BlockSums w = above[bx];
			w.add(above[bx + 1]);
			w.add(below[bx]);
			w.add(below[bx + 1]);
			total += window_ssim(w);
		}
		above.swap(below);
	}
	return total / ((double)(blocks_x - 1) * (double)(blocks_y - 1));
}
