#pragma once
/* The source's properties panel and its one-line status. */

#include <obs-module.h>

#include <cstddef>

struct SourceInstance;

#define STATUS_TEXT_SIZE 416

obs_properties_t *ostrelin_properties(void *data);
/* The status line of an instance (or of none) into a 416-byte buffer. */
void status_text(const SourceInstance *inst, char out[STATUS_TEXT_SIZE]);
