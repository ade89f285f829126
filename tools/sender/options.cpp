#include "options.h"
#include "protocol/camera-controls.h"
#include "command-line.h"

#include <arpa/inet.h>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

/* Decimal, or hexadecimal with 0x, within [lo, hi]. */
bool parse_long(const char *name, const char *text, long lo, long hi, long *out)
{
	if (text_to_long(text, 0, lo, hi, out))
		return true;
	fprintf(stderr, "ostrelin-sender: --%s wants a whole number from %ld to %ld, not \"%s\"\n", name, lo, hi, text);
	return false;
}

/* An option whose value is a whole number within [lo, hi], kept in *out. */
template<typename Number> OptionRow whole(const char *name, long lo, long hi, Number *out)
{
	return {name, true, [=](const char *text) {
			long value = 0;
			if (!parse_long(name, text, lo, hi, &value))
				return false;
			*out = (Number)value;
			return true;
		}};
}

/* An option whose value is a number of seconds, from 0 to 1e7. */
OptionRow seconds(const char *name, double *out)
{
	return {name, true, [=](const char *text) {
			double value = 0;
			if (!text_to_double(text, &value) || !(value >= 0) || value > 1e7) {
				fprintf(stderr, "ostrelin-sender: --%s wants a number of seconds, not \"%s\"\n", name,
					text);
				return false;
			}
			*out = value;
			return true;
		}};
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
	return CameraCaps{1, camera_controls_caps_flags(), 1000, 8000, -12, 12, 166667, 5, {1, 2, 3, 5, 6}};
}

bool parse_listen(const char *arg, SenderOptions *o)
{
	in_addr addr;
	if (inet_pton(AF_INET, arg, &addr) != 1) {
		fprintf(stderr, "ostrelin-sender: --listen wants a dotted IPv4 address, not \"%s\"\n", arg);
		return false;
	}
	o->listen_addr = arg;
	return true;
}

bool parse_video_flags(const char *arg, SenderOptions *o)
{
	long value = 0;
	if (!parse_long("video-flags", arg, 0, 255, &value))
		return false;
	if (value & (PACKET_FLAG_CAPS | PACKET_FLAG_AUDIO)) {
		fprintf(stderr, "ostrelin-sender: --video-flags must leave 0x04 and 0x08 clear\n");
		return false;
	}
	o->video_flags = (uint8_t)value;
	return true;
}

bool parse_clock_drift(const char *arg, SenderOptions *o)
{
	if (drift_parse(arg, &o->clock.phases))
		return true;
	fprintf(stderr, "ostrelin-sender: --clock-drift wants PPM:SECONDS[,PPM:SECONDS...], not \"%s\"\n", arg);
	return false;
}

/* "MIN-MAX" in milliseconds, 0 <= MIN <= MAX <= 10000. */
bool parse_spike_ms(const char *arg, SenderOptions *o)
{
	std::string text = arg;
	size_t dash = text.find('-');
	long lo = 0;
	long hi = 0;
	if (dash != std::string::npos && text_to_long(text.substr(0, dash).c_str(), 10, 0, 10000, &lo) &&
	    text_to_long(text.substr(dash + 1).c_str(), 10, lo, 10000, &hi)) {
		o->net.spike_min_ms = (int)lo;
		o->net.spike_max_ms = (int)hi;
		return true;
	}
	fprintf(stderr, "ostrelin-sender: --spike-ms wants MIN-MAX milliseconds (0 to 10000), not \"%s\"\n", arg);
	return false;
}

bool parse_codec(const char *arg, SenderOptions *o)
{
	if (strcmp(arg, "h264") == 0 || strcmp(arg, "h265") == 0) {
		o->codec = strcmp(arg, "h265") == 0 ? STREAM_CODEC_H265 : STREAM_CODEC_H264;
		return true;
	}
	fprintf(stderr, "ostrelin-sender: --codec wants h264 or h265, not \"%s\"\n", arg);
	return false;
}

bool parse_percent(const char *arg, double *out)
{
	double value = 0;
	if (text_to_double(arg, &value) && value >= 0 && value <= 100) {
		*out = value;
		return true;
	}
	fprintf(stderr, "ostrelin-sender: --spike-share wants a percentage from 0 to 100, not \"%s\"\n", arg);
	return false;
}

/* Every option but --help, each with what its value does. */
std::vector<OptionRow> option_rows(SenderOptions *o)
{
	CameraCaps *caps = &o->caps;
	return {
		{"listen", true,
		 [o](const char *arg) {
			 return parse_listen(arg, o);
		 }},
		whole("port", 0, 65535, &o->port),
		whole("width", 16, 4096, &o->width),
		whole("height", 16, 4096, &o->height),
		whole("fps", 1, 120, &o->fps),
		whole("gop", 0, 100000, &o->gop),
		whole("crf", 0, 51, &o->crf),
		{"codec", true,
		 [o](const char *arg) {
			 return parse_codec(arg, o);
		 }},
		whole("tone", 1, 20000, &o->tone_hz),
		whole("reserved", 0, 255, &o->reserved),
		{"video-flags", true,
		 [o](const char *arg) {
			 return parse_video_flags(arg, o);
		 }},
		whole("caps-flags", 0, 255, &caps->flags),
		whole("zoom-min", INT32_MIN, INT32_MAX, &caps->zoom_min),
		whole("zoom-max", INT32_MIN, INT32_MAX, &caps->zoom_max),
		whole("ev-min", INT32_MIN, INT32_MAX, &caps->ev_min),
		whole("ev-max", INT32_MIN, INT32_MAX, &caps->ev_max),
		whole("ev-step", INT32_MIN, INT32_MAX, &caps->ev_step),
		{"awb", true,
		 [caps](const char *arg) {
			 return parse_awb(arg, caps);
		 }},
		whole("connections", 0, LONG_MAX, &o->connections),
		seconds("duration", &o->duration_s),
		option_flag("bad-magic", &o->bad_magic),
		whole("bad-version", 0, 255, &o->bad_version),
		whole("bad-codec", 0, 255, &o->bad_codec),
		option_flag("oversize", &o->oversize),
		option_flag("exact-max", &o->exact_max),
		whole("stall-header", 0, 3600000, &o->stall_header_ms),
		whole("stall-payload", 0, 3600000, &o->stall_payload_ms),
		option_flag("close-mid-packet", &o->close_mid_packet),
		whole("clock-jump", -1000000000L, 1000000000L, &o->clock_jump_ms),
		seconds("clock-jump-after", &o->clock_jump_after_s),
		option_flag("zero-length", &o->zero_length),
		option_flag("malformed-caps", &o->malformed_caps),
		option_flag("malformed-audio-config", &o->malformed_audio_config),
		option_flag("no-audio", &o->no_audio),
		option_flag("no-caps", &o->no_caps),
		whole("stall-handshake", 0, 3600000, &o->stall_handshake_ms),
		option_flag("handshake-only", &o->handshake_only),
		option_flag("annexb", &o->annexb),
		option_flag("sync-marks", &o->sync_marks),
		option_text("send-log", &o->send_log),
		seconds("drop-every", &o->drop_every_s),
		seconds("rotate-every", &o->rotate_every_s),
		whole("jitter", 0, 10000, &o->net.jitter_ms),
		{"spike-share", true,
		 [o](const char *arg) {
			 return parse_percent(arg, &o->net.spike_percent);
		 }},
		{"spike-ms", true,
		 [o](const char *arg) {
			 return parse_spike_ms(arg, o);
		 }},
		whole("seed", 0, LONG_MAX, &o->net.seed),
		{"clock-drift", true,
		 [o](const char *arg) {
			 return parse_clock_drift(arg, o);
		 }},
	};
}

} // namespace

OptionsRead sender_parse_options(int argc, char **argv, SenderOptions *opts)
{
	SenderOptions o;
	o.caps = default_caps();
	OptionsRead read = read_options(argc, argv, option_rows(&o), "ostrelin-sender");
	if (read == OptionsRead::help)
		sender_print_help(argv[0]);
	if (read != OptionsRead::run)
		return read;
	if (o.width % 2 != 0 || o.height % 2 != 0) {
		fprintf(stderr, "ostrelin-sender: --width and --height must be even (4:2:0 pictures)\n");
		return OptionsRead::bad;
	}
	*opts = o;
	return OptionsRead::run;
}
