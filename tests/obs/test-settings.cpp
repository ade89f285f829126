/* The settings' keys as scene collections store them, and the mode rule. */

#include "obs/settings.h"

#include <gtest/gtest.h>

/* Users' files hold these names: a renamed key loses every saved value. */
TEST(Settings, KeysAsStored)
{
	EXPECT_STREQ(SETTING_CONN_MODE, "conn_mode");
	EXPECT_STREQ(SETTING_USE_ADB, "use_adb");
	EXPECT_STREQ(SETTING_DEVICE, "device");
	EXPECT_STREQ(SETTING_HOST, "host");
	EXPECT_STREQ(SETTING_PORT, "port");
	EXPECT_STREQ(SETTING_ENABLED, "enabled");
	EXPECT_STREQ(SETTING_SMOOTH_SYNC, "smooth_sync");
	EXPECT_STREQ(SETTING_UI_LANG, "ui_lang");
}

/* "conn_mode" leads once the user has one (any value but USB is Wi-Fi);
 * without one, "use_adb" decides. */
TEST(Settings, ConnModeLeadsUseAdbIsTheFallback)
{
	struct Row {
		bool conn_mode_set;
		long long conn_mode;
		bool use_adb;
		bool usb;
	} rows[] = {
		{true, 0, false, true}, {true, 1, true, false},   {true, 7, true, false},
		{false, 1, true, true}, {false, 0, false, false},
	};
	for (const Row &row : rows) {
		EXPECT_EQ(settings_usb_mode(row.conn_mode_set, row.conn_mode, row.use_adb), row.usb)
			<< row.conn_mode_set << " " << row.conn_mode << " " << row.use_adb;
	}
	EXPECT_TRUE(conn_mode_is_usb(conn_mode_value(true)));
	EXPECT_FALSE(conn_mode_is_usb(conn_mode_value(false)));
}
