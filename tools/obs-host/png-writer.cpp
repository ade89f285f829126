#include "png-writer.h"

#include "av-encoder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::vector<uint8_t> png_encode_rgba(const uint8_t *rgba, uint32_t width, uint32_t height, uint32_t stride,
				     std::string *error)
{
	const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
	if (!codec) {
		*error = "libavcodec has no PNG encoder";
		return {};
	}
	CodecContextPtr ctx(avcodec_alloc_context3(codec));
	FramePtr frame(av_frame_alloc());
	PacketPtr packet(av_packet_alloc());
	if (!ctx || !frame || !packet) {
		*error = "out of memory";
		return {};
	}
	ctx->width = (int)width;
	ctx->height = (int)height;
	ctx->pix_fmt = AV_PIX_FMT_RGBA;
	ctx->time_base = AVRational{1, 1};
	int result = avcodec_open2(ctx.get(), codec, nullptr);
	if (result < 0) {
		*error = "cannot open the PNG encoder: " + av_error_text(result);
		return {};
	}

	frame->format = AV_PIX_FMT_RGBA;
	frame->width = (int)width;
	frame->height = (int)height;
	result = av_frame_get_buffer(frame.get(), 0);
	if (result < 0) {
		*error = "cannot allocate a frame: " + av_error_text(result);
		return {};
	}
	for (uint32_t y = 0; y < height; y++)
		memcpy(frame->data[0] + (size_t)y * (size_t)frame->linesize[0], rgba + (size_t)y * stride,
		       (size_t)width * 4);

	result = avcodec_send_frame(ctx.get(), frame.get());
	if (result >= 0)
		result = avcodec_receive_packet(ctx.get(), packet.get());
	if (result < 0) {
		*error = "PNG encoding failed: " + av_error_text(result);
		return {};
	}
	return std::vector<uint8_t>(packet->data, packet->data + packet->size);
}

bool write_file_whole(const std::string &path, const std::vector<uint8_t> &bytes, std::string *error)
{
	std::string temporary = path + ".part";
	FILE *file = fopen(temporary.c_str(), "wb");
	if (!file) {
		*error = "cannot create " + temporary + ": " + strerror(errno);
		return false;
	}
	bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
	int write_errno = errno;
	if (fclose(file) != 0 && written) {
		written = false;
		write_errno = errno;
	}
	if (!written) {
		*error = "cannot write " + temporary + ": " + strerror(write_errno);
		remove(temporary.c_str());
		return false;
	}
	if (rename(temporary.c_str(), path.c_str()) != 0) {
		*error = "cannot rename " + temporary + " to " + path + ": " + strerror(errno);
		remove(temporary.c_str());
		return false;
	}
	return true;
}
