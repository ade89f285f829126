#pragma once
/* The camera source's registration record, which names its callbacks. */

#include <obs-module.h>

MODULE_EXPORT struct obs_source_info ostrelin_source_info;
