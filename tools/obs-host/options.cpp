#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>

namespace {

enum OptionId {
	OPT_HOST = 256,
	OPT_PORT,
	OPT_USB,
	OPT_SERIAL,
	OPT_SECONDS,
	OPT_PNG,
	OPT_WIDTH,
	OPT_HEIGHT,
	OPT_QUIET,
	OPT_VERBOSE,
	OPT_MODULE,
	OPT_DATA,
};

const option long_options[] = {
	{"help", no_argument, nullptr, 'h'},
	{"host", required_argument, nullptr, OPT_HOST},
	{"port", required_argument, nullptr, OPT_PORT},
	{"usb", no_argument, nullptr, OPT_USB},
	{"serial", required_argument, nullptr, OPT_SERIAL},
	{"seconds", required_argument, nullptr, OPT_SECONDS},
	{"png", required_argument, nullptr, OPT_PNG},
	{"width", required_argument, nullptr, OPT_WIDTH},
	{"height", required_argument, nullptr, OPT_HEIGHT},
	{"quiet", no_argument, nullptr, OPT_QUIET},
	{"verbose", no_argument, nullptr, OPT_VERBOSE},
	{"module", required_argument, nullptr, OPT_MODULE},
	{"data", required_argument, nullptr, OPT_DATA},
	{nullptr, 0, nullptr, 0},
};

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
                      forward (default 27183)
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

bool parse_int(const char *text, long min, long max, long *out)
{
	char *end = nullptr;
	errno = 0;
	long value = strtol(text, &end, 10);
	if (errno != 0 || end == text || *end != '\0' || value < min || value > max)
		return false;
	*out = value;
	return true;
}

bool parse_seconds(const char *text, double *out)
{
	char *end = nullptr;
	double value = strtod(text, &end);
	if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0 || value > 86400)
		return false;
	*out = value;
	return true;
}

HostParse fail(const char *program, const char *option, const char *value, const char *expected)
{
	fprintf(stderr, "%s: bad value for --%s: \"%s\" (%s)\n", program, option, value, expected);
	fprintf(stderr, "Try '%s --help'.\n", program);
	return HostParse::exit_error;
}

} // namespace

static void print_help(const char *program)
{
	printf("Usage: %s [OPTION]...\n", program);
	fputs(help_text + 1, stdout);
	fflush(stdout);
}

HostParse host_parse_options(int argc, char **argv, HostOptions *opts)
{
	const char *program = argv[0];
	bool host_given = false;
	long number = 0;
	optind = 1;
	int id;
	while ((id = getopt_long(argc, argv, "h", long_options, nullptr)) != -1) {
		switch (id) {
		case 'h':
			print_help(program);
			return HostParse::exit_ok;
		case OPT_HOST:
			opts->host = optarg;
			host_given = true;
			break;
		case OPT_PORT:
			if (!parse_int(optarg, 1, 65535, &number))
				return fail(program, "port", optarg, "1..65535");
			opts->port = (int)number;
			break;
		case OPT_USB:
			opts->usb = true;
			break;
		case OPT_SERIAL:
			opts->serial = optarg;
			break;
		case OPT_SECONDS:
			if (!parse_seconds(optarg, &opts->seconds))
				return fail(program, "seconds", optarg, "a number of seconds above 0");
			break;
		case OPT_PNG:
			opts->png_path = optarg;
			break;
		case OPT_WIDTH:
			if (!parse_int(optarg, 32, 8192, &number))
				return fail(program, "width", optarg, "32..8192");
			opts->canvas_width = (uint32_t)number;
			break;
		case OPT_HEIGHT:
			if (!parse_int(optarg, 32, 8192, &number))
				return fail(program, "height", optarg, "32..8192");
			opts->canvas_height = (uint32_t)number;
			break;
		case OPT_QUIET:
			opts->quiet = true;
			break;
		case OPT_VERBOSE:
			opts->verbose = true;
			break;
		case OPT_MODULE:
			opts->module_path = optarg;
			break;
		case OPT_DATA:
			opts->data_dir = optarg;
			break;
		default:
			fprintf(stderr, "Try '%s --help'.\n", program);
			return HostParse::exit_error;
		}
	}
	if (optind < argc) {
		fprintf(stderr, "%s: unexpected argument \"%s\"\nTry '%s --help'.\n", program, argv[optind], program);
		return HostParse::exit_error;
	}
	if (opts->usb && host_given) {
		fprintf(stderr, "%s: --host is for Wi-Fi mode; USB mode always connects to 127.0.0.1\n", program);
		return HostParse::exit_error;
	}
	if (!opts->usb && !opts->serial.empty()) {
		fprintf(stderr, "%s: --serial needs --usb\n", program);
		return HostParse::exit_error;
	}
	if (opts->png_path.empty()) {
		fprintf(stderr, "%s: --png needs a path\n", program);
		return HostParse::exit_error;
	}
	return HostParse::run;
}
