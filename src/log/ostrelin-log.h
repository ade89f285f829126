#pragma once
/* The plug-in's one way to log: libobs's blog with the plug-in's prefix
 * joined to a text of log-texts.h at compile time, so the fields are still
 * checked against the text. */

#include "log/log-texts.h"

#include <util/base.h>

#define ostrelin_log(level, text, ...) blog(level, LOGTEXT_PREFIX text __VA_OPT__(, ) __VA_ARGS__)
