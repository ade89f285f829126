#pragma once
/* A shipped locale file read the way libobs reads it: Key="Value" lines, with
 * "\n" and "\"" in values unescaped, so that tests can expect the texts a
 * language shows without writing translations into the tests. */

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

struct LocaleFile {
	std::string code;
	std::map<std::string, std::string> texts; /* key -> text, "\n" and "\"" unescaped */
	std::vector<std::string> problems;        /* malformed lines and repeated keys */

	/* The text of a key, or "" when the file lacks it. */
	std::string text(const std::string &key) const
	{
		auto found = texts.find(key);
		return found == texts.end() ? std::string() : found->second;
	}
};

inline std::string locale_unescape(const std::string &raw)
{
	std::string out;
	for (size_t i = 0; i < raw.size(); i++) {
		if (raw[i] == '\\' && i + 1 < raw.size() && (raw[i + 1] == 'n' || raw[i + 1] == '"')) {
			out += raw[i + 1] == 'n' ? '\n' : '"';
			i++;
		} else {
			out += raw[i];
		}
	}
	return out;
}

inline LocaleFile read_locale(const std::filesystem::path &file)
{
	LocaleFile out;
	out.code = file.stem().string();
	std::ifstream in(file, std::ios::binary);
	static const std::regex entry(R"re(^([A-Za-z][A-Za-z0-9]*)="(.*)"$)re");
	std::string line;
	while (std::getline(in, line)) {
		if (line.empty() || line[0] == '#' || line[0] == ';')
			continue;
		std::smatch m;
		if (!std::regex_match(line, m, entry)) {
			out.problems.push_back("malformed line: " + line);
			continue;
		}
		if (!out.texts.emplace(m[1].str(), locale_unescape(m[2].str())).second)
			out.problems.push_back("repeated key: " + m[1].str());
	}
	return out;
}

#ifdef OSTRELIN_DATA_DIR
/* The shipped file of a language code, e.g. "ja-JP". */
inline LocaleFile read_shipped_locale(const std::string &code)
{
	return read_locale(std::filesystem::path(OSTRELIN_DATA_DIR) / "locale" / (code + ".ini"));
}
#endif
