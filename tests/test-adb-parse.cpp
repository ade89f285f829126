#include "adb-client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

TEST(AdbParseDeviceList, OneEntryPerLineSplitAtTheFirstTab)
{
	Parsed p = parse("emulator-5554\tdevice\nR58M12ABCDE\tunauthorized\n");
	ASSERT_EQ(p.count, 2);
	EXPECT_STREQ(p.devices[0].serial, "emulator-5554");
	EXPECT_STREQ(p.devices[0].state, "device");
	EXPECT_STREQ(p.devices[1].serial, "R58M12ABCDE");
	EXPECT_STREQ(p.devices[1].state, "unauthorized");
	expect_field_tail_zero(p.devices[0].serial, sizeof(p.devices[0].serial));
	expect_field_tail_zero(p.devices[1].state, sizeof(p.devices[1].state));
	expect_unused_entries_zero(p);
}

TEST(AdbParseDeviceList, EmptyPayloadGivesSixteenZeroEntries)
{
	Parsed p = parse("");
	EXPECT_EQ(p.count, 0);
	expect_unused_entries_zero(p);
}

TEST(AdbParseDeviceList, StateKeepsFurtherTabsAndCarriageReturn)
{
	Parsed p = parse("abc\tdevice\textra\r\n\tno-serial\n");
	ASSERT_EQ(p.count, 2);
	EXPECT_STREQ(p.devices[0].serial, "abc");
	EXPECT_STREQ(p.devices[0].state, "device\textra\r");
	EXPECT_STREQ(p.devices[1].serial, "");
	EXPECT_STREQ(p.devices[1].state, "no-serial");
}

TEST(AdbParseDeviceList, BlankLinesAndLinesWithoutTabAreSkippedUncounted)
{
	Parsed p = parse("\n\n* daemon started *\nfirst\tdevice\n\nno tab here\nsecond\toffline");
	ASSERT_EQ(p.count, 2);
	EXPECT_STREQ(p.devices[0].serial, "first");
	EXPECT_STREQ(p.devices[1].serial, "second");
	EXPECT_STREQ(p.devices[1].state, "offline"); /* last line without LF */
	expect_unused_entries_zero(p);
}

TEST(AdbParseDeviceList, LastLineWithoutLineFeedStillCounts)
{
	Parsed p = parse("only\tdevice");
	ASSERT_EQ(p.count, 1);
	EXPECT_STREQ(p.devices[0].serial, "only");
	EXPECT_STREQ(p.devices[0].state, "device");
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
