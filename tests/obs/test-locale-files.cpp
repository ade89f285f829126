/* The shipped locale files: every language has exactly the plug-in's keys,
 * format texts hold exactly the conversions their callers pass, nothing else
 * holds a stray '%', and libobs reads each file as this test does. */

#include "obs/i18n.h"
#include "helpers/locale-file.h"

#include <util/text-lookup.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> text_keys = {
	"ConnMode",
	"ModeUSB",
	"ModeWiFi",
	"Device",
	"DeviceAuto",
	"Rescan",
	"Host",
	"Port",
	"PortUSB",
	"PortWiFi",
	"Enabled",
	"RefreshStatus",
	"StatusIdle",
	"StatusDisabled",
	"StatusBadPort",
	"StatusOff",
	"StatusOn",
	"StatusStats",
	"CameraGroup",
	"CameraHint",
	"Zoom",
	"ExposureStep",
	"Torch",
	"AELock",
	"AWB",
	"AWBOff",
	"AWBAuto",
	"AWBIncandescent",
	"AWBFluorescent",
	"AWBWarmFluorescent",
	"AWBDaylight",
	"AWBCloudy",
	"AWBTwilight",
	"AWBShade",
	"AWBMode",
	"Language",
	"LanguageAuto",
	"LanguageHint",
	"SmoothSync",
	"SmoothSyncHint",
	"StatusSyncDelay",
	"StatusAppNotListening",
};

const std::vector<std::string> awb_keys = {
	"AWBOff",      "AWBAuto",   "AWBIncandescent", "AWBFluorescent", "AWBWarmFluorescent",
	"AWBDaylight", "AWBCloudy", "AWBTwilight",     "AWBShade"};

/* Each printf conversion of a format as its length modifier and letter
 * ("u", "llu", ".f" is reported as "f"); "%%" is none. A conversion that takes
 * extra arguments ('*') or does not parse is reported as "?". */
std::vector<std::string> conversions(const std::string &format)
{
	std::vector<std::string> out;
	size_t i = 0;
	while ((i = format.find('%', i)) != std::string::npos) {
		size_t j = i + 1;
		if (j < format.size() && format[j] == '%') {
			i = j + 1;
			continue;
		}
		bool star = false;
		while (j < format.size() && strchr("-+ #0'", format[j]))
			j++;
		while (j < format.size() && (isdigit((unsigned char)format[j]) || format[j] == '*'))
			star |= format[j++] == '*';
		if (j < format.size() && format[j] == '.') {
			j++;
			while (j < format.size() && (isdigit((unsigned char)format[j]) || format[j] == '*'))
				star |= format[j++] == '*';
		}
		size_t length_start = j;
		while (j < format.size() && strchr("hlLqjzt", format[j]))
			j++;
		if (j >= format.size() || star || !strchr("diouxXeEfFgGaAcspn", format[j])) {
			out.push_back("?");
			i = j + 1;
			continue;
		}
		out.push_back(format.substr(length_start, j + 1 - length_start));
		i = j + 1;
	}
	return out;
}

bool is_double_conversion(const std::string &c)
{
	return c.size() == 1 && strchr("eEfFgGaA", c[0]);
}

bool is_int_conversion(const std::string &c)
{
	return c == "d" || c == "i";
}

std::vector<LocaleFile> all_locales()
{
	std::vector<LocaleFile> out;
	for (auto &entry : fs::directory_iterator(fs::path(OSTRELIN_DATA_DIR) / "locale"))
		if (entry.path().extension() == ".ini")
			out.push_back(read_locale(entry.path()));
	return out;
}

size_t formatted_length(const char *format, ...)
{
	va_list args;
	va_start(args, format);
	int n = vsnprintf(nullptr, 0, format, args);
	va_end(args);
	return n < 0 ? SIZE_MAX : (size_t)n;
}

} // namespace

TEST(PrintfScanner, FindsConversionsAndSkipsPercentSigns)
{
	EXPECT_EQ(conversions("no format"), std::vector<std::string>{});
	EXPECT_EQ(conversions("100%% sure"), std::vector<std::string>{});
	EXPECT_EQ(conversions("%u×%u @ %u fps"), (std::vector<std::string>{"u", "u", "u"}));
	EXPECT_EQ(conversions("\n%4d fps %.1f Mbps %llu"), (std::vector<std::string>{"d", "f", "llu"}));
	EXPECT_EQ(conversions("%-08.3g"), std::vector<std::string>{"g"});
	EXPECT_EQ(conversions("%*d"), std::vector<std::string>{"?"});
	EXPECT_EQ(conversions("ends in %"), std::vector<std::string>{"?"});
	EXPECT_EQ(conversions("50% off"), std::vector<std::string>{"o"}); /* "% o" is a real conversion */
	EXPECT_EQ(conversions("%s"), std::vector<std::string>{"s"});
}

TEST(LocaleFiles, OneFilePerLanguageOfTheTable)
{
	std::set<std::string> files;
	for (auto &locale : all_locales())
		files.insert(locale.code);
	std::set<std::string> codes;
	for (int i = 0; i < nx_lang_count; i++)
		codes.insert(nx_langs[i].code);
	EXPECT_EQ(files, codes);
	EXPECT_EQ(files.size(), 7u);
}

TEST(LocaleFiles, HoldExactlyThePluginKeys)
{
	for (auto &locale : all_locales()) {
		SCOPED_TRACE(locale.code);
		EXPECT_EQ(locale.problems, std::vector<std::string>{});
		for (auto &key : text_keys)
			EXPECT_TRUE(locale.texts.count(key)) << "missing " << key;
		for (auto &[key, text] : locale.texts)
			EXPECT_NE(std::find(text_keys.begin(), text_keys.end(), key), text_keys.end())
				<< "extra key " << key;
		for (auto &[key, text] : locale.texts)
			EXPECT_FALSE(text.empty()) << key;
	}
}

TEST(LocaleFiles, FormatTextsHoldExactlyTheirConversions)
{
	for (auto &locale : all_locales()) {
		SCOPED_TRACE(locale.code);
		for (auto &[key, text] : locale.texts) {
			auto conv = conversions(text);
			if (key == "StatusOn") {
				EXPECT_EQ(conv, (std::vector<std::string>{"s", "u", "u", "u"})) << text;
			} else if (key == "StatusStats") {
				ASSERT_EQ(conv.size(), 3u) << text;
				EXPECT_TRUE(is_int_conversion(conv[0])) << text;
				EXPECT_TRUE(is_double_conversion(conv[1])) << text;
				EXPECT_EQ(conv[2], "llu") << text;
			} else if (key == "ExposureStep") {
				ASSERT_EQ(conv.size(), 1u) << text;
				EXPECT_TRUE(is_double_conversion(conv[0])) << text;
			} else if (key == "AWBMode") {
				ASSERT_EQ(conv.size(), 1u) << text;
				EXPECT_TRUE(is_int_conversion(conv[0])) << text;
			} else if (key == "StatusBadPort") {
				EXPECT_EQ(conv, (std::vector<std::string>{"lld"})) << text;
			} else if (key == "StatusSyncDelay") {
				EXPECT_EQ(conv, (std::vector<std::string>{"d"})) << text;
			} else {
				EXPECT_EQ(conv, std::vector<std::string>{}) << key << ": " << text;
			}
		}
	}
}

/* The panel formats into fixed buffers; a text that is cut there would show
 * half a word, or half a UTF-8 character. */
TEST(LocaleFiles, FormattedLabelsFitTheirBuffers)
{
	for (auto &locale : all_locales()) {
		SCOPED_TRACE(locale.code);
		auto &t = locale.texts;
		if (!t.count("StatusOn") || !t.count("StatusStats") || !t.count("ExposureStep") || !t.count("AWBMode"))
			FAIL() << "format keys missing";
		size_t on = formatted_length(t["StatusOn"].c_str(), "H.265", 65535u, 65535u, 255u);
		size_t stats =
			formatted_length(t["StatusStats"].c_str(), 9999, 99999.9, (unsigned long long)UINT64_MAX);
		EXPECT_LT(stats, 128u);
		size_t sync = formatted_length(t["StatusSyncDelay"].c_str(), INT_MIN);
		EXPECT_LT(on, 192u);
		EXPECT_LT(sync, 96u);
		EXPECT_LT(on + stats + sync, 416u);
		EXPECT_LT(formatted_length(t["ExposureStep"].c_str(), -2147.483648), 64u);
		EXPECT_LT(formatted_length(t["AWBMode"].c_str(), INT_MIN), 32u);
		EXPECT_LT(formatted_length(t["StatusBadPort"].c_str(), LLONG_MIN), 320u);
	}
	EXPECT_EQ(formatted_length("%g", 333333 / 1e6), strlen("0.333333"));
	for (int i = 0; i < nx_lang_count; i++)
		EXPECT_LT(formatted_length("%s %s", nx_langs[i].flag, nx_langs[i].name), 64u);
}

TEST(LocaleFiles, LibobsReadsTheSameTexts)
{
	for (auto &locale : all_locales()) {
		SCOPED_TRACE(locale.code);
		auto file = (fs::path(OSTRELIN_DATA_DIR) / "locale" / (locale.code + ".ini")).string();
		lookup_t *lookup = text_lookup_create(file.c_str());
		ASSERT_NE(lookup, nullptr);
		for (auto &[key, text] : locale.texts) {
			const char *read = nullptr;
			EXPECT_TRUE(text_lookup_getstr(lookup, key.c_str(), &read)) << key;
			EXPECT_EQ(read ? std::string(read) : std::string(), text) << key;
		}
		text_lookup_destroy(lookup);
	}
}

TEST(LocaleFiles, AreTranslatedAndTellTheirEntriesApart)
{
	std::map<std::string, std::string> english;
	for (auto &locale : all_locales())
		if (locale.code == "en-US")
			english = locale.texts;
	ASSERT_EQ(english.size(), text_keys.size());

	for (auto &locale : all_locales()) {
		SCOPED_TRACE(locale.code);
		if (locale.code != "en-US") {
			std::vector<std::string> same;
			for (auto &[key, text] : locale.texts)
				if (english[key] == text)
					same.push_back(key);
			EXPECT_LE(same.size(), 3u) << "texts left in English: " << testing::PrintToString(same);
		}
		std::set<std::string> awb_names;
		for (auto &key : awb_keys)
			awb_names.insert(locale.texts[key]);
		EXPECT_EQ(awb_names.size(), awb_keys.size()) << "two white-balance modes share a name";
		auto &t = locale.texts;
		EXPECT_NE(t["ModeUSB"], t["ModeWiFi"]);
		EXPECT_NE(t["PortUSB"], t["PortWiFi"]);
		std::set<std::string> states = {t["StatusIdle"], t["StatusDisabled"], t["StatusOff"],
						t["StatusAppNotListening"]};
		EXPECT_EQ(states.size(), 4u);
	}
}

namespace {

std::string regional_indicator(char letter)
{
	char32_t cp = 0x1F1E6 + (letter - 'A');
	std::string out(4, '\0');
	out[0] = (char)(0xF0 | (cp >> 18));
	out[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
	out[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
	out[3] = (char)(0x80 | (cp & 0x3F));
	return out;
}

} // namespace

TEST(LanguageTable, FlagsSpellTheRegionOfEachCode)
{
	ASSERT_EQ(nx_lang_count, 7);
	std::set<std::string> codes, names;
	for (int i = 0; i < nx_lang_count; i++) {
		std::string code = nx_langs[i].code;
		SCOPED_TRACE(code);
		ASSERT_TRUE(std::regex_match(code, std::regex("[a-z]{2}-[A-Z]{2}")));
		EXPECT_EQ(nx_langs[i].flag, regional_indicator(code[3]) + regional_indicator(code[4]));
		EXPECT_GT(strlen(nx_langs[i].name), 0u);
		codes.insert(code);
		names.insert(nx_langs[i].name);
	}
	EXPECT_EQ(codes.size(), 7u);
	EXPECT_EQ(names.size(), 7u);
	EXPECT_STREQ(nx_langs[0].code, "zh-TW");
	EXPECT_STREQ(nx_langs[1].code, "en-US");
}
