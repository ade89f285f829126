#include "protocol/amf0.h"

#include "protocol/byte-order.h"

#include <bit>
#include <cstring>

namespace {

bool fail(Amf0Reader *r)
{
	r->failed = true;
	r->rest = {};
	return false;
}

/* The next n bytes, or nullptr (and the reader failed) when fewer are left. */
const uint8_t *take(Amf0Reader *r, size_t n)
{
	if (r->failed || r->rest.size() < n) {
		fail(r);
		return nullptr;
	}
	const uint8_t *p = r->rest.data();
	r->rest = r->rest.subspan(n);
	return p;
}

/* A string's bytes after its type byte: u16 or u32 length, then the bytes. */
bool read_string_body(Amf0Reader *r, size_t length_size, std::string_view *out)
{
	const uint8_t *len = take(r, length_size);
	if (!len)
		return false;
	size_t n = length_size == 2 ? read_be16(len) : read_be32(len);
	const uint8_t *bytes = take(r, n);
	if (!bytes)
		return false;
	*out = {(const char *)bytes, n};
	return true;
}

bool skip_value(Amf0Reader *r, int depth);

/* Properties (u16 key, value) up to the empty key and the end marker; the
 * string value of key goes to *found. */
bool read_properties(Amf0Reader *r, int depth, std::string_view key, std::string_view *found)
{
	for (;;) {
		std::string_view name;
		if (!read_string_body(r, 2, &name))
			return false;
		if (name.empty()) {
			const uint8_t *end = take(r, 1);
			return end && (*end == AMF0_OBJECT_END || fail(r));
		}
		if (found && name == key && !r->rest.empty() &&
		    (r->rest[0] == AMF0_STRING || r->rest[0] == AMF0_LONG_STRING)) {
			if (!amf0_read_string(r, found))
				return false;
		} else if (!skip_value(r, depth + 1)) {
			return false;
		}
	}
}

bool skip_value(Amf0Reader *r, int depth)
{
	if (depth > AMF0_MAX_DEPTH)
		return fail(r);
	const uint8_t *type = take(r, 1);
	if (!type)
		return false;
	std::string_view ignored;
	switch (*type) {
	case AMF0_NUMBER:
		return take(r, 8) != nullptr;
	case AMF0_BOOLEAN:
		return take(r, 1) != nullptr;
	case AMF0_STRING:
		return read_string_body(r, 2, &ignored);
	case AMF0_LONG_STRING:
	case AMF0_XML_DOCUMENT:
		return read_string_body(r, 4, &ignored);
	case AMF0_NULL:
	case AMF0_UNDEFINED:
	case AMF0_UNSUPPORTED:
		return true;
	case AMF0_REFERENCE:
		return take(r, 2) != nullptr;
	case AMF0_DATE:
		return take(r, 10) != nullptr;
	case AMF0_OBJECT:
		return read_properties(r, depth, {}, nullptr);
	case AMF0_TYPED_OBJECT:
		return read_string_body(r, 2, &ignored) && read_properties(r, depth, {}, nullptr);
	case AMF0_ECMA_ARRAY:
		/* The count is advisory: the properties run to the end marker. */
		return take(r, 4) && read_properties(r, depth, {}, nullptr);
	case AMF0_STRICT_ARRAY: {
		const uint8_t *count = take(r, 4);
		if (!count)
			return false;
		/* Every value takes a byte at least, so the loop ends with the input. */
		for (uint32_t i = read_be32(count); i > 0; i--) {
			if (!skip_value(r, depth + 1))
				return false;
		}
		return true;
	}
	default:
		return fail(r);
	}
}

void put(std::vector<uint8_t> *out, const uint8_t *bytes, size_t n)
{
	out->insert(out->end(), bytes, bytes + n);
}

} // namespace

Amf0Reader amf0_reader(std::span<const uint8_t> bytes)
{
	return {bytes, false};
}

bool amf0_read_number(Amf0Reader *r, double *out)
{
	if (r->rest.empty() || r->rest[0] != AMF0_NUMBER)
		return fail(r);
	const uint8_t *p = take(r, 9);
	if (!p)
		return false;
	*out = std::bit_cast<double>(read_be64(p + 1));
	return true;
}

bool amf0_read_string(Amf0Reader *r, std::string_view *out)
{
	if (r->rest.empty() || (r->rest[0] != AMF0_STRING && r->rest[0] != AMF0_LONG_STRING))
		return fail(r);
	size_t length_size = r->rest[0] == AMF0_STRING ? 2 : 4;
	take(r, 1);
	return read_string_body(r, length_size, out);
}

bool amf0_skip(Amf0Reader *r)
{
	return skip_value(r, 0);
}

bool amf0_read_object_string(Amf0Reader *r, std::string_view key, std::string_view *out)
{
	const uint8_t *type = take(r, 1);
	if (!type)
		return false;
	if (*type == AMF0_NULL || *type == AMF0_UNDEFINED)
		return true;
	if (*type == AMF0_ECMA_ARRAY && !take(r, 4))
		return false;
	if (*type != AMF0_OBJECT && *type != AMF0_ECMA_ARRAY)
		return fail(r);
	return read_properties(r, 0, key, out);
}

void amf0_write_number(std::vector<uint8_t> *out, double value)
{
	uint8_t bytes[9] = {AMF0_NUMBER};
	write_be64(bytes + 1, std::bit_cast<uint64_t>(value));
	put(out, bytes, sizeof(bytes));
}

void amf0_write_boolean(std::vector<uint8_t> *out, bool value)
{
	out->push_back(AMF0_BOOLEAN);
	out->push_back(value ? 1 : 0);
}

void amf0_write_string(std::vector<uint8_t> *out, std::string_view value)
{
	out->push_back(AMF0_STRING);
	amf0_write_key(out, value);
}

void amf0_write_null(std::vector<uint8_t> *out)
{
	out->push_back(AMF0_NULL);
}

void amf0_write_object_start(std::vector<uint8_t> *out)
{
	out->push_back(AMF0_OBJECT);
}

void amf0_write_key(std::vector<uint8_t> *out, std::string_view key)
{
	/* The server's own texts, all far shorter than 64 KiB. */
	uint8_t len[2];
	write_be16(len, (uint16_t)key.size());
	put(out, len, 2);
	put(out, (const uint8_t *)key.data(), key.size());
}

void amf0_write_object_end(std::vector<uint8_t> *out)
{
	const uint8_t end[3] = {0, 0, AMF0_OBJECT_END};
	put(out, end, 3);
}
