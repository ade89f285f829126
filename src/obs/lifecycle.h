#pragma once
/* The life of one camera source: defaults, create, update (restart the
 * connection or only record camera controls), destroy. None of them waits on
 * the phone or the adb server. */

#include <obs-module.h>

struct SourceInstance;

const char *ostrelin_get_name(void *type_data);
void ostrelin_defaults(obs_data_t *settings);
void *ostrelin_create(obs_data_t *settings, obs_source_t *source);
void ostrelin_update(void *data, obs_data_t *settings);
void ostrelin_destroy(void *data);
/* OBS's video thread, right after it took the source's picture of this tick. */
void ostrelin_video_tick(void *data, float seconds);

/* Records the camera controls of the settings; the connection thread writes
 * those the phone announced, in the order zoom, ev, torch, ae_lock, awb.
 * Returns at once. */
void send_camera_controls(SourceInstance *inst, obs_data_t *settings);
/* Whether the settings ask for USB mode (settings_usb_mode's rule). */
bool settings_want_usb(obs_data_t *settings);
/* Stops the connection thread and waits until it has really ended. */
void stop_stream_thread(SourceInstance *inst);
