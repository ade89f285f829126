#include "helpers/source-fixture.h"
#include "decode/video-decoder.h"
#include "log-lines.h"

#include <string>
#include <tuple>

using namespace std::chrono_literals;

namespace {

std::string cannot_connect_line(const std::string &host, int port)
{
	return plugin_line(LOGTEXT_UNREACHABLE, host.c_str(), port);
}

std::string disconnect_line(unsigned long long frames)
{
	return plugin_line(LOGTEXT_DISCONNECTED, 1000, frames);
}

} // namespace

class StreamThreadTest : public SourceTest {
protected:
	std::vector<media::Bytes> audio = media::read_aac_access_units("aac-stereo");
	media::Bytes asc = media::read_fixture("aac-stereo.asc");
};

TEST_F(StreamThreadTest, WrongMagicIsRejected)
{
	create_wifi(listener.port());
	peer::Connection phone = listener.accept(5000);
	ASSERT_TRUE(phone.valid());
	ASSERT_TRUE(phone.send(peer::handshake(80, 48, 30, 3, 1, "NRIx")));
	ASSERT_TRUE(log.wait_for(LOG_INFO, disconnect_line(0), 3000ms));
	EXPECT_TRUE(log.contains(LOG_ERROR, plugin_line(LOGTEXT_NOT_OSTRELIN)));
	EXPECT_TRUE(phone.wait_closed(2000));
}

TEST_F(StreamThreadTest, VersionErrorEveryAttemptDisconnectLineGated)
{
	create_wifi(listener.port());
	for (int attempt = 0; attempt < 3; attempt++) {
		peer::Connection phone = listener.accept(5000);
		ASSERT_TRUE(phone.valid());
		ASSERT_TRUE(phone.send(peer::handshake(80, 48, 30, 2, 9)));
		ASSERT_TRUE(phone.wait_closed(3000));
	}
	ASSERT_TRUE(log.wait_until_count(LOG_ERROR, plugin_line(LOGTEXT_VERSION_MISMATCH, 2, 3), 3, 3000ms));
	EXPECT_EQ(log.count(LOG_INFO, disconnect_line(0)), 1u);
	EXPECT_EQ(log.count_prefix(plugin_line_head(LOGTEXT_UNSUPPORTED_CODEC)),
		  0u); /* the codec check is not reached */
}

TEST_F(StreamThreadTest, WrongCodecIsRejected)
{
	create_wifi(listener.port());
	peer::Connection phone = listener.accept(5000);
	ASSERT_TRUE(phone.valid());
	ASSERT_TRUE(phone.send(peer::handshake(80, 48, 30, 3, 7)));
	ASSERT_TRUE(log.wait_for(LOG_ERROR, plugin_line(LOGTEXT_UNSUPPORTED_CODEC, 7), 3000ms));
}

TEST_F(StreamThreadTest, UnreachablePhoneIsReportedOncePerThirtySeconds)
{
	uint16_t port = peer::unused_port();
	obs_source_t *source = create_wifi(port);
	/* Refused at once, so an attempt is made about every second. */
	std::this_thread::sleep_for(3500ms);
	EXPECT_EQ(log.count(LOG_INFO, cannot_connect_line("127.0.0.1", port)), 1u);
	EXPECT_FALSE(instance(source)->status.connected);
}

TEST_F(StreamThreadTest, HostNamesAreNotLookedUp)
{
	peer::Listener other;
	create_wifi(other.port(), "localhost");
	ASSERT_TRUE(log.wait_for(LOG_INFO, cannot_connect_line("localhost", other.port()), 3000ms));
	EXPECT_FALSE(other.accept(300).valid());
}

TEST_F(StreamThreadTest, StreamIsAnnouncedAndReconnectsAfterTheDrop)
{
	obs_source_t *source = create_wifi(listener.port());
	SourceInstance *inst = instance(source);
	/* A phone that hangs up before its handshake: the first report of 30 s. */
	ASSERT_TRUE(listener.accept(3000).valid());
	ASSERT_TRUE(log.wait_for(LOG_INFO, disconnect_line(0), 3000ms));
	{
		peer::Connection phone = accept_phone();
		ASSERT_TRUE(phone.valid());
		ASSERT_TRUE(log.wait_for(LOG_INFO, plugin_line(LOGTEXT_STREAM_CONNECTED, 80, 48, 30), 3000ms));
		for (auto &au : video)
			ASSERT_TRUE(phone.send(peer::packet(0, peer::now_us(), au)));
		ASSERT_TRUE(wait_until([&] { return inst->status.frames_decoded == 5; }, 3000ms));
		EXPECT_TRUE(inst->status.connected);
		EXPECT_EQ(inst->status.width, 80u);
		EXPECT_EQ(inst->status.stream_fps, 30u);
		/* The first audio block, 200 ms late, raises the allowance. */
		ASSERT_TRUE(phone.send(peer::audio_config_packet(48000, 2, asc)));
		ASSERT_TRUE(phone.send(peer::packet(0x08, peer::now_us() - 200000, audio[0])));
		ASSERT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_AUDIO_ALLOWANCE), 1, 3000ms));
	}
	/* The phone hung up: logged at once, then a new connection. */
	ASSERT_TRUE(log.wait_for(LOG_INFO, disconnect_line(5), 3000ms));
	peer::Connection again = accept_phone();
	ASSERT_TRUE(again.valid());
	ASSERT_TRUE(log.wait_until_count(LOG_INFO, plugin_line(LOGTEXT_STREAM_CONNECTED, 80, 48, 30), 2, 3000ms));
	/* OBS places a new stream's first block at its own time, as after a
	 * start: 100 ms late, within the old allowance, it raises the new one. */
	ASSERT_TRUE(again.send(peer::audio_config_packet(48000, 2, asc)));
	ASSERT_TRUE(again.send(peer::packet(0x08, peer::now_us() - 100000, audio[1])));
	EXPECT_TRUE(log.wait_for_prefix(plugin_line_head(LOGTEXT_AUDIO_ALLOWANCE), 2, 3000ms));
	/* A stream opens the gate again: after it, the next failure is reported
	 * at once, though the first report is less than 30 s old. */
	again.close();
	ASSERT_TRUE(log.wait_until_count(LOG_INFO, disconnect_line(5), 2, 3000ms));
	ASSERT_TRUE(listener.accept(3000).valid());
	EXPECT_TRUE(log.wait_until_count(LOG_INFO, disconnect_line(5), 3, 3000ms));
}

TEST_F(StreamThreadTest, SilentPhoneIsDroppedAfterAboutFiveSeconds)
{
	create_wifi(listener.port());
	peer::Connection phone = listener.accept(5000);
	ASSERT_TRUE(phone.valid());
	ASSERT_TRUE(phone.send(peer::handshake().data(), 7)); /* part of a handshake, then silence */
	EXPECT_FALSE(phone.wait_closed(4000));
	EXPECT_TRUE(phone.wait_closed(4000));
	EXPECT_TRUE(log.wait_for(LOG_INFO, disconnect_line(0), 2000ms));
}

TEST_F(StreamThreadTest, UsbModeConnectsToLoopbackAndWarnsWithoutAdb)
{
	uint16_t adb_port = peer::unused_port();
	adb_set_server_port(adb_port);
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, SETTING_CONN_MODE, 0);
	obs_data_set_string(settings, SETTING_HOST, "192.0.2.1"); /* a Wi-Fi address left behind is ignored */
	obs_data_set_int(settings, SETTING_PORT, listener.port());
	create(settings);
	obs_data_release(settings);

	peer::Connection phone = accept_phone();
	EXPECT_TRUE(phone.valid());
	std::string warning =
		plugin_line(LOGTEXT_FORWARD_FAILED, format_text(LOGTEXT_ADB_UNREACHABLE, (int)adb_port).c_str());
	EXPECT_TRUE(log.wait_for(LOG_WARNING, warning, 3000ms));
	EXPECT_TRUE(log.wait_for(LOG_INFO, plugin_line(LOGTEXT_STREAM_CONNECTED, 80, 48, 30), 3000ms));
}

TEST_F(StreamThreadTest, UsbModeAsksForTheForwardBeforeEachAttempt)
{
	FakeAdbServer adb;
	adb_set_server_port(adb.port());
	obs_data_t *settings = obs_data_create();
	obs_data_set_int(settings, SETTING_CONN_MODE, 0);
	obs_data_set_string(settings, SETTING_DEVICE, "R58M123");
	obs_data_set_int(settings, SETTING_PORT, listener.port());
	create(settings);
	obs_data_release(settings);

	std::string forward = "host-serial:R58M123:forward:tcp:" + std::to_string(listener.port()) +
			      ";localabstract:" ADB_SOCKET_NAME;
	EXPECT_TRUE(adb.wait_for_request(forward, 3000));
	EXPECT_TRUE(accept_phone().valid());
	EXPECT_EQ(log.count_prefix(plugin_line_head(LOGTEXT_FORWARD_FAILED)), 0u);
}

/* Over USB adb takes the connection itself: one the phone then ends before
 * any byte found no app listening, and says so; a byte first, or Wi-Fi, is a
 * dropped connection as any other. */
TEST_F(StreamThreadTest, UsbConnectionEndedBeforeAnyByteSaysTheAppIsNotListening)
{
	struct Row {
		bool usb;
		size_t bytes_first;
		bool not_listening;
	};
	for (const Row &row : {Row{true, 0, true}, Row{true, 1, false}, Row{false, 0, false}}) {
		SCOPED_TRACE(testing::Message()
			     << (row.usb ? "USB" : "Wi-Fi") << ", " << row.bytes_first << " byte(s)");
		FakeAdbServer adb;
		adb_set_server_port(adb.port());
		log.clear();
		obs_data_t *settings = wifi_settings(listener.port());
		obs_data_set_int(settings, SETTING_CONN_MODE, row.usb ? 0 : 1);
		obs_source_t *source = create(settings);
		obs_data_release(settings);
		{
			peer::Connection phone = listener.accept(5000);
			ASSERT_TRUE(phone.valid());
			const uint8_t magic[1] = {'N'};
			if (row.bytes_first) {
				ASSERT_TRUE(phone.send(magic, row.bytes_first));
			}
		} /* closed */
		const std::string not_listening = plugin_line(LOGTEXT_APP_NOT_LISTENING, (int)listener.port());
		ASSERT_TRUE(wait_until(
			[&] {
				return log.count(LOG_WARNING, not_listening) > 0 ||
				       log.count_prefix(plugin_line_head(LOGTEXT_DISCONNECTED)) > 0;
			},
			5000ms));
		EXPECT_EQ(log.count(LOG_WARNING, not_listening) > 0, row.not_listening);
		EXPECT_EQ(instance(source)->status.app_not_listening.load(), row.not_listening);
		EXPECT_TRUE(listener.accept(5000).valid()) << "tried again";
		release(source);
	}
}

/* A phone that switches codecs between connections: each connection's
 * pictures come from a decoder of its own handshake's codec, the status
 * names that codec, and a decoder is replaced only when the codec changes. */
TEST_F(StreamThreadTest, EachConnectionDecodesWithItsHandshakesCodec)
{
	using Picture = std::tuple<uint32_t, uint32_t, uint8_t>; /* width, height, first luma sample */
	struct Leg {
		uint8_t codec;
		const char *fixture;
		std::vector<Picture> pictures; /* see scripts/make-fixtures.sh */
	};
	const std::vector<Picture> yuv420 = {{80, 48, 40}, {80, 48, 43}, {80, 48, 46}, {80, 48, 49}, {80, 48, 52}};
	const Leg legs[] = {
		{STREAM_CODEC_H264, "yuv420.h264", yuv420},
		{STREAM_CODEC_H265,
		 "size-change.h265",
		 {{80, 48, 40}, {80, 48, 43}, {80, 48, 46}, {48, 80, 40}, {48, 80, 43}, {48, 80, 46}}},
		{STREAM_CODEC_H264, "yuv420.h264", yuv420},
	};

	const int live_before = decoder_live_count();
	obs_source_t *source = create_wifi(listener.port());
	SourceInstance *inst = instance(source);
	probe::Recorder recorder;
	probe::Attachment attachment(source, &recorder);
	std::vector<Picture> want;
	for (const Leg &leg : legs) {
		SCOPED_TRACE(leg.fixture);
		peer::Connection phone = listener.accept(5000);
		ASSERT_TRUE(phone.valid());
		ASSERT_TRUE(phone.send(peer::handshake(80, 48, 30, STREAM_PROTOCOL_VERSION, leg.codec)));
		auto units =
			media::access_unit_payloads(media::read_fixture(leg.fixture), leg.codec == STREAM_CODEC_H265);
		ASSERT_EQ(units.size(), leg.pictures.size());
		for (size_t n = 0; n < units.size(); n++) {
			/* The next picture only once OBS has shown this one, so that
			 * none is passed over at a tick. */
			ASSERT_TRUE(phone.send(peer::packet(0, peer::now_us(), units[n])));
			want.push_back(leg.pictures[n]);
			ASSERT_TRUE(recorder.wait_frames(want.size(), 5000ms)) << "picture " << n;
		}
		EXPECT_EQ(inst->status.frames_decoded, want.size());
		EXPECT_EQ(inst->status.stream_codec, leg.codec);  /* what the status names */
		EXPECT_EQ(decoder_live_count(), live_before + 1); /* a replaced decoder is freed */
	}
	std::vector<Picture> got;
	for (const probe::Frame &frame : recorder.frames())
		got.emplace_back(frame.width, frame.height, frame.first_sample[0]);
	EXPECT_EQ(want, got);
	/* Made at the first handshake, replaced for H.265 and again for H.264. */
	EXPECT_EQ(log.count(LOG_INFO, plugin_line(LOGTEXT_DECODER_READY, "h264", decoder_slice_threads())), 2u);
	EXPECT_EQ(log.count(LOG_INFO, plugin_line(LOGTEXT_DECODER_READY, "hevc", decoder_slice_threads())), 1u);
}

/* A decoder that is found but does not open: the connection, which could show
 * nothing, ends with the decoder's line and is tried again like any other. */
TEST_F(StreamThreadTest, ConnectionWhoseDecoderDoesNotOpenEndsAndIsTriedAgain)
{
	struct FailingOpens {
		FailingOpens() { decoder_fail_opens(true); }
		~FailingOpens() { decoder_fail_opens(false); }
	};
	SourceInstance *inst = nullptr;
	{
		FailingOpens failing;
		inst = instance(create_wifi(listener.port()));
		peer::Connection phone = accept_phone();
		ASSERT_TRUE(phone.valid());
		EXPECT_TRUE(phone.wait_closed(3000));
		EXPECT_EQ(log.count(LOG_ERROR, plugin_line(LOGTEXT_DECODER_OPEN_FAILED)), 1u);
		EXPECT_EQ(log.count(LOG_INFO, plugin_line(LOGTEXT_STREAM_CONNECTED, 80, 48, 30)), 0u);
	}
	peer::Connection phone = accept_phone();
	ASSERT_TRUE(phone.valid());
	for (auto &au : video)
		ASSERT_TRUE(phone.send(peer::packet(0, peer::now_us(), au)));
	EXPECT_TRUE(wait_until([&] { return inst->status.frames_decoded == 5; }, 5000ms));
}
