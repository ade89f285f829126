#include "options.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>

namespace {

enum OptionId {
	OPT_LISTEN = 256,
	OPT_PORT,
	OPT_WIDTH,
	OPT_HEIGHT,
	OPT_FPS,
	OPT_GOP,
	OPT_CRF,
	OPT_TONE,
	OPT_RESERVED,
	OPT_VIDEO_FLAGS,
	OPT_CAPS_FLAGS,
	OPT_ZOOM_MIN,
	OPT_ZOOM_MAX,
	OPT_EV_MIN,
	OPT_EV_MAX,
	OPT_EV_STEP,
	OPT_AWB,
	OPT_CONNECTIONS,
	OPT_DURATION,
	OPT_BAD_MAGIC,
	OPT_BAD_VERSION,
	OPT_BAD_CODEC,
	OPT_OVERSIZE,
	OPT_EXACT_MAX,
	OPT_STALL_HEADER,
	OPT_STALL_PAYLOAD,
	OPT_CLOSE_MID_PACKET,
	OPT_CLOCK_JUMP,
	OPT_CLOCK_JUMP_AFTER,
	OPT_ZERO_LENGTH,
	OPT_MALFORMED_CAPS,
	OPT_MALFORMED_AUDIO_CONFIG,
	OPT_NO_AUDIO,
	OPT_NO_CAPS,
	OPT_STALL_HANDSHAKE,
	OPT_HANDSHAKE_ONLY,
	OPT_ANNEXB,
	OPT_SEND_LOG,
	OPT_DROP_EVERY,
	OPT_ROTATE_EVERY,
	OPT_CLOCK_DRIFT,
};

const option long_options[] = {
	{"help", no_argument, nullptr, 'h'},
	{"listen", required_argument, nullptr, OPT_LISTEN},
	{"port", required_argument, nullptr, OPT_PORT},
	{"width", required_argument, nullptr, OPT_WIDTH},
	{"height", required_argument, nullptr, OPT_HEIGHT},
	{"fps", required_argument, nullptr, OPT_FPS},
	{"gop", required_argument, nullptr, OPT_GOP},
	{"crf", required_argument, nullptr, OPT_CRF},
	{"tone", required_argument, nullptr, OPT_TONE},
	{"reserved", required_argument, nullptr, OPT_RESERVED},
	{"video-flags", required_argument, nullptr, OPT_VIDEO_FLAGS},
	{"caps-flags", required_argument, nullptr, OPT_CAPS_FLAGS},
	{"zoom-min", required_argument, nullptr, OPT_ZOOM_MIN},
	{"zoom-max", required_argument, nullptr, OPT_ZOOM_MAX},
	{"ev-min", required_argument, nullptr, OPT_EV_MIN},
	{"ev-max", required_argument, nullptr, OPT_EV_MAX},
	{"ev-step", required_argument, nullptr, OPT_EV_STEP},
	{"awb", required_argument, nullptr, OPT_AWB},
	{"connections", required_argument, nullptr, OPT_CONNECTIONS},
	{"duration", required_argument, nullptr, OPT_DURATION},
	{"bad-magic", no_argument, nullptr, OPT_BAD_MAGIC},
	{"bad-version", required_argument, nullptr, OPT_BAD_VERSION},
	{"bad-codec", required_argument, nullptr, OPT_BAD_CODEC},
	{"oversize", no_argument, nullptr, OPT_OVERSIZE},
	{"exact-max", no_argument, nullptr, OPT_EXACT_MAX},
	{"stall-header", required_argument, nullptr, OPT_STALL_HEADER},
	{"stall-payload", required_argument, nullptr, OPT_STALL_PAYLOAD},
	{"close-mid-packet", no_argument, nullptr, OPT_CLOSE_MID_PACKET},
	{"clock-jump", required_argument, nullptr, OPT_CLOCK_JUMP},
	{"clock-jump-after", required_argument, nullptr, OPT_CLOCK_JUMP_AFTER},
	{"zero-length", no_argument, nullptr, OPT_ZERO_LENGTH},
	{"malformed-caps", no_argument, nullptr, OPT_MALFORMED_CAPS},
	{"malformed-audio-config", no_argument, nullptr, OPT_MALFORMED_AUDIO_CONFIG},
	{"no-audio", no_argument, nullptr, OPT_NO_AUDIO},
	{"no-caps", no_argument, nullptr, OPT_NO_CAPS},
	{"stall-handshake", required_argument, nullptr, OPT_STALL_HANDSHAKE},
	{"handshake-only", no_argument, nullptr, OPT_HANDSHAKE_ONLY},
	{"annexb", no_argument, nullptr, OPT_ANNEXB},
	{"send-log", required_argument, nullptr, OPT_SEND_LOG},
	{"drop-every", required_argument, nullptr, OPT_DROP_EVERY},
	{"rotate-every", required_argument, nullptr, OPT_ROTATE_EVERY},
	{"clock-drift", required_argument, nullptr, OPT_CLOCK_DRIFT},
	{nullptr, 0, nullptr, 0},
};

/* Decimal, or hexadecimal with 0x, within [lo, hi]. */
bool parse_long(const char *name, const char *text, long lo, long hi, long *out)
{
	errno = 0;
	char *end = nullptr;
	long value = strtol(text, &end, 0);
	if (errno != 0 || end == text || *end != '\0' || value < lo || value > hi) {
		fprintf(stderr, "ostrelin-sender: --%s wants a whole number from %ld to %ld, not \"%s\"\n", name, lo,
			hi, text);
		return false;
	}
	*out = value;
	return true;
}

bool parse_int(const char *name, const char *text, long lo, long hi, int *out)
{
	long value = 0;
	if (!parse_long(name, text, lo, hi, &value))
		return false;
	*out = (int)value;
	return true;
}

bool parse_seconds(const char *name, const char *text, double *out)
{
	char *end = nullptr;
	double value = strtod(text, &end);
	if (end == text || *end != '\0' || !(value >= 0) || value > 1e7) {
		fprintf(stderr, "ostrelin-sender: --%s wants a number of seconds, not \"%s\"\n", name, text);
		return false;
	}
	*out = value;
	return true;
}

/* "1,2,3,5,6"; an empty text is an empty list. */
bool parse_awb(const char *text, CameraCaps *caps)
{
	int count = 0;
	std::string rest = text;
	while (!rest.empty()) {
		size_t comma = rest.find(',');
		std::string item = rest.substr(0, comma);
		rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
		long mode = 0;
		if (count == CAPS_MAX_AWB_MODES) {
			fprintf(stderr, "ostrelin-sender: --awb takes at most %d modes\n", CAPS_MAX_AWB_MODES);
			return false;
		}
		if (!parse_long("awb", item.c_str(), INT32_MIN, INT32_MAX, &mode))
			return false;
		caps->awb_modes[count++] = (int32_t)mode;
	}
	for (int i = count; i < CAPS_MAX_AWB_MODES; i++)
		caps->awb_modes[i] = 0;
	caps->awb_count = count;
	return true;
}

CameraCaps default_caps(void)
{
	/* valid, flags, zoom min and max, ev min, max and step, awb count and modes */
	return CameraCaps{
		1, CAPS_ZOOM | CAPS_EV | CAPS_TORCH | CAPS_AE_LOCK, 1000, 8000, -12, 12, 166667, 5, {1, 2, 3, 5, 6}};
}

bool apply_option(int id, const char *arg, SenderOptions *o)
{
	long value = 0;
	switch (id) {
	case OPT_LISTEN: {
		in_addr addr;
		if (inet_pton(AF_INET, arg, &addr) != 1) {
			fprintf(stderr, "ostrelin-sender: --listen wants a dotted IPv4 address, not \"%s\"\n", arg);
			return false;
		}
		o->listen_addr = arg;
		return true;
	}
	case OPT_PORT:
		return parse_int("port", arg, 0, 65535, &o->port);
	case OPT_WIDTH:
		return parse_int("width", arg, 16, 4096, &o->width);
	case OPT_HEIGHT:
		return parse_int("height", arg, 16, 4096, &o->height);
	case OPT_FPS:
		return parse_int("fps", arg, 1, 120, &o->fps);
	case OPT_GOP:
		return parse_int("gop", arg, 0, 100000, &o->gop);
	case OPT_CRF:
		return parse_int("crf", arg, 0, 51, &o->crf);
	case OPT_TONE:
		return parse_int("tone", arg, 1, 20000, &o->tone_hz);
	case OPT_RESERVED:
		if (!parse_long("reserved", arg, 0, 255, &value))
			return false;
		o->reserved = (uint8_t)value;
		return true;
	case OPT_VIDEO_FLAGS:
		if (!parse_long("video-flags", arg, 0, 255, &value))
			return false;
		if (value & (PACKET_FLAG_CAPS | PACKET_FLAG_AUDIO)) {
			fprintf(stderr, "ostrelin-sender: --video-flags must leave 0x04 and 0x08 clear\n");
			return false;
		}
		o->video_flags = (uint8_t)value;
		return true;
	case OPT_CAPS_FLAGS:
		if (!parse_long("caps-flags", arg, 0, 255, &value))
			return false;
		o->caps.flags = (uint8_t)value;
		return true;
	case OPT_ZOOM_MIN:
		return parse_int("zoom-min", arg, INT32_MIN, INT32_MAX, &o->caps.zoom_min);
	case OPT_ZOOM_MAX:
		return parse_int("zoom-max", arg, INT32_MIN, INT32_MAX, &o->caps.zoom_max);
	case OPT_EV_MIN:
		return parse_int("ev-min", arg, INT32_MIN, INT32_MAX, &o->caps.ev_min);
	case OPT_EV_MAX:
		return parse_int("ev-max", arg, INT32_MIN, INT32_MAX, &o->caps.ev_max);
	case OPT_EV_STEP:
		return parse_int("ev-step", arg, INT32_MIN, INT32_MAX, &o->caps.ev_step);
	case OPT_AWB:
		return parse_awb(arg, &o->caps);
	case OPT_CONNECTIONS:
		return parse_long("connections", arg, 0, LONG_MAX, &o->connections);
	case OPT_DURATION:
		return parse_seconds("duration", arg, &o->duration_s);
	case OPT_BAD_MAGIC:
		o->bad_magic = true;
		return true;
	case OPT_BAD_VERSION:
		return parse_int("bad-version", arg, 0, 255, &o->bad_version);
	case OPT_BAD_CODEC:
		return parse_int("bad-codec", arg, 0, 255, &o->bad_codec);
	case OPT_OVERSIZE:
		o->oversize = true;
		return true;
	case OPT_EXACT_MAX:
		o->exact_max = true;
		return true;
	case OPT_STALL_HEADER:
		return parse_int("stall-header", arg, 0, 3600000, &o->stall_header_ms);
	case OPT_STALL_PAYLOAD:
		return parse_int("stall-payload", arg, 0, 3600000, &o->stall_payload_ms);
	case OPT_CLOSE_MID_PACKET:
		o->close_mid_packet = true;
		return true;
	case OPT_CLOCK_JUMP:
		return parse_long("clock-jump", arg, -1000000000L, 1000000000L, &o->clock_jump_ms);
	case OPT_CLOCK_JUMP_AFTER:
		return parse_seconds("clock-jump-after", arg, &o->clock_jump_after_s);
	case OPT_ZERO_LENGTH:
		o->zero_length = true;
		return true;
	case OPT_MALFORMED_CAPS:
		o->malformed_caps = true;
		return true;
	case OPT_MALFORMED_AUDIO_CONFIG:
		o->malformed_audio_config = true;
		return true;
	case OPT_NO_AUDIO:
		o->no_audio = true;
		return true;
	case OPT_NO_CAPS:
		o->no_caps = true;
		return true;
	case OPT_STALL_HANDSHAKE:
		return parse_int("stall-handshake", arg, 0, 3600000, &o->stall_handshake_ms);
	case OPT_HANDSHAKE_ONLY:
		o->handshake_only = true;
		return true;
	case OPT_ANNEXB:
		o->annexb = true;
		return true;
	case OPT_SEND_LOG:
		o->send_log = arg;
		return true;
	case OPT_DROP_EVERY:
		return parse_seconds("drop-every", arg, &o->drop_every_s);
	case OPT_ROTATE_EVERY:
		return parse_seconds("rotate-every", arg, &o->rotate_every_s);
	case OPT_CLOCK_DRIFT:
		if (drift_parse(arg, &o->clock.phases))
			return true;
		fprintf(stderr, "ostrelin-sender: --clock-drift wants PPM:SECONDS[,PPM:SECONDS...], not \"%s\"\n", arg);
		return false;
	}
	return false;
}

} // namespace

ParseResult sender_parse_options(int argc, char **argv, SenderOptions *opts)
{
	SenderOptions o;
	o.caps = default_caps();
	optind = 1;
	opterr = 1;
	int id;
	while ((id = getopt_long(argc, argv, "h", long_options, nullptr)) != -1) {
		if (id == 'h') {
			sender_print_help(argv[0]);
			return ParseResult::exit_ok;
		}
		if (id == '?' || !apply_option(id, optarg, &o)) {
			fprintf(stderr, "Try '%s --help'.\n", argv[0]);
			return ParseResult::exit_error;
		}
	}
	if (optind < argc) {
		fprintf(stderr, "ostrelin-sender: unexpected argument \"%s\"\nTry '%s --help'.\n", argv[optind],
			argv[0]);
		return ParseResult::exit_error;
	}
	if (o.width % 2 != 0 || o.height % 2 != 0) {
		fprintf(stderr, "ostrelin-sender: --width and --height must be even (4:2:0 pictures)\n");
		return ParseResult::exit_error;
	}
	*opts = o;
	return ParseResult::run;
}
