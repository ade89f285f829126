#pragma once
/* An async video filter that hands every frame a source outputs to a
 * callback, as OBS runs it on its graphics thread when it takes the source's
 * next frame. Its data is the pointer given at attach. */

#include <obs.h>

using FrameCallback = obs_source_frame *(*)(void *data, obs_source_frame *frame);

/* Registers the filter type `id` (display name `name`, a string that lives
 * as long as the program); once per libobs start. */
void frame_filter_register(const char *id, const char *name, FrameCallback on_frame);

/* Adds a new filter of type `id` with `data` to the source; the returned
 * reference goes to frame_filter_detach. */
obs_source_t *frame_filter_attach(obs_source_t *source, const char *id, void *data);

/* Removes the filter from the source and releases it. */
void frame_filter_detach(obs_source_t *source, obs_source_t *filter);
