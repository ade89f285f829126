/* The portable module's own decoder in a process that already has libobs and
 * the system's FFmpeg loaded, as every OBS process has: the module is opened
 * as OBS opens it (dlopen, its libobs functions found in the process), an
 * H.264 stream goes through its exported decoder one access unit at a time,
 * and each picture must equal, plane by plane, the one the ffmpeg program
 * decoded from the same stream.
 *   decode-with-module MODULE.so STREAM.h264 REFERENCE.yuv
 * STREAM.h264: a stream in tests/fixtures, by its name.
 * REFERENCE.yuv: the stream's pictures as raw 8-bit 4:2:0 (yuv420p), one
 * after another. Prints what it loaded and compared; exit 0 when every
 * picture is equal and none is missing. */

#include "helpers/media-fixtures.h"

#include <obs.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace {

struct VideoDecoder;
using CreateFn = VideoDecoder *(*)();
using DecodeFn = bool (*)(VideoDecoder *, const uint8_t *, size_t, uint64_t, obs_source_frame *);
using DestroyFn = void (*)(VideoDecoder *);

/* The first plane row where the picture and the reference differ, or -1. */
int first_difference(const obs_source_frame &frame, const uint8_t *reference)
{
	int row = 0;
	for (int plane = 0; plane < 3; plane++) {
		uint32_t width = plane == 0 ? frame.width : (frame.width + 1) / 2;
		uint32_t height = plane == 0 ? frame.height : (frame.height + 1) / 2;
		for (uint32_t y = 0; y < height; y++, row++) {
			if (memcmp(frame.data[plane] + static_cast<size_t>(y) * frame.linesize[plane], reference,
				   width) != 0)
				return row;
			reference += width;
		}
	}
	return -1;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc != 4) {
		fprintf(stderr, "usage: %s MODULE.so STREAM.h264 REFERENCE.yuv\n", argv[0]);
		return 2;
	}
	unsigned codec = avcodec_version();
	printf("loaded: libobs %s, the system's libavcodec %u.%u.%u\n", obs_get_version_string(), codec >> 16,
	       (codec >> 8) & 0xff, codec & 0xff);

	void *module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
	if (!module) {
		printf("FAILED: dlopen: %s\n", dlerror());
		return 1;
	}
	auto create = reinterpret_cast<CreateFn>(dlsym(module, "ostrelin_decoder_create"));
	auto decode = reinterpret_cast<DecodeFn>(dlsym(module, "ostrelin_decoder_decode"));
	auto destroy = reinterpret_cast<DestroyFn>(dlsym(module, "ostrelin_decoder_destroy"));
	if (!create || !decode || !destroy) {
		printf("FAILED: the module lacks its decoder functions\n");
		return 1;
	}

	media::Bytes stream = media::read_fixture(argv[2]);
	std::string reference = read_file(argv[3]).value_or("");
	VideoDecoder *decoder = create();
	if (!decoder || stream.empty() || reference.empty()) {
		printf("FAILED: no decoder, stream or reference\n");
		return 1;
	}
	size_t pictures = 0, offset = 0;
	bool same = true;
	uint64_t timestamp = 0;
	for (const auto &payload : media::access_unit_payloads(stream)) {
		obs_source_frame frame = {};
		if (!decode(decoder, payload.data(), payload.size(), timestamp += 33333333, &frame))
			continue;
		size_t size = static_cast<size_t>(frame.width) * frame.height +
			      2 * static_cast<size_t>((frame.width + 1) / 2) * ((frame.height + 1) / 2);
		if (frame.format != VIDEO_FORMAT_I420 || offset + size > reference.size()) {
			printf("FAILED: picture %zu is not a 4:2:0 picture of the reference\n", pictures);
			same = false;
			break;
		}
		int row = first_difference(frame, reinterpret_cast<const uint8_t *>(reference.data()) + offset);
		if (row >= 0) {
			printf("FAILED: picture %zu differs from ffmpeg's from plane row %d on\n", pictures, row);
			same = false;
		}
		offset += size;
		pictures++;
	}
	destroy(decoder);
	if (same && offset != reference.size()) {
		printf("FAILED: %zu pictures decoded, ffmpeg decoded more\n", pictures);
		same = false;
	}
	if (same)
		printf("ok: %zu pictures, each equal to ffmpeg's decode\n", pictures);
	return same ? 0 : 1;
}
