#pragma once
/* Command-line options of the headless OBS host: where the phone is, how long
 * to run, the OBS canvas, and where to write the last picture. */

#include "command-line.h"
#include "protocol/stream-protocol.h"

#include <cstdint>
#include <string>

struct HostOptions {
	/* Wi-Fi mode (the default): connect straight to host:port. */
	std::string host = "127.0.0.1";
	int port = STREAM_DEFAULT_PORT;
	/* USB mode: the plug-in asks the adb server for a forward to port. */
	bool usb = false;
	std::string serial;

	double seconds = 10;
	std::string png_path = "ostrelin-last-picture.png";
	uint32_t canvas_width = 1280;
	uint32_t canvas_height = 720;
	bool quiet = false;   /* no progress lines */
	bool verbose = false; /* echo all of libobs's log to stderr */

	std::string module_path; /* the built ostrelin.so unless given */
	std::string data_dir;    /* the plug-in's data folder (locale/) */
};

/* Fills opts from argv. Prints --help to stdout (help) or an error and a
 * hint to stderr (bad). */
OptionsRead host_parse_options(int argc, char **argv, HostOptions *opts);
