#pragma once
/* When each numbered picture reaches OBS, for any source, on
 * os_gettime_ns:
 *   - handed over: the source's call to obs_source_output_video. This
 *     program defines that function itself and exports it (the bench links
 *     with ENABLE_EXPORTS), so every module -- the Ostrelin plug-in as OBS
 *     loads it, OBS's own Media Source -- calls it first; it notes the time
 *     and the picture's counter and passes the call on to libobs's.
 *   - taken by OBS's video tick: an async-video filter on the source, which
 *     OBS runs on its graphics thread when it takes a new frame of the
 *     source to render it.
 * Only pictures whose counter can be read are noted. Audio blocks handed
 * over are noted the same way. */

#include "picture-track.h"

#include <obs.h>

/* Registers the filter type; once after obs_startup. */
void handoff_probe_register();

/* Follows a source from now on: its handoffs and the frames OBS takes are
 * added to *track. attach before the source can output; detach before the
 * source is released and before the track goes. */
void handoff_probe_attach(obs_source_t *source, PictureTrack *track);
void handoff_probe_detach(obs_source_t *source);
