#include "log-lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct PatternCase {
	const char *text;
	std::string line;
	bool matches;
	std::vector<std::string> fields;
};

static std::string with(const std::string &line, const std::string &from, const std::string &to)
{
	size_t at = line.find(from);
	return line.substr(0, at) + to + line.substr(at + from.size());
}

/* Fields just inside and just outside what each kind of field accepts. */
TEST(LogLines, PatternGroupsEachFieldOfTheText)
{
	const std::string connected = plugin_line(LOGTEXT_STREAM_CONNECTED, 80u, 48u, 30u);
	const std::string latency = plugin_line(LOGTEXT_STATS_LATENCY, 1.5, 2.0, 3ULL);
	const std::vector<PatternCase> cases = {
		{LOGTEXT_CLOCK_REANCHOR, plugin_line(LOGTEXT_CLOCK_REANCHOR, -600.4), true, {"-600"}},
		{LOGTEXT_CLOCK_REANCHOR, plugin_line(LOGTEXT_CLOCK_REANCHOR, 600.0), true, {"600"}},
		{LOGTEXT_AUDIO_ALLOWANCE, plugin_line(LOGTEXT_AUDIO_ALLOWANCE, 120.4, 0ULL), true, {"120", "0"}},
		{LOGTEXT_AUDIO_ALLOWANCE, plugin_line(LOGTEXT_AUDIO_ALLOWANCE, 500.0, 17ULL), true, {"500", "17"}},
		{LOGTEXT_STATS_AUDIO, plugin_line(LOGTEXT_STATS_AUDIO, 12ULL, -3.25), true, {"12", "-3.2"}},
		{LOGTEXT_STATS_AUDIO, plugin_line(LOGTEXT_STATS_AUDIO, 12ULL, 0.0), true, {"12", "0.0"}},
		{LOGTEXT_STREAM_CONNECTED, connected, true, {"80", "48", "30"}},
		{LOGTEXT_STREAM_CONNECTED, with(connected, "48", "-48"), false, {}}, /* no sign on %u */
		{LOGTEXT_DECODER_READY, plugin_line(LOGTEXT_DECODER_READY, "h264", 4), true, {"h264", "4"}},
		{LOGTEXT_DECODER_READY, plugin_line(LOGTEXT_DECODER_READY, "", -1), true, {"", "-1"}},
		{LOGTEXT_STATS_LATENCY, latency, true, {"1.50", "2.00", "3"}},
		{LOGTEXT_STATS_LATENCY, with(latency, "1.50", "1.5"), false, {}},   /* a decimal short */
		{LOGTEXT_STATS_LATENCY, with(latency, "1.50", "1.500"), false, {}}, /* one too many */
		{LOGTEXT_PLUGIN_LOADED, plugin_line(LOGTEXT_PLUGIN_LOADED), true, {}},
		{LOGTEXT_PLUGIN_LOADED, LOGTEXT_PLUGIN_LOADED, false, {}}, /* without the prefix */
	};
	for (const auto &c : cases) {
		std::smatch m;
		bool matched = std::regex_match(c.line, m, plugin_line_regex(c.text));
		EXPECT_EQ(matched, c.matches) << c.line;
		if (!matched || !c.matches)
			continue;
		ASSERT_EQ(m.size(), c.fields.size() + 1) << c.line;
		for (size_t i = 0; i < c.fields.size(); i++)
			EXPECT_EQ(m[i + 1].str(), c.fields[i]) << c.line;
	}
}

TEST(LogLines, HeadEndsBeforeTheFirstField)
{
	EXPECT_EQ(plugin_line_head(LOGTEXT_STREAM_CONNECTED) + "80x48 @ 30 fps",
		  plugin_line(LOGTEXT_STREAM_CONNECTED, 80, 48, 30));
	EXPECT_EQ(plugin_line_head(LOGTEXT_STATS), LOGTEXT_PREFIX);
	EXPECT_EQ(plugin_line_head(LOGTEXT_NOT_OSTRELIN), plugin_line(LOGTEXT_NOT_OSTRELIN));
}
