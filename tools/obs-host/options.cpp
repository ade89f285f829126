#include "options.h"
#include "command-line.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

const char help_text[] = R"(
Runs the Ostrelin plug-in inside a headless libobs, the way OBS Studio loads
and shows it, and reports what OBS receives. Needs an X display: run it under
`xvfb-run -a`.

It starts libobs (OpenGL video, 48 kHz stereo audio), loads the plug-in with
OBS's own module loader, adds one Ostrelin source aimed at the phone and shows
it on the canvas. Once a second it prints the connection state, the pictures
and audio blocks OBS has received and the frame rate. At the end it prints the
plug-in's own log lines, writes the last picture OBS rendered from the source
as a PNG (at the picture's own size), and exits 0 only if pictures and audio
both arrived and the PNG was written.

OPTIONS
  -h, --help          this text
  --host ADDR         Wi-Fi mode: the phone's IPv4 address (default 127.0.0.1)
  --port N            the phone's port; in USB mode the local port of the adb
                      forward (default )" HELP_NUMBER(STREAM_DEFAULT_PORT) R"()
  --usb               USB mode: the plug-in asks the adb server (127.0.0.1:5037)
                      to forward --port to the phone app
  --serial S          USB mode: the adb serial of the phone (default: the adb
                      server picks the only device)
  --seconds N         how long to run (default 10; Ctrl-C ends early)
  --png PATH          where to write the last picture
                      (default ostrelin-last-picture.png)
  --width W, --height H
                      the OBS canvas (default 1280x720)
  --quiet             no progress lines
  --verbose           echo all of libobs's log lines to stderr
  --module PATH       the plug-in module to load (default: the built one)
  --data DIR          the plug-in's data folder (default: the source tree's)

EXIT STATUS
  0 pictures and audio arrived and the PNG was written; 1 otherwise;
  2 bad options or libobs could not start.
)";

/* An option whose value is a whole number within [lo, hi], kept in *out. */
template<typename Number>
OptionRow whole(const char *program, const char *name, long lo, long hi, const char *expected, Number *out)
{
	return {name, true, [=](const char *text) {
			long value = 0;
			if (!text_to_long(text, 10, lo, hi, &value)) {
				fprintf(stderr, "%s: bad value for --%s: \"%s\" (%s)\n", program, name, text, expected);
				return false;
			}
			*out = (Number)value;
			return true;
		}};
}

bool parse_seconds(const char *program, const char *text, double *out)
{
	double value = 0;
	if (!text_to_double(text, &value) || !std::isfinite(value) || value <= 0 || value > 86400) {
		fprintf(stderr, "%s: bad value for --%s: \"%s\" (%s)\n", program, "seconds", text,
			"a number of seconds above 0");
		return false;
	}
	*out = value;
	return true;
}

/* Every option but --help, each with what its value does. */
std::vector<OptionRow> option_rows(const char *program, HostOptions *opts, bool *host_given)
{
	return {
		{"host", true,
		 [=](const char *text) {
			 opts->host = text;
			 *host_given = true;
			 return true;
		 }},
		whole(program, "port", 1, 65535, "1..65535", &opts->port),
		option_flag("usb", &opts->usb),
		option_text("serial", &opts->serial),
		{"seconds", true,
		 [=](const char *text) {
			 return parse_seconds(program, text, &opts->seconds);
		 }},
		option_text("png", &opts->png_path),
		whole(program, "width", 32, 8192, "32..8192", &opts->canvas_width),
		whole(program, "height", 32, 8192, "32..8192", &opts->canvas_height),
		option_flag("quiet", &opts->quiet),
		option_flag("verbose", &opts->verbose),
		option_text("module", &opts->module_path),
		option_text("data", &opts->data_dir),
	};
}

} // namespace

static void print_help(const char *program)
{
	printf("Usage: %s [OPTION]...\n", program);
	fputs(help_text + 1, stdout);
	fflush(stdout);
}

OptionsRead host_parse_options(int argc, char **argv, HostOptions *opts)
{
	const char *program = argv[0];
	bool host_given = false;
	OptionsRead read = read_options(argc, argv, option_rows(program, opts, &host_given), program);
	if (read == OptionsRead::help)
		print_help(program);
	if (read != OptionsRead::run)
		return read;
	if (opts->usb && host_given) {
		fprintf(stderr, "%s: --host is for Wi-Fi mode; USB mode always connects to 127.0.0.1\n", program);
		return OptionsRead::bad;
	}
	if (!opts->usb && !opts->serial.empty()) {
		fprintf(stderr, "%s: --serial needs --usb\n", program);
		return OptionsRead::bad;
	}
	if (opts->png_path.empty()) {
		fprintf(stderr, "%s: --png needs a path\n", program);
		return OptionsRead::bad;
	}
	return OptionsRead::run;
}
