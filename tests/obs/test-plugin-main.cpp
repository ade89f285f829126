/* The module as OBS loads it: entry points, exports, load logging and the
 * locale hooks, exercised through the loaded library's own symbols. */

#include "log-capture.h"
#include "obs-env.h"
#include "log-lines.h"

#include <obs.h>
#include <util/bmem.h>
#include <util/platform.h>
#include <util/text-lookup.h>

#include <gtest/gtest.h>

#include <elf.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

template<typename T> T module_symbol(obs_module_t *module, const char *name)
{
	return reinterpret_cast<T>(os_dlsym(obs_get_module_lib(module), name));
}

/* The module's locale entry points, as OBS calls them. */
struct LocaleEntryPoints {
	void (*set_locale)(const char *);
	const char *(*text)(const char *);
};

LocaleEntryPoints locale_entry_points(obs_module_t *module)
{
	return {module_symbol<void (*)(const char *)>(module, "obs_module_set_locale"),
		module_symbol<const char *(*)(const char *)>(module, "obs_module_text")};
}

std::string english_text(const char *key)
{
	lookup_t *lookup = text_lookup_create(OSTRELIN_DATA_DIR "/locale/en-US.ini");
	const char *text = nullptr;
	std::string out = lookup && text_lookup_getstr(lookup, key, &text) ? text : "";
	text_lookup_destroy(lookup);
	return out;
}

/* The names a file exports from its dynamic symbol table, as `nm -D
 * --defined-only` lists them, without the linker's own (leading '_'). */
std::set<std::string> exported_names(const char *path)
{
	std::ifstream in(path, std::ios::binary);
	std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	std::set<std::string> names;
	Elf64_Ehdr header;
	if (bytes.size() < sizeof(header))
		return names;
	memcpy(&header, bytes.data(), sizeof(header));
	if (memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
		return names;

	auto section = [&](size_t i) {
		Elf64_Shdr sh;
		memcpy(&sh, bytes.data() + header.e_shoff + i * sizeof(sh), sizeof(sh));
		return sh;
	};
	for (size_t i = 0; i < header.e_shnum; i++) {
		Elf64_Shdr symtab = section(i);
		if (symtab.sh_type != SHT_DYNSYM)
			continue;
		Elf64_Shdr strtab = section(symtab.sh_link);
		for (size_t s = 0; s < symtab.sh_size / sizeof(Elf64_Sym); s++) {
			Elf64_Sym sym;
			memcpy(&sym, bytes.data() + symtab.sh_offset + s * sizeof(sym), sizeof(sym));
			int bind = ELF64_ST_BIND(sym.st_info);
			if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK))
				continue;
			std::string name = bytes.data() + strtab.sh_offset + sym.st_name;
			if (!name.empty() && name[0] != '_')
				names.insert(name);
		}
	}
	return names;
}

const std::set<std::string> designed_exports = {
	"obs_module_set_pointer",
	"obs_current_module",
	"obs_module_ver",
	"obs_module_set_locale",
	"obs_module_free_locale",
	"obs_module_text",
	"obs_module_get_string",
	"obs_module_description",
	"obs_module_lookup",
	"obs_module_load",
	"obs_module_unload",
	"ostrelin_source_info",
	"ostrelin_decoder_create",
	"ostrelin_decoder_decode",
	"ostrelin_decoder_destroy",
	"ostrelin_audio_decoder_create",
	"ostrelin_audio_decoder_decode",
	"ostrelin_audio_decoder_destroy",
	"adb_list_devices",
	"adb_forward",
	"adb_forward_remove",
	"adb_last_error",
	"nx_text",
	"nx_lang_get",
	"nx_lang_set",
	"nx_lang_init",
	"nx_lang_free",
	"nx_langs",
	"nx_lang_count",
};

} // namespace

TEST(ModuleExports, AreExactlyTheDesignedPlainNames)
{
	std::set<std::string> names = exported_names(OSTRELIN_MODULE_PATH);
	ASSERT_FALSE(names.empty()) << "no dynamic symbols read from " << OSTRELIN_MODULE_PATH;
	std::vector<std::string> missing, extra;
	for (auto &name : designed_exports)
		if (!names.count(name))
			missing.push_back(name);
	for (auto &name : names)
		if (!designed_exports.count(name))
			extra.push_back(name);
	EXPECT_EQ(missing, std::vector<std::string>{});
	EXPECT_EQ(extra, std::vector<std::string>{});

	/* The names resolve as plain C symbols in the loaded library. */
	ObsEnv env;
	obs_module_t *module = env.load_module();
	ASSERT_NE(module, nullptr);
	for (auto &name : designed_exports)
		EXPECT_NE(os_dlsym(obs_get_module_lib(module), name.c_str()), nullptr) << name;
}

TEST(ModuleEntryPoints, ReportApiVersionAndUntranslatedDescription)
{
	ObsEnv env;
	obs_module_t *module = env.load_module();
	ASSERT_NE(module, nullptr);

	auto ver = module_symbol<uint32_t (*)()>(module, "obs_module_ver");
	ASSERT_NE(ver, nullptr);
	/* The API of the headers compiled against, which the running libobs's
	 * loader accepted: 32.0 and later refuse a newer major.minor. */
	EXPECT_EQ(ver(), LIBOBS_API_VER);
	EXPECT_LE(ver() & 0xFFFF0000u, obs_get_version() & 0xFFFF0000u);

	const char *description = "Ostrelin - low latency phone camera source";
	EXPECT_STREQ(obs_get_module_description(module), description);
	obs_set_locale("zh-TW");
	EXPECT_STREQ(obs_get_module_description(module), description);

	auto current = module_symbol<obs_module_t *(*)()>(module, "obs_current_module");
	ASSERT_NE(current, nullptr);
	EXPECT_EQ(current(), module);
}

/* The name OBS shows for the module: from 32.0 on, its plug-in manager takes
 * it from manifest.json in the module's data folder, as every package ships
 * it; older libobs read only an obs_module_name export, which the module does
 * not have. */
TEST(ModuleLoad, ManifestNamesTheModuleFromLibobs32On)
{
	ObsEnv env;
	obs_module_t *module = env.load_module(OSTRELIN_MODULE_PATH, OSTRELIN_BUILD_DATA_DIR);
	ASSERT_NE(module, nullptr);
	const char *name = obs_get_module_name(module);
#if LIBOBS_API_MAJOR_VER >= 32
	EXPECT_STREQ(name, "Ostrelin");
#else
	EXPECT_EQ(name, nullptr);
#endif
}

TEST(ModuleLoad, RegistersTheSourceAndLogsOnce)
{
	LogCapture log;
	ObsEnv env;
	ASSERT_NE(env.load_module(), nullptr);

	EXPECT_EQ(log.count(LOG_INFO, plugin_line(LOGTEXT_PLUGIN_LOADED)), 1u);
	EXPECT_NE(obs_source_get_display_name("ostrelin_source"), nullptr);
	EXPECT_EQ(obs_get_source_output_flags("ostrelin_source"), 0x87u);
}

TEST(ModuleLoad, LanguageLineComesBeforeTheLoadedLine)
{
	LogCapture log;
	ObsEnv env;
	fs::create_directories(env.module_config_dir());
	std::ofstream(env.module_config_dir() + "/language.txt", std::ios::binary) << "zh-CN";
	ASSERT_NE(env.load_module(), nullptr);

	std::vector<LogLine> lines = log.plugin_lines();
	ASSERT_EQ(lines.size(), 2u);
	EXPECT_EQ(lines[0].level, LOG_INFO);
	EXPECT_EQ(lines[0].text, plugin_line(LOGTEXT_LANGUAGE, "zh-CN"));
	EXPECT_EQ(lines[1].level, LOG_INFO);
	EXPECT_EQ(lines[1].text, plugin_line(LOGTEXT_PLUGIN_LOADED));
}

TEST(ModuleLocale, TextFallsBackToTheKey)
{
	ObsEnv env;
	obs_module_t *module = env.load_module();
	ASSERT_NE(module, nullptr);
	auto text = module_symbol<const char *(*)(const char *)>(module, "obs_module_text");
	auto get_string = module_symbol<bool (*)(const char *, const char **)>(module, "obs_module_get_string");
	auto free_locale = module_symbol<void (*)()>(module, "obs_module_free_locale");
	auto lookup = module_symbol<lookup_t **>(module, "obs_module_lookup");
	ASSERT_TRUE(text && get_string && free_locale && lookup);

	EXPECT_NE(*lookup, nullptr);
	EXPECT_EQ(text("Rescan"), english_text("Rescan"));
	const char *key = "NoSuchKey";
	EXPECT_EQ(text(key), key);
	const char *found = nullptr;
	EXPECT_TRUE(get_string("Rescan", &found));
	EXPECT_STREQ(found, english_text("Rescan").c_str());
	EXPECT_FALSE(get_string(key, &found));

	free_locale();
	EXPECT_EQ(*lookup, nullptr);
	const char *rescan = "Rescan";
	EXPECT_EQ(text(rescan), rescan);
	EXPECT_FALSE(get_string(rescan, &found));
}

/* libobs started in the test, the module loaded, its locale entry points found. */
class ModuleLocaleChange : public testing::Test {
protected:
	void load()
	{
		env.emplace();
		obs_module_t *module = env->load_module();
		ASSERT_NE(module, nullptr);
		locale = locale_entry_points(module);
		ASSERT_TRUE(locale.set_locale && locale.text);
	}

	std::optional<ObsEnv> env;
	LocaleEntryPoints locale = {};
};

TEST_F(ModuleLocaleChange, UnknownLocaleUsesEnglish)
{
	ASSERT_NO_FATAL_FAILURE(load());
	locale.set_locale("de-DE");
	EXPECT_EQ(locale.text("Torch"), english_text("Torch"));
}

TEST_F(ModuleLocaleChange, SettingTheLocaleTwiceLeaksNothing)
{
	long before = bnum_allocs();
	ASSERT_NO_FATAL_FAILURE(load());
	locale.set_locale("ja-JP");
	std::string japanese = locale.text("Torch");
	locale.set_locale("zh-TW");
	std::string chinese = locale.text("Torch");
	EXPECT_NE(japanese, english_text("Torch"));
	EXPECT_NE(chinese, japanese);
	EXPECT_NE(chinese, english_text("Torch"));
	env.reset();
	EXPECT_EQ(bnum_allocs(), before);
}
