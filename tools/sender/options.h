#pragma once
/* Command-line options of the reference sender: what it serves, and how it
 * misbehaves on purpose so that a receiver's error handling can be tried. */

#include "command-line.h"
#include "delay-line.h"
#include "drift-clock.h"
#include "protocol/stream-protocol.h"

#include <cstdint>
#include <string>

struct SenderOptions {
	std::string listen_addr = "127.0.0.1";
	int port = STREAM_DEFAULT_PORT;
	int width = 640;
	int height = 360;
	int fps = 30;
	int gop = 0; /* frames between keyframes; 0 means two seconds */
	int crf = 20;
	uint8_t codec = STREAM_CODEC_H264; /* or STREAM_CODEC_H265 */
	int tone_hz = 1000;
	uint8_t reserved = 0;
	uint8_t video_flags = 0x00;
	CameraCaps caps = {};
	long connections = 0;  /* 0: no limit */
	double duration_s = 0; /* 0: until SIGINT or SIGTERM */

	/* Measuring a receiver. */
	bool annexb = false;       /* plain Annex B video, nothing else */
	bool sync_marks = false;   /* a flash and a tone burst at each whole second */
	std::string send_log;      /* empty: none */
	double drop_every_s = 0;   /* 0: keep each connection */
	double rotate_every_s = 0; /* 0: never turn the picture */
	DriftClock clock;          /* the phone's clock (origin set at start) */
	NetDelayOptions net;       /* a Wi-Fi-like link: packets held back in order */

	/* Misbehaviour. */
	bool bad_magic = false;
	int bad_version = -1; /* -1: send the right value */
	int bad_codec = -1;
	bool oversize = false;
	bool exact_max = false;
	int stall_header_ms = 0;
	int stall_payload_ms = 0;
	bool close_mid_packet = false;
	long clock_jump_ms = 0;
	double clock_jump_after_s = 1.0;
	bool zero_length = false;
	bool malformed_caps = false;
	bool malformed_audio_config = false;
	bool no_audio = false;
	bool no_caps = false;
	int stall_handshake_ms = 0;
	bool handshake_only = false;
};

/* Fills opts from argv. Prints --help to stdout (help) or an error and a
 * hint to stderr (bad). */
OptionsRead sender_parse_options(int argc, char **argv, SenderOptions *opts);
void sender_print_help(const char *program);
