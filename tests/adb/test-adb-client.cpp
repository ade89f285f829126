#include "adb/adb-client-fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

/* ---- requests as they go out -------------------------------------------- */

TEST_F(AdbClient, DeviceListRequestIsSixteenBytes)
{
	serve();
	DeviceList list;
	EXPECT_EQ(list.count, 0);
	ASSERT_EQ(server_->raw_requests().size(), 1u);
	EXPECT_EQ(server_->raw_requests()[0], "000c"
					      "host:devices");
}

TEST_F(AdbClient, ForwardWithoutSerialUsesHostPrefix)
{
	serve();
	EXPECT_TRUE(adb_forward(nullptr, STREAM_DEFAULT_PORT, ADB_SOCKET_NAME));
	EXPECT_TRUE(adb_forward("", STREAM_DEFAULT_PORT, ADB_SOCKET_NAME)); /* empty serial: same request */
	std::vector<std::string> raw = server_->raw_requests();
	ASSERT_EQ(raw.size(), 2u);
	const std::string expected = framed(forward_text("host"));
	EXPECT_EQ(raw[0], expected);
	EXPECT_EQ(raw[1], expected);
}

TEST_F(AdbClient, ForwardWithSerialCountsTheWholeText)
{
	serve();
	EXPECT_TRUE(adb_forward("emulator-5554", STREAM_DEFAULT_PORT, ADB_SOCKET_NAME));
	EXPECT_TRUE(
		adb_forward("192.168.1.5:5555", STREAM_DEFAULT_PORT, ADB_SOCKET_NAME)); /* colon inserted verbatim */
	std::vector<std::string> raw = server_->raw_requests();
	ASSERT_EQ(raw.size(), 2u);
	EXPECT_EQ(raw[0], framed(forward_text("host-serial:emulator-5554")));
	EXPECT_EQ(raw[1], framed(forward_text("host-serial:192.168.1.5:5555")));
}

TEST_F(AdbClient, RemovalRequests)
{
	serve();
	EXPECT_TRUE(adb_forward_remove(nullptr, STREAM_DEFAULT_PORT));
	EXPECT_TRUE(adb_forward_remove("emulator-5554", 8080));
	std::vector<std::string> raw = server_->raw_requests();
	ASSERT_EQ(raw.size(), 2u);
	EXPECT_EQ(raw[0], framed("host:killforward:tcp:" + std::to_string(STREAM_DEFAULT_PORT)));
	EXPECT_EQ(raw[1], "002e" /* 12 + 13 + 1 + 20 */
			  "host-serial:emulator-5554:killforward:tcp:8080");
}

/* ---- device list over the wire ------------------------------------------ */

TEST_F(AdbClient, DeviceListFromASplitReply)
{
	serve_reply(FakeAdbReply::devices("emulator-5554\tdevice\nR58M12ABCDE\tunauthorized\n"));
	DeviceList list;
	ASSERT_EQ(list.count, 2);
	ASSERT_NE(list.devices, nullptr);
	EXPECT_STREQ(list.devices[0].serial, "emulator-5554");
	EXPECT_STREQ(list.devices[0].state, "device");
	EXPECT_STREQ(list.devices[1].serial, "R58M12ABCDE");
	EXPECT_STREQ(list.devices[1].state, "unauthorized");
	EXPECT_STREQ(list.devices[2].serial, "");
}

TEST_F(AdbClient, EmptyDeviceListStillHandsOutSixteenZeroEntries)
{
	serve_bytes("OKAY0000");
	DeviceList list;
	EXPECT_EQ(list.count, 0);
	ASSERT_NE(list.devices, nullptr);
	static const AdbDevice zero = {};
	for (int i = 0; i < ADB_MAX_DEVICES; i++)
		EXPECT_EQ(memcmp(&list.devices[i], &zero, sizeof(zero)), 0) << "entry " << i;
}

TEST_F(AdbClient, DeviceLinesOverTheWireFollowTheParserRules)
{
	std::string payload = "\nno tab\n";
	for (int i = 0; i < 20; i++)
		payload += "dev" + std::to_string(i) + "\tdevice\n";
	serve_reply(FakeAdbReply::devices(payload));
	DeviceList twenty;
	ASSERT_EQ(twenty.count, 16);
	EXPECT_STREQ(twenty.devices[15].serial, "dev15");

	serve_reply(FakeAdbReply::devices(std::string(200, 's') + "\ta\tb\n\nlast\t" + std::string(40, 't')));
	DeviceList cut;
	ASSERT_EQ(cut.count, 2);
	EXPECT_EQ(std::string(cut.devices[0].serial), std::string(127, 's'));
	EXPECT_STREQ(cut.devices[0].state, "a\tb");
	EXPECT_STREQ(cut.devices[1].serial, "last");
	EXPECT_EQ(std::string(cut.devices[1].state), std::string(31, 't'));
}

TEST_F(AdbClient, LargestPayloadWithUpperCaseLength)
{
	std::string payload = "one\tdevice\ntwo\tdevice\n";
	payload += std::string(0xffff - payload.size(), 'x');
	serve_bytes("OKAYFFFF" + payload);
	DeviceList list;
	EXPECT_EQ(list.count, 2);
	EXPECT_STREQ(list.devices[1].serial, "two");
}

/* ---- status after a forward or a removal -------------------------------- */

TEST_F(AdbClient, FirstOkayCountsEvenWhenFailFollows)
{
	serve_bytes("OKAYFAIL0004oops");
	EXPECT_TRUE(forward());
	EXPECT_TRUE(remove_forward());
}

TEST_F(AdbClient, OkayWithNothingAfterItReturnsAndCloses)
{
	serve_reply({"OKAY", true}); /* the server keeps the connection open, silent */
	EXPECT_TRUE(forward());
	EXPECT_TRUE(eventually([&] { return server_->closed_by_client() == 1; }));
}

/* ---- failures and their texts ------------------------------------------- */

TEST_F(AdbClient, FailWithReasonGivesTheReason)
{
	serve_bytes("FAIL0005xxxxx");
	EXPECT_FALSE(forward());
	EXPECT_EQ(last_error(), format_text(LOGTEXT_ADB_REASON, "xxxxx"));

	serve_reply(FakeAdbReply::fail("device 'abc' not found"));
	EXPECT_FALSE(remove_forward());
	EXPECT_EQ(last_error(), format_text(LOGTEXT_ADB_REASON, "device 'abc' not found"));

	serve_reply(FakeAdbReply::fail("no devices/emulators found"));
	DeviceList list;
	EXPECT_EQ(list.count, -1);
	EXPECT_EQ(list.devices, nullptr);
	EXPECT_EQ(last_error(), format_text(LOGTEXT_ADB_REASON, "no devices/emulators found"));
}

TEST_F(AdbClient, LongestReasonIsCutToTheTextLimit)
{
	std::string reason(255, 'r');
	serve_reply(FakeAdbReply::fail(reason));
	EXPECT_FALSE(forward());
	EXPECT_EQ(last_error(), format_text(LOGTEXT_ADB_REASON, std::string(250, 'r').c_str())); /* 255 bytes in all */
}

TEST_F(AdbClient, FailWithoutUsableReasonGivesTheGenericText)
{
	const std::vector<std::string> replies = {
		"FAIL0000",                         /* empty reason, as the real server sends */
		"FAIL0100" + std::string(256, 'r'), /* above 255 */
		"FAILffff" + std::string(300, 'r'), /* far above */
		"FAILzzzz",                         /* length does not convert */
		"FAIL-001",                         /* a sign is no length either */
		"FAIL0010short",                    /* reason ends early */
		"FAIL00",                           /* length ends early */
	};
	for (const std::string &reply : replies) {
		SCOPED_TRACE(reply);
		serve_bytes(reply);
		EXPECT_FALSE(forward());
		EXPECT_EQ(last_error(), LOGTEXT_ADB_FAILED);
	}
}

TEST_F(AdbClient, UnrecognisedStatusClosesTheConnection)
{
	serve_reply({"HUH?0000", true});
	EXPECT_FALSE(forward());
	EXPECT_EQ(last_error(), LOGTEXT_ADB_BAD_REPLY);
	DeviceList list;
	EXPECT_EQ(list.count, -1);
	EXPECT_EQ(list.devices, nullptr);
	EXPECT_EQ(last_error(), LOGTEXT_ADB_BAD_REPLY);
	EXPECT_TRUE(eventually([&] { return server_->closed_by_client() == 2; }));
}

TEST_F(AdbClient, ServerClosingBeforeTheStatusIsNoAnswer)
{
	for (const std::string &reply : {std::string(), std::string("OK")}) {
		SCOPED_TRACE(reply);
		serve_bytes(reply);
		EXPECT_FALSE(forward());
		EXPECT_EQ(last_error(), LOGTEXT_ADB_NO_REPLY);
		DeviceList list;
		EXPECT_EQ(list.count, -1);
		EXPECT_EQ(last_error(), LOGTEXT_ADB_NO_REPLY);
	}
}

TEST_F(AdbClient, BadDeviceListLengthOrShortPayload)
{
	const std::vector<std::string> replies = {
		"OKAY",             /* no length */
		"OKAY00",           /* half a length */
		"OKAYzzzz",         /* not hexadecimal */
		"OKAY-001",         /* converts to a huge number */
		"OKAY0010abc",      /* payload ends early */
		"OKAY0010abc\td\n", /* still short by a few bytes */
	};
	for (const std::string &reply : replies) {
		SCOPED_TRACE(reply);
		serve_bytes(reply);
		DeviceList list;
		EXPECT_EQ(list.count, -1);
		EXPECT_EQ(list.devices, nullptr);
		EXPECT_EQ(last_error(), LOGTEXT_ADB_LIST_FAILED);
	}
}

/* ---- a server that never answers, and one that is not there -------------- */

TEST_F(AdbClient, SilentServerMakesEveryCallFailInsteadOfHanging)
{
	serve_reply(FakeAdbReply::silence());
	DeviceList list;
	EXPECT_EQ(list.count, -1);
	EXPECT_EQ(last_error(), LOGTEXT_ADB_NO_REPLY);
	EXPECT_FALSE(forward());
	EXPECT_EQ(last_error(), LOGTEXT_ADB_NO_REPLY);
	EXPECT_FALSE(remove_forward());
	EXPECT_EQ(last_error(), LOGTEXT_ADB_NO_REPLY);
	EXPECT_EQ(server_->requests().size(), 3u);
}

/* One deadline for the whole request: a reply trickled within it is read,
 * one that takes longer fails, even though every byte comes well inside any
 * single wait. */
TEST_F(AdbClient, ATrickledReplyMustEndWithinTheRequestDeadline)
{
	serve_reply(FakeAdbReply::trickle("OKAY", 300)); /* about 1.2 s */
	EXPECT_TRUE(forward());

	serve_reply(FakeAdbReply::trickle("OKAY000cdev1\tdevice\n", 300)); /* about 6 s */
	auto start = std::chrono::steady_clock::now();
	DeviceList list;
	double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
	EXPECT_EQ(list.count, -1);
	EXPECT_EQ(last_error(), LOGTEXT_ADB_LIST_FAILED);
	EXPECT_LT(ms, 3500.0) << "the request ended by the sum of its waits, not by its deadline";
	EXPECT_TRUE(eventually([&] { return server_->closed_by_client() == 1; }));
}

/* A stop raised on another thread ends the request under way on this one,
 * and the connection to the server is closed. */
TEST_F(AdbClient, AStopEndsARequestUnderWay)
{
	serve_reply(FakeAdbReply::silence());
	plat_stop_signal *stop = plat_stop_create();
	bool result = true;
	std::thread requester([&] {
		adb_set_thread_stop(stop);
		result = forward();
		adb_set_thread_stop(nullptr);
	});
	ASSERT_TRUE(server_->wait_for_request(forward_text("host"), 2000));
	plat_stop_raise(stop);
	requester.join();
	EXPECT_FALSE(result);
	EXPECT_TRUE(eventually([&] { return server_->closed_by_client() == 1; }));

	/* A raised signal ends later requests of that thread before they wait. */
	std::thread again([&] {
		adb_set_thread_stop(stop);
		result = forward();
		adb_set_thread_stop(nullptr);
	});
	again.join();
	EXPECT_FALSE(result);
	plat_stop_destroy(stop);
}

TEST_F(AdbClient, DeviceListStallingAfterOkayFails)
{
	serve_reply({"OKAY0020dev\tdevice\n", true}); /* promises 32 bytes, sends 11 */
	DeviceList list;
	EXPECT_EQ(list.count, -1);
	EXPECT_EQ(last_error(), LOGTEXT_ADB_LIST_FAILED);
}

TEST_F(AdbClient, NothingListeningGivesTheConnectionText)
{
	uint16_t port;
	{
		FakeAdbServer gone;
		port = gone.port();
	}
	adb_set_server_port(port);
	DeviceList list;
	EXPECT_EQ(list.count, -1);
	EXPECT_EQ(list.devices, nullptr);
	EXPECT_EQ(last_error(), connection_error(port));
	EXPECT_FALSE(forward());
	EXPECT_EQ(last_error(), connection_error(port));
	EXPECT_FALSE(remove_forward());
	EXPECT_EQ(last_error(), connection_error(port));
}
