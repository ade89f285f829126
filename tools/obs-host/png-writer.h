#pragma once
/* PNG files from RGBA pixels, encoded with libavcodec's PNG encoder. */

#include <cstdint>
#include <string>
#include <vector>

/* The PNG bytes of a width x height picture of 8-bit RGBA pixels, rows
 * `stride` bytes apart; empty on failure, with the reason in *error. */
std::vector<uint8_t> png_encode_rgba(const uint8_t *rgba, uint32_t width, uint32_t height, uint32_t stride,
				     std::string *error);

/* Writes bytes to path through a temporary file next to it, so that a reader
 * never sees half a file. */
bool write_file_whole(const std::string &path, const std::vector<uint8_t> &bytes, std::string *error);
