#include "protocol/byte-order.h"
#include "protocol/rtmp-chunks.h"
#include "protocol/rtmp-handshake.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Read {
	std::vector<RtmpMessage> messages; /* payloads copied into payloads */
	std::vector<Bytes> payloads;
	RtmpError error = RtmpError::none;
};

/* Feeds all of wire in one go and collects every message, or the error. */
Read read_all(RtmpChunkReader *r, const Bytes &wire)
{
	Read got;
	size_t used = 0;
	while (used < wire.size() && got.error == RtmpError::none) {
		RtmpMessage msg;
		RtmpChunkResult result;
		used += rtmp_chunks_read(r, wire.data() + used, wire.size() - used, &msg, &result, &got.error);
		if (result == RtmpChunkResult::message) {
			got.payloads.emplace_back(msg.payload.begin(), msg.payload.end());
			got.messages.push_back(msg);
		}
	}
	RtmpMessage msg;
	RtmpChunkResult result;
	RtmpError error;
	rtmp_chunks_read(r, wire.data(), 0, &msg, &result, &error); /* lets the last message go */
	return got;
}

std::unique_ptr<RtmpChunkReader> reader()
{
	auto r = std::make_unique<RtmpChunkReader>();
	rtmp_chunks_init(r.get());
	return r;
}

/* A fmt 0 header on csid 3 of a message of length bytes and type, stream 0. */
Bytes header0(uint32_t csid, uint32_t length, uint8_t type)
{
	Bytes h = {(uint8_t)csid, 0, 0, 0, 0, 0, 0, type, 0, 0, 0, 0};
	write_be24(&h[4], length);
	return h;
}

Bytes operator+(Bytes a, const Bytes &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

} // namespace

TEST(RtmpHandshake, AnswersVersion3AndRefusesOthers)
{
	for (uint8_t version : {3, 0, 6, 31}) {
		RtmpHandshake hs;
		rtmp_handshake_init(&hs);
		Bytes c0c1(1 + RTMP_HANDSHAKE_SIZE);
		c0c1[0] = version;
		for (size_t i = 1; i < c0c1.size(); i++)
			c0c1[i] = (uint8_t)(i * 7);
		Bytes out;
		RtmpError error = RtmpError::none;
		size_t used = rtmp_handshake_read(&hs, c0c1.data(), c0c1.size(), &out, &error);
		if (version != RTMP_VERSION) {
			EXPECT_EQ(error, RtmpError::handshake_version) << (int)version;
			EXPECT_TRUE(out.empty());
			continue;
		}
		ASSERT_EQ(used, c0c1.size());
		ASSERT_EQ(out.size(), 1 + 2 * RTMP_HANDSHAKE_SIZE); /* S0, S1, S2 */
		EXPECT_EQ(out[0], RTMP_VERSION);                    /* S0 */
		EXPECT_EQ(read_be32(&out[1 + 4]), 0u);              /* S1's zero: no digest */
		EXPECT_TRUE(
			std::equal(c0c1.begin() + 1, c0c1.end(), out.begin() + 1 + RTMP_HANDSHAKE_SIZE)); /* S2 = C1 */
	}
}

TEST(RtmpChunks, ReadsEveryHeaderForm)
{
	const Bytes one_byte = {
		0x03,                   /* fmt 0, csid 3 */
		0x00, 0x03, 0xE8,       /* timestamp 1000 */
		0x00, 0x00, 0x02,       /* length 2 */
		0x14,                   /* type 20, command */
		0x01, 0x00, 0x00, 0x00, /* stream id 1, little-endian */
		0xAA, 0xBB,             /* payload */
	};
	const Bytes two_byte = {0x00, 0x00, /* fmt 0, csid 64 + 0 */
				0,    0,    0, 0, 0, 1, 0x09, 0, 0, 0, 0, 0xCC};
	const Bytes three_byte = {0x01, 0x01, 0x01, /* fmt 0, csid 64 + 1 + 256 * 1 */
				  0,    0,    0,    0, 0, 1, 0x08, 0, 0, 0, 0, 0xDD};
	const Bytes extended = {
		0x04, 0xFF, 0xFF, 0xFF,             /* fmt 0, csid 4, timestamp: extended */
		0x00, 0x00, 0x82, 0x09, 0, 0, 0, 0, /* length 130, video, stream 0 */
		0x01, 0x00, 0x00, 0x00,             /* extended timestamp 0x01000000 */
	};
	Bytes ext_message = extended + Bytes(128, 0x11) + Bytes{0xC4, /* fmt 3, csid 4: continuation */
								0x01, 0x00,
								0x00, 0x00, /* its extended timestamp again */
								0x22, 0x22};
	const Bytes deltas = {
		0x45, 0x00, 0x00, 0x28, 0x00, 0x00, 0x01, 0x08, 0x01, /* fmt 1, csid 5: +40, length 1, audio */
		0x85, 0x00, 0x00, 0x28, 0x02,                         /* fmt 2, csid 5: +40 */
		0xC5, 0x03,                                           /* fmt 3, csid 5: a new message, +40 again */
	};
	auto r = reader();
	Read got = read_all(r.get(),
			    one_byte + two_byte + three_byte + ext_message + header0(5, 1, 8) + Bytes{0x01} + deltas);
	ASSERT_EQ(got.error, RtmpError::none);
	ASSERT_EQ(got.messages.size(), 8u);
	EXPECT_EQ(got.messages[0].timestamp, 1000u);
	EXPECT_EQ(got.messages[0].stream_id, 1u);
	EXPECT_EQ(got.payloads[0], (Bytes{0xAA, 0xBB}));
	EXPECT_EQ(got.payloads[1], Bytes{0xCC});
	EXPECT_EQ(got.messages[2].type, RTMP_AUDIO);
	EXPECT_EQ(got.payloads[2], Bytes{0xDD});
	EXPECT_EQ(got.messages[3].timestamp, 0x01000000u);
	EXPECT_EQ(got.payloads[3], (Bytes(128, 0x11) + Bytes{0x22, 0x22}));
	EXPECT_EQ(got.messages[5].timestamp, 40u);
	EXPECT_EQ(got.messages[6].timestamp, 80u);
	EXPECT_EQ(got.messages[7].timestamp, 120u);
	EXPECT_EQ(got.payloads[7], Bytes{0x03});
}

TEST(RtmpChunks, AssemblesInterleavedStreamsAndDropsAborted)
{
	Bytes wire = header0(4, 130, 9) + Bytes(128, 0x44) + /* video, first chunk */
		     header0(6, 1, 8) + Bytes{0x66} +        /* audio, whole */
		     header0(7, 130, 9) + Bytes(128, 0x77) + /* started, then aborted */
		     header0(2, 4, RTMP_ABORT) + Bytes{0, 0, 0, 7} + Bytes{0xC4, 0x45, 0x46};
	auto r = reader();
	Read got = read_all(r.get(), wire);
	ASSERT_EQ(got.error, RtmpError::none);
	ASSERT_EQ(got.payloads.size(), 2u);
	EXPECT_EQ(got.payloads[0], Bytes{0x66});
	EXPECT_EQ(got.payloads[1], (Bytes(128, 0x44) + Bytes{0x45, 0x46}));
	EXPECT_EQ(r->buffered, 0u);
}

TEST(RtmpChunks, LimitsJustInsideAndOutside)
{
	struct Row {
		const char *what;
		Bytes wire;
		RtmpError error;
	};
	auto set_chunk_size = [](uint32_t size) {
		Bytes v(4);
		write_be32(v.data(), size);
		return header0(2, 4, RTMP_SET_CHUNK_SIZE) + v;
	};
	/* n chunk streams, each with a message of 2 bytes of which the first
	 * chunk came, or a whole message of 1 byte */
	auto streams = [&](uint32_t n, uint32_t length) {
		Bytes wire = length > 1 ? set_chunk_size(1) : Bytes{};
		for (uint32_t i = 0; i < n; i++)
			wire = wire + header0(3 + i, length, 8) + Bytes{1};
		return wire;
	};
	const uint32_t max = STREAM_MAX_PAYLOAD;
	Bytes two_partial = set_chunk_size(max - 1) + header0(3, max, 9) + Bytes(max - 1, 0x55) + header0(4, max, 9) +
			    Bytes(max - 1, 0x55) + header0(5, 4, 9);
	const Row rows[] = {
		{"chunk size 1", set_chunk_size(1) + header0(3, 2, 8) + Bytes{1} + Bytes{0xC3, 2}, RtmpError::none},
		{"chunk size 0x7FFFFFFF", set_chunk_size(0x7FFFFFFF), RtmpError::none},
		{"chunk size 0", set_chunk_size(0), RtmpError::chunk_size},
		{"chunk size 0x80000000", set_chunk_size(0x80000000), RtmpError::chunk_size},
		{"message of the max", header0(3, STREAM_MAX_PAYLOAD, 9), RtmpError::none},
		{"message one over", header0(3, STREAM_MAX_PAYLOAD + 1, 9), RtmpError::message_too_large},
		{"8 under assembly", streams(8, 2), RtmpError::none},
		{"9 under assembly", streams(9, 2), RtmpError::too_many_chunk_streams},
		{"16 chunk streams", streams(16, 1), RtmpError::none},
		{"17 chunk streams", streams(17, 1), RtmpError::too_many_chunk_streams},
		{"16 MiB under assembly", two_partial + Bytes{1, 2}, RtmpError::none},
		{"16 MiB and a byte", two_partial + Bytes{1, 2, 3}, RtmpError::buffered_too_much},
		{"fmt 1 on a new chunk stream", Bytes{0x43, 0, 0, 0, 0, 0, 1, 8, 1}, RtmpError::unknown_chunk_stream},
		{"set chunk size of 3 bytes", header0(2, 3, RTMP_SET_CHUNK_SIZE) + Bytes{0, 0, 1},
		 RtmpError::malformed_control},
	};
	for (const Row &row : rows) {
		auto r = reader();
		Read got = read_all(r.get(), row.wire);
		EXPECT_STREQ(rtmp_error_text(got.error), rtmp_error_text(row.error)) << row.what;
		EXPECT_LE(r->buffered, (size_t)RTMP_MAX_BUFFERED) << row.what;
	}
}
