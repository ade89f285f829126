#pragma once
/* A source drawn as OBS draws it on the canvas, read back from the GPU. */

#include "rgba-picture.h"

#include <obs.h>

/* Renders the source at its own size into an RGBA texture and reads it back.
 * False when the source has no picture yet or the read-back failed; *out is
 * untouched then. Not on the render thread. */
bool snapshot_source(obs_source_t *source, Picture *out);
