/* Loads the real ostrelin.dll beside the stand-in obs.dll, as OBS for Windows
 * loads a plug-in, and drives one source against a phone on loopback: the
 * reference sender running natively, or for the fixture cases this harness
 * itself. The folder holds no FFmpeg DLL: the module carries its own decoders.
 *   dll-e2e <case> <port> <sender's output file>
 * case: stream | bad-magic | bad-codec | oversize | silent | usb | installed
 *       | h264 | h265
 * h264, h265: this harness is the phone (port and file unused): it sends a
 * stream of tests/fixtures one access unit at a time, each once the picture
 * before it is out, and every picture must be the ffmpeg program's decode of
 * it (the fixture's .framemd5).
 * installed: the module is found where the installer puts it for all users
 * (<ProgramData>/obs-studio/plugins/ostrelin), loaded from there with the data
 * folder OBS gives it, and registers its source; no connection is made.
 * Prints one line per check and "dll-e2e <case>: N passed, M failed". */

#include "log-lines.h"
#include "loopback.h"
#include "helpers/media-fixtures.h"
#include "obs-standin.h"
#include "protocol/stream-protocol.h"

#include <obs-module.h>

#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

int passed, failed;

void check(bool ok, const std::string &what)
{
	(ok ? passed : failed)++;
	printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
	fflush(stdout);
}

/* Waits for a condition with a generous limit; the result is the condition. */
bool wait_until(const std::function<bool()> &done, std::chrono::milliseconds limit = 20s)
{
	auto end = std::chrono::steady_clock::now() + limit;
	while (!done()) {
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(20ms);
	}
	return true;
}

std::set<DWORD> thread_ids()
{
	std::set<DWORD> ids;
	HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
	THREADENTRY32 entry = {};
	entry.dwSize = sizeof(entry);
	for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry))
		if (entry.th32OwnerProcessID == GetCurrentProcessId())
			ids.insert(entry.th32ThreadID);
	CloseHandle(snap);
	return ids;
}

std::vector<std::string> log_lines()
{
	std::vector<std::string> lines;
	char line[512];
	for (size_t i = 0; standin_log_line(i, line, sizeof(line)); i++)
		lines.emplace_back(line);
	return lines;
}

int count_log(const std::string &prefix)
{
	int n = 0;
	for (const std::string &line : log_lines())
		n += line.rfind(prefix, 0) == 0;
	return n;
}

/* The lines the sender has printed so far. */
int count_sender(const char *file, const std::string &line)
{
	std::ifstream in(file);
	int n = 0;
	for (std::string l; std::getline(in, l);)
		n += l == line;
	return n;
}

bool close_to(int value, int expected)
{
	return std::abs(value - expected) <= 12;
}

std::string folder_of_exe()
{
	char path[MAX_PATH];
	GetModuleFileNameA(nullptr, path, sizeof(path));
	std::string s(path);
	return s.substr(0, s.find_last_of("\\/"));
}

template<typename F> F entry(HMODULE dll, const char *name)
{
	auto f = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(dll, name)));
	check(f != nullptr, std::string("the DLL exports ") + name);
	if (!f)
		exit(1);
	return f;
}

void check_pictures(int width, int height)
{
	size_t n = standin_video_count();
	standin_video first = {}, v = {}, prev = {};
	standin_video_at(0, &first);
	bool sizes = true, formats = true, plain = true, rising = true, colours = true, counters = true,
	     distinct = true;
	for (size_t i = 0; i < n && standin_video_at(i, &v); i++) {
		sizes &= (int)v.width == width && (int)v.height == height;
		formats &= v.format == VIDEO_FORMAT_I420 && !v.full_range &&
			   std::fabs(v.range_max[0] - 235.0f / 255) < 1e-4;
		plain &= !v.flip && v.flags == 0 && v.trc == VIDEO_TRC_DEFAULT && v.max_luminance == 0;
		colours &= close_to(v.red_quarter[0], 63) && close_to(v.red_quarter[1], 102) &&
			   close_to(v.red_quarter[2], 240) && close_to(v.blue_quarter[0], 32) &&
			   close_to(v.blue_quarter[1], 240) && close_to(v.blue_quarter[2], 118);
		if (i > 0) {
			rising &= v.timestamp > prev.timestamp;
			counters &= v.counter > prev.counter;
			distinct &= v.checksum != prev.checksum;
		}
		prev = v;
	}
	check(n >= 60, "at least 60 pictures handed over (" + std::to_string(n) + ")");
	check(sizes, "every picture is the sender's " + std::to_string(width) + "x" + std::to_string(height));
	check(formats, "every picture is I420, limited range");
	check(plain, "every picture is upright, without flags, with the default transfer and luminance");
	check(rising, "picture timestamps rise");
	check(colours, "the red and blue quarters have the sender's Y, U, V");
	check(first.counter == 0 && counters,
	      "the frame counter starts at 0 and rises (last " + std::to_string(prev.counter) + ")");
	check(distinct, "each picture's plane checksum differs from the one before (the bars move)");
}

void check_audio()
{
	size_t n = standin_audio_count();
	standin_audio a = {}, prev = {};
	bool shape = true, rising = true;
	float peak = 0;
	for (size_t i = 0; i < n && standin_audio_at(i, &a); i++) {
		shape &= a.samples_per_sec == 48000 && a.speakers == SPEAKERS_STEREO &&
			 a.format == AUDIO_FORMAT_FLOAT_PLANAR && a.frames == 1024;
		if (i > 0)
			rising &= a.timestamp > prev.timestamp;
		peak = std::max(peak, a.peak);
		prev = a;
	}
	check(n >= 20, "at least 20 audio packets handed over (" + std::to_string(n) + ")");
	check(shape, "audio is 48000 Hz stereo planar float, 1024 frames a packet");
	check(rising, "audio timestamps rise");
	check(peak > 0.1f, "the tone is audible (peak " + std::to_string(peak) + ")");
}

/* The streams the fixture cases send: each codec's through the decoder the
 * module carries for it (its name as the decoder-ready line gives it). */
struct FixtureCase {
	const char *mode;
	uint8_t codec;
	const char *fixture;
	const char *decoder;
};
const FixtureCase fixture_cases[] = {
	{"h264", STREAM_CODEC_H264, "yuv420.h264", "h264"},
	/* 80x48, then 48x80 from a key frame with parameter sets of its own. */
	{"h265", STREAM_CODEC_H265, "size-change.h265", "hevc"},
};

const FixtureCase *fixture_case(const std::string &mode)
{
	for (const FixtureCase &c : fixture_cases)
		if (mode == c.mode)
			return &c;
	return nullptr;
}

bool send_all(plat_socket s, const std::vector<uint8_t> &bytes)
{
	for (size_t at = 0; at < bytes.size();) {
		long n = loopback_send(s, reinterpret_cast<const char *>(bytes.data()) + at, bytes.size() - at);
		if (n <= 0)
			return false;
		at += (size_t)n;
	}
	return true;
}

/* The phone's side of a fixture case, on a listener the source connects to:
 * the handshake naming the case's codec, then each access unit as a video
 * packet once the picture before it has been handed over. */
void serve_fixture(const FixtureCase &c, plat_socket listener)
{
	const std::vector<media::PictureSum> want = media::ffmpeg_sums(c.fixture);
	const std::vector<media::Bytes> units =
		media::access_unit_payloads(media::read_fixture(c.fixture), c.codec == STREAM_CODEC_H265);
	check(!want.empty() && units.size() == want.size(),
	      std::string(c.fixture) + ": " + std::to_string(units.size()) + " access units, " +
		      std::to_string(want.size()) + " pictures in its .framemd5");
	plat_socket phone = loopback_wait_readable(listener, 20000) ? loopback_accept(listener) : PLAT_INVALID_SOCKET;
	check(phone != PLAT_INVALID_SOCKET, "the source connects to the phone");
	if (phone == PLAT_INVALID_SOCKET)
		return;
	Handshake hs = handshake_make(80, 48, 30);
	hs.codec = c.codec;
	std::vector<uint8_t> bytes(HANDSHAKE_SIZE);
	handshake_write(hs, bytes.data());
	bool sent = send_all(phone, bytes), each_out = true;
	for (size_t n = 0; n < units.size() && sent; n++) {
		bytes.assign(PACKET_HEADER_SIZE, 0);
		packet_header_write({0, (uint32_t)units[n].size(), 1000000 + 33333 * (uint64_t)n}, bytes.data());
		bytes.insert(bytes.end(), units[n].begin(), units[n].end());
		sent = send_all(phone, bytes);
		each_out &= wait_until([n] { return standin_video_count() >= n + 1; });
	}
	check(sent, "the handshake and every access unit are sent");
	check(each_out, "each access unit gives its picture");

	std::vector<media::PictureSum> got;
	standin_video v = {};
	for (size_t i = 0; standin_video_at(i, &v); i++)
		got.push_back({v.packed_size, v.md5});
	std::string sums;
	for (const media::PictureSum &sum : got)
		sums += " " + std::to_string(sum.size) + ":" + sum.md5.substr(0, 8);
	check(got == want, "every picture is the ffmpeg program's decode, in order (" + std::to_string(got.size()) +
				   " pictures:" + sums + ")");
	check(count_log(plugin_line_head(LOGTEXT_DECODER_READY) + c.decoder) == 1,
	      std::string("the ") + c.decoder + " decoder is logged");
	check(count_log(plugin_line_head(LOGTEXT_UNSUPPORTED_CODEC)) == 0, "the codec is not refused");
	plat_socket_close(phone);
}

} // namespace

int main(int argc, char **argv)
{
	if (argc != 4) {
		fprintf(stderr,
			"usage: dll-e2e stream|bad-magic|bad-codec|oversize|silent|usb|installed|h264|h265 PORT "
			"SENDER-OUTPUT\n");
		return 2;
	}
	std::string mode = argv[1];
	int port = atoi(argv[2]);
	const char *sender_out = argv[3];
	std::string here = folder_of_exe();
	std::string bin = here + "\\ostrelin.dll", data = here + "/data";
	if (mode == "installed") {
		struct Found {
			std::vector<std::string> names;
			std::string bin, data;
		} found;
		standin_find_modules(
			[](const char *name, const char *bin_file, const char *data_folder, void *param) {
				auto *f = static_cast<Found *>(param);
				f->names.emplace_back(name);
				f->bin = bin_file;
				f->data = data_folder;
			},
			&found);
		check(found.names == std::vector<std::string>{"ostrelin"},
		      "one module found under ProgramData's obs-studio/plugins: " + found.bin);
		if (found.names.size() != 1)
			return 1;
		bin = found.bin;
		data = found.data;
	}
	standin_set_module_paths(data.c_str(), (here + "/config").c_str());
	long allocations_before = standin_allocations();
	std::set<DWORD> threads_before = thread_ids();

	HMODULE dll = LoadLibraryA(bin.c_str());
	check(dll != nullptr, "LoadLibrary " + bin + " with obs.dll and no FFmpeg DLL");
	if (!dll)
		return 1;
	/* As obs_open_module: the version gate before anything else is called. */
	uint32_t module_ver = entry<uint32_t (*)()>(dll, "obs_module_ver")();
	uint32_t libobs_ver = standin_libobs_version();
	bool accepted = standin_module_accepted(module_ver);
	check(accepted, "libobs " + std::to_string(libobs_ver >> 24) + "." + std::to_string((libobs_ver >> 16) & 0xFF) +
				"." + std::to_string(libobs_ver & 0xFFFF) + " accepts the module's obs_module_ver " +
				std::to_string(module_ver >> 24) + "." + std::to_string((module_ver >> 16) & 0xFF) +
				"." + std::to_string(module_ver & 0xFFFF));
	if (!accepted) {
		FreeLibrary(dll);
		return 1;
	}
	int module_handle = 0;
	entry<void (*)(obs_module_t *)>(dll,
					"obs_module_set_pointer")(reinterpret_cast<obs_module_t *>(&module_handle));
	entry<void (*)(const char *)>(dll, "obs_module_set_locale")("en-US");
	check(entry<bool (*)()>(dll, "obs_module_load")(), "obs_module_load succeeds");
	check(count_log(plugin_line(LOGTEXT_PLUGIN_LOADED)) == 1, "the load is logged");
	auto module_text = entry<const char *(*)(const char *)>(dll, "obs_module_text");

	size_t info_size = 0;
	const obs_source_info *info = standin_registered(&info_size);
	check(info && info_size == standin_record_size_29() && strcmp(info->id, "ostrelin_source") == 0 &&
		      info->create && info->destroy && info->update && info->get_defaults && info->get_properties,
	      "one source registered, id ostrelin_source, with libobs 29's record size, which every libobs from "
	      "29.0 on accepts (" +
		      std::to_string(info_size) + " bytes)");
	if (!info)
		return 1;
	size_t newer_set = 0;
	size_t newer = standin_registered_past_29(&newer_set);
	check(newer_set == 0, "the " + std::to_string(newer) +
				      " bytes of fields newer than libobs 29's record are all null (not a filter, "
				      "the built-in camera icon)");
	check(strcmp(info->get_name(nullptr), "Ostrelin") == 0, "its name");
	check(std::string(module_text("NoSuchKey")) == "NoSuchKey", "an unknown text key reads as itself");
	check(std::string(module_text("ModeWiFi")) == "Wi-Fi", "the texts are read from the data folder " + data);
	if (mode == "installed")
		goto unload;
	{

		/* A fixture case's phone: listening before the source starts. */
		const FixtureCase *fixture = fixture_case(mode);
		plat_socket listener = PLAT_INVALID_SOCKET;
		if (fixture) {
			uint16_t bound = 0;
			check(plat_net_init() && (listener = loopback_listen(&bound)) != PLAT_INVALID_SOCKET,
			      "the phone listens on 127.0.0.1");
			port = bound;
		}
		obs_data_t *settings = standin_data_create();
		info->get_defaults(settings);
		obs_data_set_int(settings, "conn_mode", mode == "usb" ? 0 : 1);
		obs_data_set_string(settings, "host", "127.0.0.1");
		obs_data_set_int(settings, "port", port);
		obs_source_t *source = standin_source_create(settings);
		void *context = info->create(settings, source);
		check(context != nullptr, "create returns the source's data");
		standin_source_set_context(source, context);
		obs_properties_t *props = info->get_properties(context);
		check(standin_properties_count(props) > 5, "the properties are built");
		standin_properties_destroy(props);

		if (mode == "stream") {
			wait_until([] { return standin_video_count() >= 60 && standin_audio_count() >= 20; });
			check_pictures(320, 180);
			check_audio();
			/* For the record only (the decode times to compare builds by): the
		 * first statistics report, logged after 5 s of stream; no check. */
			auto stats = [] {
				for (const std::string &line : log_lines())
					if (line.find(" fps, ") != std::string::npos &&
					    line.find(" Mbps, ") != std::string::npos)
						return line;
				return std::string();
			};
			wait_until([&] { return !stats().empty(); }, 15s);
			printf("stream: statistics: %s\n", stats().c_str());
			check(count_log(plugin_line(LOGTEXT_STREAM_CONNECTED, 320, 180, 30)) == 1,
			      "the connection is logged");
			check(count_log(plugin_line_head(LOGTEXT_DECODER_READY) + "h264") == 1,
			      "the video decoder is logged");
			check(count_log(plugin_line(LOGTEXT_AUDIO_DECODER_READY, 48000u, 2u)) == 1,
			      "the audio decoder is logged");

			standin_data_set_double(settings, "zoom", 2.5);
			info->update(context, settings);
			check(wait_until([&] { return count_sender(sender_out, "control zoom 2500") == 1; }),
			      "a zoom of 2.5 reaches the sender as control zoom 2500");

			standin_video last = {};
			standin_video_at(standin_video_count() - 1, &last);
			obs_data_set_bool(settings, "enabled", false);
			info->update(context, settings);
			check(thread_ids().count(last.thread) == 0,
			      "disabling has ended the thread that handed over pictures");
			check(wait_until([&] { return count_sender(sender_out, "disconnected") == 1; }),
			      "the sender sees the disconnect");
			size_t after_stop = standin_video_count();
			std::this_thread::sleep_for(300ms);
			check(standin_video_count() == after_stop, "no picture arrives once disabled");
		} else if (mode == "bad-magic") {
			check(wait_until([&] { return count_sender(sender_out, "connected") >= 2; }),
			      "it connects again after the wrong magic");
			check(count_log(plugin_line(LOGTEXT_NOT_OSTRELIN)) >= 1, "the wrong magic is logged");
			check(standin_video_count() == 0, "no picture from a stream it refused");
		} else if (mode == "bad-codec") {
			check(wait_until([&] { return count_sender(sender_out, "connected") >= 2; }),
			      "it connects again after refusing an unknown codec");
			check(count_log(plugin_line(LOGTEXT_UNSUPPORTED_CODEC, 3)) >= 1,
			      "codec 3 is refused as an unsupported codec");
			check(standin_video_count() == 0, "no picture from a stream it refused");
		} else if (fixture) {
			if (listener != PLAT_INVALID_SOCKET)
				serve_fixture(*fixture, listener);
		} else if (mode == "oversize") {
			check(wait_until([&] { return count_sender(sender_out, "connected") >= 2; }),
			      "it connects again after the oversize packet");
			check(count_log(plugin_line(LOGTEXT_PACKET_TOO_LARGE, 8388609ULL)) >= 1,
			      "the oversize packet is logged");
			check(count_log(plugin_line_head(LOGTEXT_DISCONNECTED)) >= 1, "the disconnect is logged");
		} else if (mode == "silent") {
			check(wait_until([&] { return count_sender(sender_out, "connected") >= 2; }, 30s),
			      "it gives up on a silent phone and connects again");
			check(count_sender(sender_out, "disconnected") >= 1, "the sender sees it go");
			check(count_log(plugin_line(LOGTEXT_STREAM_CONNECTED, 320, 180, 30)) >= 1,
			      "the handshake is logged");
			check(count_log(plugin_line_head(LOGTEXT_DISCONNECTED)) >= 1, "the disconnect is logged");
		} else if (mode == "usb") {
			auto start = std::chrono::steady_clock::now();
			const std::string refused =
				plugin_line(LOGTEXT_FORWARD_FAILED, format_text(LOGTEXT_ADB_UNREACHABLE, 5037).c_str());
			check(wait_until([&] { return count_log(refused) == 1; }),
			      "the failed forward is logged: " + refused);
			/* For the record only: the step asserts no timing. */
			printf("usb: the failure was logged %lld ms after create\n",
			       (long long)std::chrono::duration_cast<std::chrono::milliseconds>(
				       std::chrono::steady_clock::now() - start)
				       .count());
		} else {
			fprintf(stderr, "unknown case %s\n", mode.c_str());
			return 2;
		}

		info->destroy(context);
		check(standin_source_refs(source) == 1, "every source reference the module took is released");
		standin_source_destroy(source);
		obs_data_release(settings);
		if (listener != PLAT_INVALID_SOCKET) {
			plat_socket_close(listener);
			plat_net_cleanup();
		}
	}
unload:
	entry<void (*)()>(dll, "obs_module_unload")();
	entry<void (*)()>(dll, "obs_module_free_locale")();
	check(FreeLibrary(dll), "FreeLibrary");

	std::set<DWORD> left;
	for (DWORD id : thread_ids())
		if (!threads_before.count(id))
			left.insert(id);
	check(left.empty(), "no thread is left behind (" + std::to_string(left.size()) + " new)");
	check(standin_allocations() == allocations_before, "every allocation through obs.dll is freed");

	printf("dll-e2e %s: %d passed, %d failed\n", mode.c_str(), passed, failed);
	return failed ? 1 : 0;
}
