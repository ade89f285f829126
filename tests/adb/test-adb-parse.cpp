#include "adb/adb-client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Parsed {
	AdbDevice devices[ADB_MAX_DEVICES];
	int count;
};

Parsed parse(const std::string &payload)
{
	Parsed p;
	memset(p.devices, 0xA5, sizeof(p.devices)); /* so the parser has to do the zeroing */
	p.count = adb_parse_device_list(payload.c_str(), p.devices);
	return p;
}

bool all_zero(const AdbDevice &d)
{
	static const AdbDevice zero = {};
	return memcmp(&d, &zero, sizeof(d)) == 0;
}

void expect_unused_entries_zero(const Parsed &p)
{
	for (int i = p.count; i < ADB_MAX_DEVICES; i++)
		EXPECT_TRUE(all_zero(p.devices[i])) << "entry " << i;
}

/* Nothing after the terminating NUL of a field may be left over either. */
void expect_field_tail_zero(const char *field, size_t width)
{
	size_t len = strnlen(field, width);
	ASSERT_LT(len, width);
	for (size_t i = len; i < width; i++)
		ASSERT_EQ(field[i], '\0') << "byte " << i;
}

} // namespace

/* Each payload's entries as serial and state; every entry after them zero. */
TEST(AdbParseDeviceList, EntriesOfEachPayload)
{
	using Entries = std::vector<std::pair<std::string, std::string>>;
	const struct {
		const char *what;
		const char *payload;
		Entries entries;
	} rows[] = {
		{"one entry per line, split at the first tab",
		 "emulator-5554\tdevice\nR58M12ABCDE\tunauthorized\n",
		 {{"emulator-5554", "device"}, {"R58M12ABCDE", "unauthorized"}}},
		{"an empty payload gives sixteen zero entries", "", {}},
		{"the state keeps further tabs and the carriage return",
		 "abc\tdevice\textra\r\n\tno-serial\n",
		 {{"abc", "device\textra\r"}, {"", "no-serial"}}},
		{"blank lines and lines without a tab are skipped uncounted",
		 "\n\n* daemon started *\nfirst\tdevice\n\nno tab here\nsecond\toffline",
		 {{"first", "device"}, {"second", "offline"}}},
		{"the last line counts without a line feed", "only\tdevice", {{"only", "device"}}},
	};
	for (const auto &row : rows) {
		SCOPED_TRACE(row.what);
		Parsed p = parse(row.payload);
		ASSERT_EQ(p.count, (int)row.entries.size());
		for (int i = 0; i < p.count; i++) {
			EXPECT_EQ(p.devices[i].serial, row.entries[i].first) << "entry " << i;
			EXPECT_EQ(p.devices[i].state, row.entries[i].second) << "entry " << i;
			expect_field_tail_zero(p.devices[i].serial, sizeof(p.devices[i].serial));
			expect_field_tail_zero(p.devices[i].state, sizeof(p.devices[i].state));
		}
		expect_unused_entries_zero(p);
	}
}

TEST(AdbParseDeviceList, TwentyLinesGiveTheFirstSixteen)
{
	std::string payload;
	for (int i = 0; i < 20; i++)
		payload += "dev" + std::to_string(i) + "\tdevice\n" + (i % 3 == 0 ? "skipped line\n" : "");
	Parsed p = parse(payload);
	ASSERT_EQ(p.count, ADB_MAX_DEVICES);
	for (int i = 0; i < ADB_MAX_DEVICES; i++)
		EXPECT_EQ(std::string(p.devices[i].serial), "dev" + std::to_string(i));
}

TEST(AdbParseDeviceList, LongSerialAndStateAreCut)
{
	std::string serial(200, 's');
	std::string state(40, 't');
	serial[126] = 'X'; /* the last character kept */
	serial[127] = 'Y'; /* the first one cut */
	Parsed p = parse(serial + "\t" + state + "\nnext\tdevice\n");
	ASSERT_EQ(p.count, 2);
	EXPECT_EQ(std::string(p.devices[0].serial), serial.substr(0, 127));
	EXPECT_EQ(std::string(p.devices[0].state), state.substr(0, 31));
	EXPECT_STREQ(p.devices[1].serial, "next"); /* the cut does not spill into the next line */
}
