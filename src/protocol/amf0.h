#pragma once
/* AMF0, the encoding of RTMP's commands: what a publisher sends is read (a
 * value at a time from a cursor that fails once and stays failed), what the
 * server replies is written. Every value starts with a type byte:
 *
 *   0 number   f64 big-endian          8 ECMA array  u32 count, then as object
 *   1 boolean  u8                      9 object end  (after an empty key)
 *   2 string   u16 length, bytes      10 strict array u32 count, values
 *   3 object   (u16 key, value)...    11 date        f64, s16 time zone
 *              u16 0, then 9          12 long string u32 length, bytes
 *   5 null     6 undefined            16 typed object string, then as object
 *
 * Nesting deeper than AMF0_MAX_DEPTH fails, so no input recurses far. */

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#define AMF0_MAX_DEPTH 16

enum Amf0Type : uint8_t {
	AMF0_NUMBER = 0,
	AMF0_BOOLEAN = 1,
	AMF0_STRING = 2,
	AMF0_OBJECT = 3,
	AMF0_NULL = 5,
	AMF0_UNDEFINED = 6,
	AMF0_REFERENCE = 7,
	AMF0_ECMA_ARRAY = 8,
	AMF0_OBJECT_END = 9,
	AMF0_STRICT_ARRAY = 10,
	AMF0_DATE = 11,
	AMF0_LONG_STRING = 12,
	AMF0_UNSUPPORTED = 13,
	AMF0_XML_DOCUMENT = 15,
	AMF0_TYPED_OBJECT = 16,
};

struct Amf0Reader {
	std::span<const uint8_t> rest;
	bool failed;
};

Amf0Reader amf0_reader(std::span<const uint8_t> bytes);
/* False (and the reader failed) when the next value is not of that type or
 * is cut short. A string is a string or a long string; it points into the
 * reader's bytes. */
bool amf0_read_number(Amf0Reader *r, double *out);
bool amf0_read_string(Amf0Reader *r, std::string_view *out);
/* Skips one value of any type, nested ones included. */
bool amf0_skip(Amf0Reader *r);
/* Reads an object (or ECMA array, or null: nothing found) to its end and
 * gives the string property named key, if there is one, in *out (left
 * untouched otherwise). */
bool amf0_read_object_string(Amf0Reader *r, std::string_view key, std::string_view *out);

void amf0_write_number(std::vector<uint8_t> *out, double value);
void amf0_write_boolean(std::vector<uint8_t> *out, bool value);
void amf0_write_string(std::vector<uint8_t> *out, std::string_view value);
void amf0_write_null(std::vector<uint8_t> *out);
void amf0_write_object_start(std::vector<uint8_t> *out);
/* A property's key; its value follows with one of the writes above. */
void amf0_write_key(std::vector<uint8_t> *out, std::string_view key);
void amf0_write_object_end(std::vector<uint8_t> *out);
