#include "obs/settings.h"

bool settings_usb_mode(bool conn_mode_set, long long conn_mode, bool use_adb)
{
	return conn_mode_set ? conn_mode_is_usb(conn_mode) : use_adb;
}
