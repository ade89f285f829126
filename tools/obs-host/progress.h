#pragma once
/* The lines the host prints while it runs and when it ends. */

#include "capture.h"
#include "plugin-log.h"

#include <string>

/* One progress line, e.g.
 *   "   3 s  connected     pictures     90  30.0 fps  audio blocks    141  640x360"
 * `before` are the counts `interval_s` seconds earlier. */
std::string progress_line(double elapsed_s, LinkState state, const ReceivedCounts &now, const ReceivedCounts &before,
			  double interval_s);

/* The closing summary, e.g.
 *   "received 298 pictures (29.8 fps, last 640x360) and 468 audio blocks
 *    (479232 samples per channel) in 10.0 s" */
std::string summary_line(const ReceivedCounts &counts, double elapsed_s);
