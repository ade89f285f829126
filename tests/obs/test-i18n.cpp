/* The interface-language layer of the loaded module: language.txt read at
 * load, choices stored and switched, texts and their fallback to OBS's locale.
 * Every call goes through the loaded library so its own state is tested. */

#include "log-capture.h"
#include "obs-env.h"
#include "log-lines.h"
#include "read-file.h"

#include <obs.h>
#include <util/platform.h>
#include <util/text-lookup.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

bool nx_cut_to_folder(char *text);

namespace fs = std::filesystem;

namespace {

struct LanguageApi {
	void (*init)();
	void (*free)();
	const char *(*text)(const char *);
	const char *(*get)();
	void (*set)(const char *);
};

LanguageApi language_api(obs_module_t *module)
{
	void *lib = obs_get_module_lib(module);
	LanguageApi api;
	api.init = reinterpret_cast<void (*)()>(os_dlsym(lib, "nx_lang_init"));
	api.free = reinterpret_cast<void (*)()>(os_dlsym(lib, "nx_lang_free"));
	api.text = reinterpret_cast<const char *(*)(const char *)>(os_dlsym(lib, "nx_text"));
	api.get = reinterpret_cast<const char *(*)()>(os_dlsym(lib, "nx_lang_get"));
	api.set = reinterpret_cast<void (*)(const char *)>(os_dlsym(lib, "nx_lang_set"));
	if (!api.init || !api.free || !api.text || !api.get || !api.set)
		throw std::runtime_error("the module does not export the language layer");
	return api;
}

/* The text of a key as a shipped locale file holds it. */
std::string locale_text(const std::string &code, const char *key)
{
	std::string file = std::string(OSTRELIN_DATA_DIR) + "/locale/" + code + ".ini";
	lookup_t *lookup = text_lookup_create(file.c_str());
	const char *text = nullptr;
	std::string out = lookup && text_lookup_getstr(lookup, key, &text) ? text : "";
	text_lookup_destroy(lookup);
	return out;
}

void write_file(const std::string &path, const std::string &bytes)
{
	fs::create_directories(fs::path(path).parent_path());
	std::ofstream(path, std::ios::binary) << bytes;
}

const std::string loaded_line = plugin_line(LOGTEXT_PLUGIN_LOADED);

std::string chosen_line(const std::string &code)
{
	return plugin_line(LOGTEXT_LANGUAGE, code.c_str());
}

std::string unknown_line(const std::string &text)
{
	return plugin_line(LOGTEXT_LANGUAGE_UNKNOWN, text.c_str());
}

std::string missing_file_line(const std::string &code)
{
	return plugin_line(LOGTEXT_LOCALE_FILE_MISSING, ("locale/" + code + ".ini").c_str());
}

/* A data folder of the module's own making: English as OBS's locale texts,
 * plus whatever a test puts beside it. */
class DataDir {
public:
	DataDir()
	{
		char pattern[] = "/tmp/ostrelin-data-XXXXXX";
		if (!mkdtemp(pattern))
			throw std::runtime_error("mkdtemp failed");
		path_ = pattern;
		fs::create_directories(path_ + "/locale");
		fs::copy_file(std::string(OSTRELIN_DATA_DIR) + "/locale/en-US.ini", path_ + "/locale/en-US.ini");
	}
	~DataDir()
	{
		std::error_code ec;
		fs::remove_all(path_, ec);
	}
	const std::string &path() const { return path_; }

private:
	std::string path_;
};

class Language : public testing::Test {
protected:
	std::string stored_path() const { return env.module_config_dir() + "/language.txt"; }

	void load(const char *data_dir = OSTRELIN_DATA_DIR)
	{
		module = env.load_module(OSTRELIN_MODULE_PATH, data_dir);
		ASSERT_NE(module, nullptr);
		api = language_api(module);
	}

	std::vector<LogLine> language_lines() const
	{
		std::vector<LogLine> out;
		for (auto &line : log.plugin_lines())
			if (line.text != loaded_line)
				out.push_back(line);
		return out;
	}

	LogCapture log;
	ObsEnv env;
	obs_module_t *module = nullptr;
	LanguageApi api = {};
};

} // namespace

TEST(LanguageFolder, CutAtTheLaterSeparator)
{
	struct Case {
		const char *path;
		bool cut;
		const char *folder;
	} cases[] = {
		{"C:\\Users\\me/obs\\plugin_config\\ostrelin\\language.txt", true,
		 "C:\\Users\\me/obs\\plugin_config\\ostrelin"},
		{"/home/me/.config/obs-studio/plugin_config/ostrelin/language.txt", true,
		 "/home/me/.config/obs-studio/plugin_config/ostrelin"},
		{"C:\\obs\\plugin_config/ostrelin/language.txt", true, "C:\\obs\\plugin_config/ostrelin"},
		{"/language.txt", true, ""},
		{"language.txt", false, "language.txt"},
		{"", false, ""},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.path);
		std::string text = c.path;
		EXPECT_EQ(nx_cut_to_folder(text.data()), c.cut);
		EXPECT_STREQ(text.c_str(), c.folder);
	}
}

struct StoredCase {
	const char *name;
	std::optional<std::string> stored; /* contents of language.txt; none: no file */
	std::string chosen;
	std::optional<LogLine> line; /* the language layer's one log line, if any */
};

void PrintTo(const StoredCase &c, std::ostream *out)
{
	*out << c.name;
}

class StoredLanguage : public Language, public testing::WithParamInterface<StoredCase> {};

TEST_P(StoredLanguage, IsReadAtLoad)
{
	const StoredCase &c = GetParam();
	if (c.stored)
		write_file(stored_path(), *c.stored);
	load();

	EXPECT_STREQ(api.get(), c.chosen.c_str());
	std::vector<LogLine> lines = log.plugin_lines();
	ASSERT_EQ(lines.size(), c.line ? 2u : 1u);
	if (c.line) {
		EXPECT_EQ(lines[0].level, c.line->level);
		EXPECT_EQ(lines[0].text, c.line->text);
	}
	EXPECT_EQ(lines.back().text, loaded_line);
	std::string expected_code = c.chosen.empty() ? "en-US" : c.chosen;
	EXPECT_EQ(api.text("Torch"), locale_text(expected_code, "Torch"));
	EXPECT_EQ(read_file(stored_path()), c.stored) << "reading must not change language.txt";
}

INSTANTIATE_TEST_SUITE_P(
	Files, StoredLanguage,
	testing::Values(
		StoredCase{"Absent", std::nullopt, "", std::nullopt}, StoredCase{"Empty", "", "", std::nullopt},
		StoredCase{"OnlyLineEnds", "\r\n\r\n", "", std::nullopt},
		StoredCase{"CodeWithCrLf", "ja-JP\r\n", "ja-JP", LogLine{LOG_INFO, chosen_line("ja-JP")}},
		StoredCase{"CodeWithCr", "ko-KR\r", "ko-KR", LogLine{LOG_INFO, chosen_line("ko-KR")}},
		StoredCase{"OnlyFirstLineCounts", "ja-JP\nko-KR\n", "ja-JP", LogLine{LOG_INFO, chosen_line("ja-JP")}},
		StoredCase{"BareCode", "es-ES", "es-ES", LogLine{LOG_INFO, chosen_line("es-ES")}},
		StoredCase{"TrailingSpace", "ja-JP \r\n", "", LogLine{LOG_WARNING, unknown_line("ja-JP ")}},
		StoredCase{"OtherCase", "zh-tw", "", LogLine{LOG_WARNING, unknown_line("zh-tw")}},
		StoredCase{"LongerThan15", "ja-JPja-JPja-JPja-JP\n", "",
			   LogLine{LOG_WARNING, unknown_line("ja-JPja-JPja-JP")}},
		/* The 15-character limit from both sides: the 16th character is never read. */
		StoredCase{"SixteenthCharacterUnread", "es-ES\r\r\r\r\r\r\r\r\r\rX", "es-ES",
			   LogLine{LOG_INFO, chosen_line("es-ES")}},
		StoredCase{"FifteenthCharacterRead", "es-ES\r\r\r\r\r\r\r\r\rX", "",
			   LogLine{LOG_WARNING, unknown_line("es-ES\r\r\r\r\r\r\r\r\rX")}},
		/* libobs reads the file and drops a UTF-8 byte-order mark (Notepad writes one). */
		StoredCase{"ByteOrderMark", "\xEF\xBB\xBFko-KR", "ko-KR", LogLine{LOG_INFO, chosen_line("ko-KR")}}),
	[](const testing::TestParamInfo<StoredCase> &p) { return std::string(p.param.name); });

TEST_F(Language, SettingTheSameCodeDoesNothing)
{
	load();
	api.set("ko-KR");
	EXPECT_EQ(read_file(stored_path()), "ko-KR");
	fs::remove(stored_path());
	log.clear();

	api.set("ko-KR");
	EXPECT_FALSE(fs::exists(stored_path()));
	EXPECT_EQ(log.plugin_lines().size(), 0u);
	EXPECT_EQ(api.text("Torch"), locale_text("ko-KR", "Torch"));
}

TEST_F(Language, NullWhileFollowingObsDoesNothing)
{
	load();
	api.set(nullptr);
	EXPECT_STREQ(api.get(), "");
	EXPECT_FALSE(fs::exists(stored_path()));
	EXPECT_EQ(language_lines().size(), 0u);
}

TEST_F(Language, EmptyCodeFollowsObsAgainAndStoresAnEmptyFile)
{
	write_file(stored_path(), "ja-JP");
	load();
	ASSERT_STREQ(api.get(), "ja-JP");

	api.set("");
	EXPECT_STREQ(api.get(), "");
	EXPECT_EQ(read_file(stored_path()), "");
	EXPECT_EQ(api.text("Torch"), locale_text("en-US", "Torch"));
}

TEST_F(Language, LabelsFollowTheChoiceAndObsLocale)
{
	load();
	obs_set_locale("zh-TW");
	const char *keys[] = {"Rescan", "StatusOff", "AWBDaylight", "LanguageHint"};
	for (const char *key : keys)
		EXPECT_EQ(api.text(key), locale_text("zh-TW", key)) << key;

	api.set("es-ES");
	for (const char *key : keys)
		EXPECT_EQ(api.text(key), locale_text("es-ES", key)) << key;
	api.set("pt-BR");
	for (const char *key : keys)
		EXPECT_EQ(api.text(key), locale_text("pt-BR", key)) << key;
	EXPECT_EQ(read_file(stored_path()), "pt-BR");

	api.set("");
	for (const char *key : keys)
		EXPECT_EQ(api.text(key), locale_text("zh-TW", key)) << key;

	const char *missing = "NoSuchKey";
	EXPECT_EQ(api.text(missing), missing);
	EXPECT_EQ(log.plugin_lines().size(), 1u) << "switching logs nothing";
}

TEST_F(Language, UnknownCodeIsTakenStoredAndRejectedOnTheNextLoad)
{
	load();
	log.clear();
	api.set("xx-YY");
	EXPECT_STREQ(api.get(), "xx-YY");
	EXPECT_EQ(api.text("Torch"), locale_text("en-US", "Torch"));
	EXPECT_EQ(read_file(stored_path()), "xx-YY");
	std::vector<LogLine> lines = log.plugin_lines();
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].level, LOG_WARNING);
	EXPECT_EQ(lines[0].text, missing_file_line("xx-YY"));

	/* What unloading and loading the module again does to the language layer. */
	log.clear();
	api.free();
	api.init();
	EXPECT_STREQ(api.get(), "");
	EXPECT_TRUE(log.contains(LOG_WARNING, unknown_line("xx-YY")));
	EXPECT_EQ(read_file(stored_path()), "xx-YY") << "a rejected file is left as it is";
}

TEST_F(Language, LongCodeIsCutTo15Characters)
{
	load();
	api.set("abcdefghijklmnopqrst");
	EXPECT_STREQ(api.get(), "abcdefghijklmno");
	EXPECT_EQ(read_file(stored_path()), "abcdefghijklmno");
}

TEST_F(Language, UnwritableFileKeepsTheChoiceForThisRun)
{
	fs::create_directories(stored_path()); /* a folder where the file should be */
	load();
	api.set("ko-KR");
	EXPECT_STREQ(api.get(), "ko-KR");
	EXPECT_EQ(api.text("Torch"), locale_text("ko-KR", "Torch"));
	EXPECT_TRUE(log.contains(LOG_WARNING, plugin_line(LOGTEXT_LANGUAGE_NOT_SAVED, stored_path().c_str())));
}

TEST_F(Language, TextsComeFromObsAfterFree)
{
	load();
	api.set("ja-JP");
	ASSERT_EQ(api.text("Torch"), locale_text("ja-JP", "Torch"));
	api.free();
	EXPECT_STREQ(api.get(), "ja-JP");
	EXPECT_EQ(api.text("Torch"), locale_text("en-US", "Torch"));
}

TEST_F(Language, KnownCodeWithoutItsFile)
{
	DataDir data;
	write_file(stored_path(), "ja-JP");
	load(data.path().c_str());

	EXPECT_STREQ(api.get(), "ja-JP");
	EXPECT_EQ(api.text("Torch"), locale_text("en-US", "Torch"));
	std::vector<LogLine> lines = log.plugin_lines();
	ASSERT_EQ(lines.size(), 3u);
	EXPECT_EQ(lines[0].level, LOG_WARNING);
	EXPECT_EQ(lines[0].text, missing_file_line("ja-JP"));
	EXPECT_EQ(lines[1].level, LOG_INFO);
	EXPECT_EQ(lines[1].text, chosen_line("ja-JP"));
	EXPECT_EQ(lines[2].text, loaded_line);
}

TEST_F(Language, KeysMissingFromTheChosenFileComeFromObs)
{
	DataDir data;
	write_file(data.path() + "/locale/ko-KR.ini", "Torch=\"손전등\"\n");
	load(data.path().c_str());

	api.set("ko-KR");
	EXPECT_EQ(api.text("Torch"), std::string("손전등"));
	EXPECT_EQ(api.text("Rescan"), locale_text("en-US", "Rescan"));
	const char *missing = "NoSuchKey";
	EXPECT_EQ(api.text(missing), missing);
	EXPECT_EQ(language_lines().size(), 0u);
}

TEST_F(Language, UnreadableFileIsReported)
{
	DataDir data;
	write_file(data.path() + "/locale/ko-KR.ini", ""); /* libobs reads no texts from an empty file */
	load(data.path().c_str());

	api.set("ko-KR");
	EXPECT_STREQ(api.get(), "ko-KR");
	EXPECT_EQ(api.text("Torch"), locale_text("en-US", "Torch"));
	EXPECT_TRUE(log.contains(LOG_WARNING, plugin_line(LOGTEXT_LOCALE_FILE_UNREADABLE,
							  (data.path() + "/locale/ko-KR.ini").c_str())));
}
