#pragma once
/* The source's settings as OBS keeps them in a scene collection: their keys
 * (users' files hold them, so they never change) and the plain rules about
 * their values. No libobs: the tools and tests that fill in a source's
 * settings use the same names. */

#define SETTING_CONN_MODE "conn_mode" /* ConnMode below */
#define SETTING_USE_ADB "use_adb"     /* the mode of older settings: true for USB */
#define SETTING_DEVICE "device"       /* USB mode: the adb serial; empty for the only device */
#define SETTING_HOST "host"           /* Wi-Fi mode: the phone's dotted IPv4 address */
#define SETTING_PORT "port"
#define SETTING_ENABLED "enabled"
#define SETTING_SMOOTH_SYNC "smooth_sync"
#define SETTING_UI_LANG "ui_lang"

/* The "conn_mode" setting: USB through an adb forward, or Wi-Fi. Any value
 * other than usb counts as Wi-Fi; the panel offers these two. */
enum class ConnMode : long long { usb = 0, wifi = 1 };

static inline bool conn_mode_is_usb(long long value)
{
	return value == (long long)ConnMode::usb;
}

static inline long long conn_mode_value(bool usb)
{
	return (long long)(usb ? ConnMode::usb : ConnMode::wifi);
}

/* Whether the settings ask for USB mode: "conn_mode" leads once it has a
 * value of the user's; older settings only have "use_adb", the fallback. */
bool settings_usb_mode(bool conn_mode_set, long long conn_mode, bool use_adb);
