#pragma once
/* The input of the fuzz targets that take several payloads: records of a
 * 2-byte little-endian length and that many bytes, one after another; a last
 * record cut short keeps what is there. scripts/make-fuzz-corpus.sh writes
 * its seeds in this form. */

#include <cstddef>
#include <cstdint>
#include <span>

class FuzzPackets {
public:
	FuzzPackets(const uint8_t *data, size_t size) : rest_(data, size) {}

	/* The next payload; false once the input is used up. */
	bool next(std::span<const uint8_t> *out)
	{
		if (rest_.size() < 2)
			return false;
		size_t length = (size_t)rest_[0] | (size_t)rest_[1] << 8;
		rest_ = rest_.subspan(2);
		if (length > rest_.size())
			length = rest_.size();
		*out = rest_.first(length);
		rest_ = rest_.subspan(length);
		return true;
	}

private:
	std::span<const uint8_t> rest_;
};
