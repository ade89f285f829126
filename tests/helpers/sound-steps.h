#pragma once
/* What the allowance's and the sync delay's tests check of the sound they
 * hand to OBS. */

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

/* Every block handed on follows on from the one before within 1 us, from
 * block `from` on, except at the positions listed. `Stream` gives the count
 * of blocks handed on and step(i): the signed gap between the end of block
 * i - 1 and the start of block i. */
template<class Stream> void expect_continuous(const Stream &s, size_t from, const std::vector<size_t> &except = {})
{
	for (size_t i = from < 1 ? 1 : from; i < s.handed_count(); i++) {
		bool listed = false;
		for (size_t e : except)
			listed |= e == i;
		if (!listed) {
			EXPECT_LE(std::llabs(s.step(i)), 1000) << "block " << i;
		}
	}
}
