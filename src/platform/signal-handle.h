#pragma once
/* Inside the platform layer only: what a socket wait waits on for a signal. */

#include "platform/thread.h"

#ifdef _WIN32
#include <windows.h>
/* A manual-reset event, set while the signal is raised. */
HANDLE plat_stop_handle(plat_stop_signal *stop);
#else
/* A descriptor that polls readable while the signal is raised. */
int plat_stop_fd(plat_stop_signal *stop);
#endif
