#pragma once
/* A small client of the adb server's host protocol on 127.0.0.1:5037: device
 * list, port forward, forward removal, and the text of the last failure.
 * Each call opens its own connection and ends within about 2 s, whatever the
 * server does; a thread's requests can also be ended at once by a signal. */

#include "platform/thread.h"

#include <obs-module.h>

#include <cstdint>

#define ADB_MAX_DEVICES 16

struct AdbDevice {
	char serial[128];
	char state[32];
};

/* Number of devices (0 to 16) with *out set to a 16-entry array that the
 * caller frees with bfree; -1 with *out null on failure. */
MODULE_EXPORT int adb_list_devices(AdbDevice **out);
MODULE_EXPORT bool adb_forward(const char *serial, int local_port, const char *socket_name);
MODULE_EXPORT bool adb_forward_remove(const char *serial, int local_port);
/* Null until the first failure; afterwards the text of the latest one. */
MODULE_EXPORT const char *adb_last_error(void);

/* Parses a device-list payload (NUL-terminated) into 16 zeroed entries;
 * returns how many were filled. */
int adb_parse_device_list(const char *payload, AdbDevice devices[ADB_MAX_DEVICES]);

/* Tests point the client at a stand-in server; 5037 otherwise. */
void adb_set_server_port(uint16_t port);

/* Requests made on the calling thread from now on end at once, as failed,
 * when stop is raised; null: only the time limit ends them. */
void adb_set_thread_stop(plat_stop_signal *stop);
