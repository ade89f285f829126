#pragma once
/* The "conn_mode" setting: USB through an adb forward, or Wi-Fi. Any value
 * other than usb counts as Wi-Fi; the panel offers these two. Plain values,
 * shared with the tools that fill in a source's settings. */

enum class ConnMode : long long { usb = 0, wifi = 1 };

static inline bool conn_mode_is_usb(long long value)
{
	return value == (long long)ConnMode::usb;
}
