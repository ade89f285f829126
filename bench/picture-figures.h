#pragma once
/* Figures of one source from what its sender wrote (the send log) and what
 * reached OBS (the picture track): per picture, from the sender's write to
 * the source's hand-off and to OBS's video tick taking it; pictures handed
 * over and shown of those sent; first picture of each connection. */

#include "picture-track.h"
#include "send-log.h"

#include <cstdint>
#include <vector>

struct PictureFigures {
	size_t sent = 0;                      /* written within the window */
	size_t handed = 0;                    /* of those, handed to OBS */
	size_t shown = 0;                     /* of those, taken by OBS's video tick */
	std::vector<double> handoff_ms;       /* write -> hand-off, per picture */
	std::vector<double> tick_ms;          /* write -> taken by the tick */
	std::vector<double> handoff_at_s;     /* when each hand-off came, s from window start */
	std::vector<double> first_picture_ms; /* connection opened -> first hand-off, per connection */
};

/* Pictures written in [from_ns, to_ns) are counted; first pictures of the
 * connections opened within it. */
PictureFigures picture_figures(const SendLog &log, const PictureTrack &track, uint64_t from_ns, uint64_t to_ns);
