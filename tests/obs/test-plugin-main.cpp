/* The module as OBS loads it: entry points, exports, load logging and the
 * locale hooks, exercised through the loaded library's own symbols. */

#include "adb/adb-client.h"
#include "decode/audio-decoder.h"
#include "decode/video-decoder.h"
#include "helpers/media-fixtures.h"
#include "log-capture.h"
#include "obs-env.h"
#include "log-lines.h"
#include "obs/i18n.h"

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
#include <tuple>
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

/* What a row's call gets: the loaded module, its configuration folder, and
 * any export looked up by name. */
struct LoadedModule {
	obs_module_t *module;
	std::string config_dir;
	template<typename T> T fn(const char *name) const { return module_symbol<T>(module, name); }
};

template<typename T> T as(void *symbol)
{
	return reinterpret_cast<T>(symbol);
}

/* Every export, one row each: the symbol called through its designed
 * signature, and what the call must give. The rows run in this order on one
 * loaded module; the last two unload and load it again as OBS would. */
struct ExportRow {
	const char *name;
	void (*call)(void *symbol, const LoadedModule &m);
};

using TextFn = const char *(*)(const char *);
/* libobs's own threads allocate meanwhile: a destroy that frees nothing
 * leaves one allocation per decoder, far past that noise. */
constexpr int decoders_made = 20;
using SetLocaleFn = void (*)(const char *);

const ExportRow export_rows[] = {
	{"obs_module_set_pointer",
	 [](void *f, const LoadedModule &m) {
		 as<void (*)(obs_module_t *)>(f)(m.module);
		 EXPECT_EQ(m.fn<obs_module_t *(*)()>("obs_current_module")(), m.module);
	 }},
	{"obs_current_module",
	 [](void *f, const LoadedModule &m) {
		 EXPECT_EQ(as<obs_module_t *(*)()>(f)(), m.module);
	 }},
	{"obs_module_ver",
	 [](void *f, const LoadedModule &) {
		 EXPECT_EQ(as<uint32_t (*)()>(f)(), LIBOBS_API_VER);
	 }},
	{"obs_module_set_locale",
	 [](void *f, const LoadedModule &m) {
		 as<SetLocaleFn>(f)("ja-JP");
		 EXPECT_NE(m.fn<TextFn>("obs_module_text")("Torch"), english_text("Torch"));
		 as<SetLocaleFn>(f)("en-US");
		 EXPECT_EQ(m.fn<TextFn>("obs_module_text")("Torch"), english_text("Torch"));
	 }},
	{"obs_module_text",
	 [](void *f, const LoadedModule &) {
		 EXPECT_EQ(as<TextFn>(f)("Rescan"), english_text("Rescan"));
		 EXPECT_STREQ(as<TextFn>(f)("NoSuchKey"), "NoSuchKey");
	 }},
	{"obs_module_get_string",
	 [](void *f, const LoadedModule &) {
		 const char *found = nullptr;
		 EXPECT_TRUE(as<bool (*)(const char *, const char **)>(f)("Rescan", &found));
		 EXPECT_EQ(std::string(found ? found : ""), english_text("Rescan"));
	 }},
	{"obs_module_lookup",
	 [](void *f, const LoadedModule &) {
		 EXPECT_NE(*as<lookup_t **>(f), nullptr);
	 }},
	{"obs_module_free_locale",
	 [](void *f, const LoadedModule &m) {
		 as<void (*)()>(f)();
		 EXPECT_EQ(*m.fn<lookup_t **>("obs_module_lookup"), nullptr);
		 m.fn<SetLocaleFn>("obs_module_set_locale")("en-US");
	 }},
	{"obs_module_description",
	 [](void *f, const LoadedModule &) {
		 EXPECT_STREQ(as<const char *(*)()>(f)(), "Ostrelin - low latency phone camera source");
	 }},
	{"ostrelin_source_info",
	 [](void *f, const LoadedModule &) {
		 const auto *info = as<const obs_source_info *>(f);
		 EXPECT_STREQ(info->id, "ostrelin_source");
		 EXPECT_EQ(info->output_flags, 0x87u);
	 }},
	{"ostrelin_decoder_create",
	 [](void *f, const LoadedModule &m) {
		 VideoDecoder *decoder = as<VideoDecoder *(*)()>(f)();
		 EXPECT_NE(decoder, nullptr);
		 m.fn<void (*)(VideoDecoder *)>("ostrelin_decoder_destroy")(decoder);
	 }},
	{"ostrelin_decoder_decode",
	 [](void *f, const LoadedModule &m) {
		 VideoDecoder *decoder = m.fn<VideoDecoder *(*)()>("ostrelin_decoder_create")();
		 auto decode = as<bool (*)(VideoDecoder *, const uint8_t *, size_t, uint64_t, obs_source_frame *)>(f);
		 size_t pictures = 0;
		 obs_source_frame frame = {};
		 for (const media::Bytes &unit : media::access_unit_payloads(media::read_fixture("yuv420.h264")))
			 pictures += decode(decoder, unit.data(), unit.size(), 1000 + pictures, &frame);
		 EXPECT_EQ(pictures, 5u);
		 EXPECT_EQ(std::tuple(frame.width, frame.height, frame.timestamp), std::tuple(80u, 48u, 1004ull));
		 m.fn<void (*)(VideoDecoder *)>("ostrelin_decoder_destroy")(decoder);
	 }},
	{"ostrelin_decoder_destroy",
	 [](void *f, const LoadedModule &m) {
		 const long before = bnum_allocs();
		 for (int n = 0; n < decoders_made; n++)
			 as<void (*)(VideoDecoder *)>(f)(m.fn<VideoDecoder *(*)()>("ostrelin_decoder_create")());
		 as<void (*)(VideoDecoder *)>(f)(nullptr);
		 EXPECT_LT(bnum_allocs() - before, decoders_made / 2);
	 }},
	{"ostrelin_audio_decoder_create",
	 [](void *f, const LoadedModule &m) {
		 AudioConfig config = {};
		 config.valid = 1;
		 config.sample_rate = 48000;
		 config.channels = 1;
		 AudioDecoder *decoder = as<AudioDecoder *(*)(const AudioConfig *)>(f)(&config);
		 EXPECT_NE(decoder, nullptr);
		 EXPECT_EQ(as<AudioDecoder *(*)(const AudioConfig *)>(f)(nullptr), nullptr);
		 m.fn<void (*)(AudioDecoder *)>("ostrelin_audio_decoder_destroy")(decoder);
	 }},
	{"ostrelin_audio_decoder_decode",
	 [](void *f, const LoadedModule &m) {
		 media::Bytes asc = media::read_fixture("aac-mono.asc");
		 AudioConfig config = {};
		 config.valid = 1;
		 config.sample_rate = 44100;
		 config.channels = 1;
		 config.asc_len = static_cast<uint8_t>(asc.size());
		 memcpy(config.asc, asc.data(), asc.size());
		 AudioDecoder *decoder =
			 m.fn<AudioDecoder *(*)(const AudioConfig *)>("ostrelin_audio_decoder_create")(&config);
		 ASSERT_NE(decoder, nullptr);
		 auto decode = as<bool (*)(AudioDecoder *, const uint8_t *, size_t, uint64_t, obs_source_audio *)>(f);
		 size_t blocks = 0;
		 obs_source_audio block = {};
		 for (const media::Bytes &unit : media::read_aac_access_units("aac-mono"))
			 blocks += decode(decoder, unit.data(), unit.size(), 7, &block);
		 EXPECT_GT(blocks, 0u);
		 EXPECT_EQ(std::tuple(block.speakers, block.samples_per_sec, block.timestamp),
			   std::tuple(SPEAKERS_MONO, 44100u, 7ull));
		 m.fn<void (*)(AudioDecoder *)>("ostrelin_audio_decoder_destroy")(decoder);
	 }},
	{"ostrelin_audio_decoder_destroy",
	 [](void *f, const LoadedModule &m) {
		 const long before = bnum_allocs();
		 AudioConfig config = {1, 48000, 2, 0, {}};
		 auto create = m.fn<AudioDecoder *(*)(const AudioConfig *)>("ostrelin_audio_decoder_create");
		 for (int n = 0; n < decoders_made; n++)
			 as<void (*)(AudioDecoder *)>(f)(create(&config));
		 as<void (*)(AudioDecoder *)>(f)(nullptr);
		 EXPECT_LT(bnum_allocs() - before, decoders_made / 2);
	 }},
	/* No phone is attached in the tests, and an adb server on 5037 only
	 * while the real-server test runs: no device, or a failure without a list. */
	{"adb_list_devices",
	 [](void *f, const LoadedModule &) {
		 AdbDevice *devices = reinterpret_cast<AdbDevice *>(1);
		 const int count = as<int (*)(AdbDevice **)>(f)(&devices);
		 EXPECT_LE(count, 0);
		 EXPECT_EQ(count < 0, devices == nullptr);
		 if (count >= 0)
			 bfree(devices);
	 }},
	/* A device no server knows: the forward and its removal fail, with a reason. */
	{"adb_forward",
	 [](void *f, const LoadedModule &) {
		 EXPECT_FALSE(as<bool (*)(const char *, int, const char *)>(f)("ostrelin-test", 27183, "nerix"));
	 }},
	{"adb_forward_remove",
	 [](void *f, const LoadedModule &) {
		 EXPECT_FALSE(as<bool (*)(const char *, int)>(f)("ostrelin-test", 27183));
	 }},
	{"adb_last_error",
	 [](void *f, const LoadedModule &) {
		 const char *reason = as<const char *(*)()>(f)();
		 EXPECT_NE(std::string(reason ? reason : ""), "");
	 }},
	{"nx_lang_count",
	 [](void *f, const LoadedModule &) {
		 EXPECT_EQ(*as<const int *>(f), 7);
	 }},
	{"nx_langs",
	 [](void *f, const LoadedModule &) {
		 const auto *langs = as<const LanguageEntry *>(f);
		 EXPECT_STREQ(langs[1].code, "en-US");
		 EXPECT_STREQ(langs[6].code, "pt-BR");
	 }},
	{"nx_lang_set",
	 [](void *f, const LoadedModule &m) {
		 as<SetLocaleFn>(f)("ja-JP");
		 EXPECT_STREQ(m.fn<const char *(*)()>("nx_lang_get")(), "ja-JP");
		 EXPECT_NE(m.fn<TextFn>("nx_text")("Torch"), english_text("Torch"));
	 }},
	{"nx_lang_get",
	 [](void *f, const LoadedModule &) {
		 EXPECT_STREQ(as<const char *(*)()>(f)(), "ja-JP");
	 }},
	{"nx_text",
	 [](void *f, const LoadedModule &) {
		 EXPECT_NE(as<TextFn>(f)("Torch"), english_text("Torch"));
		 EXPECT_STREQ(as<TextFn>(f)("NoSuchKey"), "NoSuchKey");
	 }},
	{"nx_lang_free",
	 [](void *f, const LoadedModule &m) {
		 as<void (*)()>(f)();
		 EXPECT_EQ(m.fn<TextFn>("nx_text")("Torch"), english_text("Torch"));
	 }},
	{"nx_lang_init",
	 [](void *f, const LoadedModule &m) {
		 std::ofstream(m.config_dir + "/language.txt", std::ios::binary) << "ko-KR";
		 as<void (*)()>(f)();
		 EXPECT_STREQ(m.fn<const char *(*)()>("nx_lang_get")(), "ko-KR");
	 }},
	{"obs_module_unload",
	 [](void *f, const LoadedModule &m) {
		 as<void (*)()>(f)();
		 EXPECT_EQ(m.fn<TextFn>("nx_text")("Torch"), english_text("Torch"));
	 }},
	{"obs_module_load",
	 [](void *f, const LoadedModule &m) {
		 EXPECT_TRUE(as<bool (*)()>(f)());
		 EXPECT_STREQ(m.fn<const char *(*)()>("nx_lang_get")(), "ko-KR");
	 }},
};

std::set<std::string> designed_exports()
{
	std::set<std::string> names;
	for (const ExportRow &row : export_rows)
		names.insert(row.name);
	return names;
}

} // namespace

TEST(ModuleExports, AreExactlyTheDesignedPlainNames)
{
	std::set<std::string> names = exported_names(OSTRELIN_MODULE_PATH);
	ASSERT_FALSE(names.empty()) << "no dynamic symbols read from " << OSTRELIN_MODULE_PATH;
	const std::set<std::string> designed = designed_exports();
	EXPECT_EQ(designed.size(), 29u);
	std::vector<std::string> missing, extra;
	for (auto &name : designed)
		if (!names.count(name))
			missing.push_back(name);
	for (auto &name : names)
		if (!designed.count(name))
			extra.push_back(name);
	EXPECT_EQ(missing, std::vector<std::string>{});
	EXPECT_EQ(extra, std::vector<std::string>{});
}

/* Each export, found in the loaded library as a plain C symbol, called as a
 * caller built to the designed signatures calls it. */
TEST(ModuleExports, EachAnswersToItsDesignedSignature)
{
	ObsEnv env;
	fs::create_directories(env.module_config_dir());
	obs_module_t *module = env.load_module();
	ASSERT_NE(module, nullptr);
	const LoadedModule loaded{module, env.module_config_dir()};
	for (const ExportRow &row : export_rows) {
		SCOPED_TRACE(row.name);
		void *symbol = os_dlsym(obs_get_module_lib(module), row.name);
		ASSERT_NE(symbol, nullptr);
		row.call(symbol, loaded);
	}
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
