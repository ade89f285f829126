#pragma once
/* Reads the committed test media in tests/fixtures (made by
 * scripts/make-fixtures.sh): whole files, H.264 and H.265 Annex B streams
 * split into NAL units or access units, and AAC access units listed in a
 * .sizes file. */

#include "read-file.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace media {

using Bytes = std::vector<uint8_t>;

inline std::string fixture_path(const std::string &name)
{
	return std::string(OSTRELIN_FIXTURES_DIR) + "/" + name;
}

/* The whole file, or nothing when it cannot be read. */
inline Bytes read_fixture(const std::string &name)
{
	std::string bytes = read_file(fixture_path(name)).value_or("");
	return Bytes(bytes.begin(), bytes.end());
}

/* One NAL unit with its own start code, so that units can be joined again
 * into an Annex B payload. */
struct NalUnit {
	int type = 0;
	Bytes bytes;
	size_t start_code = 0; /* 3 or 4 */
	bool hevc = false;     /* H.265: a two-byte header, its type in bits 1-6 */

	const uint8_t *payload() const { return bytes.data() + start_code; }
	size_t payload_size() const { return bytes.size() - start_code; }
	bool is_slice() const { return hevc ? type <= 31 : type >= 1 && type <= 5; }
	/* H.264: first_mb_in_slice is ue(v) right after the header byte; it is
	 * 0 exactly when its first bit is 1. H.265: the first bit after the
	 * header is first_slice_segment_in_pic_flag. */
	bool starts_picture() const
	{
		size_t header = hevc ? 2 : 1;
		return is_slice() && payload_size() > header && (payload()[header] & 0x80);
	}
	/* Units that come before a picture's slices, so start a new access unit
	 * after one that holds a slice: H.264 SEI, SPS, PPS, AUD and 14-18;
	 * H.265 VPS, SPS, PPS, AUD, prefix SEI and 41-44, 48-55. */
	bool opens_unit() const
	{
		if (hevc)
			return (type >= 32 && type <= 35) || type == 39 || (type >= 41 && type <= 44) ||
			       (type >= 48 && type <= 55);
		return (type >= 6 && type <= 9) || (type >= 14 && type <= 18);
	}
};

/* Splits an Annex B stream at its start codes (00 00 01, or 00 00 00 01);
 * hevc: the stream is H.265. */
inline std::vector<NalUnit> split_nal_units(const Bytes &stream, bool hevc = false)
{
	std::vector<size_t> starts; /* offsets of the start codes */
	std::vector<size_t> lengths;
	for (size_t i = 0; i + 3 <= stream.size(); i++) {
		if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
			bool four = i > 0 && stream[i - 1] == 0;
			starts.push_back(four ? i - 1 : i);
			lengths.push_back(four ? 4 : 3);
			i += 2;
		}
	}

	std::vector<NalUnit> units;
	for (size_t n = 0; n < starts.size(); n++) {
		size_t end = n + 1 < starts.size() ? starts[n + 1] : stream.size();
		NalUnit unit;
		unit.bytes.assign(stream.begin() + static_cast<ptrdiff_t>(starts[n]),
				  stream.begin() + static_cast<ptrdiff_t>(end));
		unit.start_code = lengths[n];
		unit.hevc = hevc;
		if (unit.payload_size() > 0)
			unit.type = hevc ? (unit.payload()[0] >> 1) & 0x3f : unit.payload()[0] & 0x1f;
		units.push_back(std::move(unit));
	}
	return units;
}

inline Bytes join(const std::vector<NalUnit> &units)
{
	Bytes out;
	for (const auto &unit : units)
		out.insert(out.end(), unit.bytes.begin(), unit.bytes.end());
	return out;
}

/* Groups NAL units into access units, each one whole picture with the
 * parameter sets and SEI that come before it. A new access unit starts at a
 * unit that opens one, or at the first slice of a picture, once the current
 * one holds a slice. */
inline std::vector<std::vector<NalUnit>> split_access_units(const std::vector<NalUnit> &units)
{
	std::vector<std::vector<NalUnit>> access_units;
	std::vector<NalUnit> current;
	bool has_slice = false;
	for (const auto &unit : units) {
		if (has_slice && (unit.opens_unit() || unit.starts_picture())) {
			access_units.push_back(std::move(current));
			current.clear();
			has_slice = false;
		}
		has_slice = has_slice || unit.is_slice();
		current.push_back(unit);
	}
	if (!current.empty())
		access_units.push_back(std::move(current));
	return access_units;
}

/* A stream as the payloads a sender puts on the wire: one access unit each. */
inline std::vector<Bytes> access_unit_payloads(const Bytes &stream, bool hevc = false)
{
	std::vector<Bytes> payloads;
	for (const auto &access_unit : split_access_units(split_nal_units(stream, hevc)))
		payloads.push_back(join(access_unit));
	return payloads;
}

/* One line of a .framemd5 file: a picture's packed size and its MD5. */
struct PictureSum {
	size_t size;
	std::string md5;
	bool operator==(const PictureSum &) const = default;
};

/* The ffmpeg program's decode of a stream, as scripts/make-fixtures.sh wrote
 * it beside the stream: one sum per picture. */
inline std::vector<PictureSum> ffmpeg_sums(const std::string &fixture)
{
	Bytes text = read_fixture(fixture + ".framemd5");
	std::istringstream lines(std::string(text.begin(), text.end()));
	std::vector<PictureSum> sums;
	std::string line;
	while (std::getline(lines, line)) {
		/* stream, dts, pts, duration, size, md5 */
		std::vector<std::string> fields;
		std::istringstream parts(line);
		for (std::string field; std::getline(parts, field, ',');)
			fields.push_back(field.substr(field.find_first_not_of(' ')));
		if (fields.size() == 6)
			sums.push_back({std::stoul(fields[4]), fields[5]});
	}
	return sums;
}

/* Raw AAC access units from "<prefix>.raw" cut at the sizes listed one per
 * line in "<prefix>.sizes"; nothing when the two do not agree. */
inline std::vector<Bytes> read_aac_access_units(const std::string &prefix)
{
	Bytes raw = read_fixture(prefix + ".raw");
	Bytes size_list = read_fixture(prefix + ".sizes");
	std::istringstream sizes(std::string(size_list.begin(), size_list.end()));
	std::vector<Bytes> units;
	size_t offset = 0;
	size_t size = 0;
	while (sizes >> size) {
		if (offset + size > raw.size())
			return {};
		units.emplace_back(raw.begin() + static_cast<ptrdiff_t>(offset),
				   raw.begin() + static_cast<ptrdiff_t>(offset + size));
		offset += size;
	}
	if (offset != raw.size())
		return {};
	return units;
}

/* A record filled with 0xA5, to see afterwards whether a call wrote to it. */
template<typename Record> Record sentinel()
{
	Record record;
	memset(&record, 0xA5, sizeof(record));
	return record;
}

template<typename Record> bool same_bytes(const Record &a, const Record &b)
{
	return memcmp(&a, &b, sizeof(a)) == 0;
}

} // namespace media
