#pragma once
/* The life of one camera source: defaults, create, update (restart the
 * connection or only send camera controls), destroy. */

#include <obs-module.h>

struct SourceInstance;

const char *ostrelin_get_name(void *type_data);
void ostrelin_defaults(obs_data_t *settings);
void *ostrelin_create(obs_data_t *settings, obs_source_t *source);
void ostrelin_update(void *data, obs_data_t *settings);
void ostrelin_destroy(void *data);

/* Sends the controls that the phone's capabilities advertise, in the order
 * zoom, ev, torch, ae_lock, awb; nothing while no connection is open. */
void send_camera_controls(SourceInstance *inst, obs_data_t *settings);
/* Stops the connection thread and waits until it has really ended. */
void stop_stream_thread(SourceInstance *inst);
