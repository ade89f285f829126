#include "protocol/amf0.h"
#include "protocol/byte-order.h"
#include "protocol/rtmp-session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

/* What a publisher sends, built with the server's own chunk writer at the
 * default chunk size of 128. */
struct Publisher {
	Bytes wire;

	Publisher &handshake()
	{
		wire.push_back(RTMP_VERSION);
		wire.resize(wire.size() + 2 * RTMP_HANDSHAKE_SIZE, 0x5A); /* C1, C2 */
		return *this;
	}
	Publisher &command(const char *name, double transaction, const char *arg = nullptr, uint32_t stream = 0)
	{
		Bytes amf;
		amf0_write_string(&amf, name);
		amf0_write_number(&amf, transaction);
		if (std::string(name) == "connect") {
			amf0_write_object_start(&amf);
			amf0_write_key(&amf, "app");
			amf0_write_string(&amf, "live");
			amf0_write_object_end(&amf);
		} else {
			amf0_write_null(&amf);
		}
		if (arg)
			amf0_write_string(&amf, arg);
		rtmp_chunks_write(&wire, 3, RTMP_COMMAND_AMF0, stream, 0, amf, RTMP_DEFAULT_CHUNK_SIZE);
		return *this;
	}
	Publisher &publish(const char *name)
	{
		return command("connect", 1)
			.command("releaseStream", 2, name)
			.command("FCPublish", 3, name)
			.command("createStream", 4)
			.command("publish", 5, name, 1);
	}
	Publisher &message(uint8_t type, const Bytes &payload, uint32_t timestamp = 0, uint8_t csid = 6)
	{
		rtmp_chunks_write(&wire, csid, type, 1, timestamp, payload, RTMP_DEFAULT_CHUNK_SIZE);
		return *this;
	}
};

/* An AVC sequence header (SPS 67 42, PPS 68 CE, 4-byte lengths), then a key frame. */
const Bytes avc_config = {0x17, 0, 0, 0, 0, 1, 0x42, 0, 0x1E, 0xFF, 0xE1, 0, 2, 0x67, 0x42, 1, 0, 2, 0x68, 0xCE};
const Bytes avc_key = {0x17, 1, 0, 0, 0, 0, 0, 0, 2, 0x65, 0x88};
/* Longer than a chunk of 128: continuation chunks, split anywhere. */
const Bytes avc_long = [] {
	Bytes b = {0x27, 1, 0, 0, 0, 0, 0, 0, 200};
	b.resize(b.size() + 200, 0x41);
	return b;
}();
const Bytes mp3 = {0x2F, 0xFF, 0xFB};

struct Feeding {
	std::vector<RtmpEvent> events;
	Bytes output;
};

/* Feeds wire in parts of at most step bytes and keeps every event. */
Feeding run(std::string_view key, const Bytes &wire, size_t step = SIZE_MAX)
{
	auto s = std::make_unique<RtmpSession>();
	rtmp_session_init(s.get(), key);
	Feeding got;
	for (size_t at = 0; at < wire.size();) { /* until refused or dropped */
		size_t end = std::min(wire.size(), at + std::min(step, wire.size()));
		while (at < end) {
			RtmpEvent event;
			at += rtmp_session_feed(s.get(), wire.data() + at, end - at, &event);
			if (event.kind != RtmpEventKind::none)
				got.events.push_back(event);
			if (event.kind == RtmpEventKind::refused || event.kind == RtmpEventKind::error)
				at = wire.size();
		}
		got.output.insert(got.output.end(), s->output.begin(), s->output.end());
		s->output.clear();
	}
	return got;
}

bool contains(const Bytes &haystack, std::string_view needle)
{
	return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

} // namespace

TEST(RtmpSession, StreamKeyDecidesBeforeAnyMedia)
{
	struct Row {
		const char *key;
		const char *name;
		bool accepted;
	};
	const Row rows[] = {
		{"abc", "abc", true}, {"abc", "abc?token=1", true}, {"", "anything", true}, {"abc", "abd", false},
		{"abc", "ab", false}, {"abc", "abcd", false},       {"abc", "?abc", false},
	};
	for (const Row &row : rows) {
		Feeding got =
			run(row.key, Publisher().handshake().publish(row.name).message(RTMP_VIDEO, avc_config).wire);
		ASSERT_FALSE(got.events.empty()) << row.name;
		EXPECT_EQ(got.events[0].kind, row.accepted ? RtmpEventKind::publishing : RtmpEventKind::refused)
			<< row.name;
		EXPECT_EQ(got.events.size(), row.accepted ? 2u : 1u) << row.name; /* the config, or nothing more */
		EXPECT_TRUE(
			contains(got.output, row.accepted ? "NetStream.Publish.Start" : "NetStream.Publish.BadName"))
			<< row.name;
	}
}

TEST(RtmpSession, AnswersConnectAsPublishersExpect)
{
	Feeding got = run("", Publisher().handshake().command("connect", 1).wire);
	const Bytes window_ack = {
		0x02,                   /* fmt 0, csid 2 */
		0x00, 0x00, 0x00,       /* timestamp 0 */
		0x00, 0x00, 0x04,       /* length 4 */
		0x05,                   /* Window Acknowledgement Size */
		0x00, 0x00, 0x00, 0x00, /* stream 0 */
		0x00, 0x26, 0x25, 0xA0, /* 2,500,000 */
	};
	const size_t handshake = 1 + 2 * RTMP_HANDSHAKE_SIZE;
	ASSERT_GT(got.output.size(), handshake + window_ack.size());
	EXPECT_TRUE(std::equal(window_ack.begin(), window_ack.end(), got.output.begin() + handshake));
	EXPECT_TRUE(contains(got.output, "NetConnection.Connect.Success"));
	EXPECT_TRUE(got.events.empty());
}

TEST(RtmpSession, SplitReadsAtEveryByteGiveTheSameEvents)
{
	Bytes wire = Publisher()
			     .handshake()
			     .publish("k")
			     .message(RTMP_VIDEO, avc_config, 10)
			     .message(RTMP_VIDEO, avc_key, 40)
			     .wire;
	Feeding whole = run("k", wire);
	ASSERT_EQ(whole.events.size(), 3u);
	EXPECT_EQ(whole.events[2].packet.dts_us, 40000);
	for (size_t step = 1; step < 300; step += 7) {
		Feeding split = run("k", wire, step);
		ASSERT_EQ(split.events.size(), whole.events.size()) << step;
		for (size_t i = 0; i < split.events.size(); i++)
			EXPECT_EQ(split.events[i].kind, whole.events[i].kind) << step;
		EXPECT_EQ(split.output, whole.output) << step;
	}
}

TEST(RtmpSession, MediaOnlyWhilePublishingAndUnsupportedToldOnce)
{
	Publisher p;
	p.handshake().command("connect", 1).message(RTMP_VIDEO, avc_config); /* before publish: dropped */
	p.command("publish", 2, "k", 1).message(RTMP_AUDIO, mp3).message(RTMP_AUDIO, mp3, 20);
	p.message(RTMP_VIDEO, avc_config, 30).command("deleteStream", 3).message(RTMP_VIDEO, avc_key, 40);
	p.command("publish", 4, "k", 1).message(RTMP_VIDEO, avc_config, 50); /* afresh: the config again */
	Feeding got = run("k", p.wire);
	ASSERT_EQ(got.events.size(), 6u);
	EXPECT_EQ(got.events[0].kind, RtmpEventKind::publishing);
	EXPECT_EQ(got.events[1].kind, RtmpEventKind::unsupported);
	EXPECT_EQ(got.events[1].error, RtmpError::unsupported_audio);
	EXPECT_EQ(got.events[2].kind, RtmpEventKind::media);
	EXPECT_TRUE(got.events[2].packet.config);
	EXPECT_EQ(got.events[3].kind, RtmpEventKind::ended);
	EXPECT_EQ(got.events[4].kind, RtmpEventKind::publishing);
	EXPECT_TRUE(got.events[5].packet.config);
}

TEST(RtmpSession, AcknowledgesPastThePeersWindowAndBoundsReplies)
{
	Bytes window(4);
	write_be32(window.data(), 1000);
	Publisher acked;
	acked.handshake().message(RTMP_WINDOW_ACK_SIZE, window, 0, 2).publish("k");
	for (int i = 0; i < 50; i++)
		acked.message(RTMP_VIDEO, avc_key, 40 * i);
	Feeding got = run("", acked.wire);
	const Bytes ack_header = {0x02, 0, 0, 0, 0, 0, 4, RTMP_ACKNOWLEDGEMENT, 0, 0, 0, 0};
	EXPECT_NE(std::search(got.output.begin(), got.output.end(), ack_header.begin(), ack_header.end()),
		  got.output.end());

	/* createStream after createStream, none of the replies taken away */
	Publisher flood;
	flood.handshake();
	for (int i = 0; i < 2000; i++)
		flood.command("createStream", i);
	auto s = std::make_unique<RtmpSession>();
	rtmp_session_init(s.get(), "");
	RtmpEvent event{};
	for (size_t at = 0; at < flood.wire.size() && event.kind == RtmpEventKind::none;)
		at += rtmp_session_feed(s.get(), flood.wire.data() + at, flood.wire.size() - at, &event);
	EXPECT_EQ(event.error, RtmpError::replies_pending);
	EXPECT_LE(s->output.size(), (size_t)RTMP_MAX_PENDING_OUTPUT + 4096);
}

TEST(Amf0, SkipsEveryTypeAndLimitsNesting)
{
	struct Row {
		const char *what;
		Bytes value;
		bool ok;
	};
	auto nested = [](int depth) {
		Bytes v;
		for (int i = 0; i < depth; i++)
			v.insert(v.end(), {AMF0_STRICT_ARRAY, 0, 0, 0, 1});
		v.push_back(AMF0_NULL);
		return v;
	};
	const Row rows[] = {
		{"number", {AMF0_NUMBER, 0x40, 0x59, 0, 0, 0, 0, 0, 0}, true},
		{"number cut short", {AMF0_NUMBER, 0x40, 0x59, 0, 0, 0, 0, 0}, false},
		{"string", {AMF0_STRING, 0, 2, 'h', 'i'}, true},
		{"string cut short", {AMF0_STRING, 0, 3, 'h', 'i'}, false},
		{"long string", {AMF0_LONG_STRING, 0, 0, 0, 1, 'x'}, true},
		{"object", {AMF0_OBJECT, 0, 1, 'a', AMF0_NULL, 0, 0, AMF0_OBJECT_END}, true},
		{"object without its end", {AMF0_OBJECT, 0, 1, 'a', AMF0_NULL, 0, 0, AMF0_NULL}, false},
		{"ECMA array", {AMF0_ECMA_ARRAY, 0, 0, 0, 9, 0, 1, 'w', AMF0_BOOLEAN, 0, 0, 0, AMF0_OBJECT_END}, true},
		{"strict array", {AMF0_STRICT_ARRAY, 0, 0, 0, 2, AMF0_NULL, AMF0_UNDEFINED}, true},
		{"strict array counting past its end", {AMF0_STRICT_ARRAY, 0xFF, 0xFF, 0xFF, 0xFF, AMF0_NULL}, false},
		{"date", {AMF0_DATE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
		{"nested 16 deep", nested(AMF0_MAX_DEPTH), true},
		{"nested 17 deep", nested(AMF0_MAX_DEPTH + 1), false},
	};
	for (const Row &row : rows) {
		Bytes wire = row.value;
		if (row.ok)
			wire.push_back(0x77); /* what follows the value stays */
		Amf0Reader r = amf0_reader(wire);
		EXPECT_EQ(amf0_skip(&r), row.ok) << row.what;
		if (row.ok) {
			EXPECT_EQ(r.rest.size(), 1u) << row.what;
		}
	}
}
