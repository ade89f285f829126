#pragma once
/* Reads and writes of integers byte by byte, so that neither the host's byte
 * order nor its alignment matters: little-endian for the phone's stream,
 * big-endian (network order) for RTMP and FLV. */

#include <cstdint>

static inline uint16_t read_le16(const uint8_t *p)
{
	return (uint16_t)(p[0] | (p[1] << 8));
}

static inline uint32_t read_le32(const uint8_t *p)
{
	return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static inline uint64_t read_le64(const uint8_t *p)
{
	return (uint64_t)read_le32(p) | ((uint64_t)read_le32(p + 4) << 32);
}

static inline int32_t read_le32s(const uint8_t *p)
{
	return (int32_t)read_le32(p);
}

static inline void write_le16(uint8_t *p, uint16_t v)
{
	p[0] = (uint8_t)v;
	p[1] = (uint8_t)(v >> 8);
}

static inline void write_le32(uint8_t *p, uint32_t v)
{
	for (int i = 0; i < 4; i++)
		p[i] = (uint8_t)(v >> (8 * i));
}

static inline void write_le64(uint8_t *p, uint64_t v)
{
	write_le32(p, (uint32_t)v);
	write_le32(p + 4, (uint32_t)(v >> 32));
}

static inline uint16_t read_be16(const uint8_t *p)
{
	return (uint16_t)((p[0] << 8) | p[1]);
}

static inline uint32_t read_be24(const uint8_t *p)
{
	return ((uint32_t)p[0] << 16) | ((uint32_t)p[1] << 8) | (uint32_t)p[2];
}

static inline uint32_t read_be32(const uint8_t *p)
{
	return ((uint32_t)p[0] << 24) | read_be24(p + 1);
}

static inline uint64_t read_be64(const uint8_t *p)
{
	return ((uint64_t)read_be32(p) << 32) | (uint64_t)read_be32(p + 4);
}

static inline void write_be16(uint8_t *p, uint16_t v)
{
	p[0] = (uint8_t)(v >> 8);
	p[1] = (uint8_t)v;
}

static inline void write_be24(uint8_t *p, uint32_t v)
{
	for (int i = 0; i < 3; i++)
		p[i] = (uint8_t)(v >> (8 * (2 - i)));
}

static inline void write_be32(uint8_t *p, uint32_t v)
{
	for (int i = 0; i < 4; i++)
		p[i] = (uint8_t)(v >> (8 * (3 - i)));
}

static inline void write_be64(uint8_t *p, uint64_t v)
{
	write_be32(p, (uint32_t)(v >> 32));
	write_be32(p + 4, (uint32_t)v);
}
