#pragma once
/* What a long run shows about one source, from what its sender wrote and
 * what reached OBS: plain functions of recorded events, so that tests feed
 * them chosen values. */

#include "picture-track.h"
#include "send-log.h"

#include <cstddef>
#include <cstdint>
#include <vector>

/* Steps back in the OBS timestamps of the pictures (or audio blocks) in the
 * order they were handed over: how many, and the largest, in ms. */
struct OrderFigures {
	size_t steps_back = 0;
	double largest_back_ms = 0;
};
OrderFigures picture_order(const std::vector<PictureEvent> &handoffs);
OrderFigures audio_order(const std::vector<AudioEvent> &audio);

/* Least-squares slope of y against x (y units per x unit); 0 with fewer
 * than two points or no spread in x. */
double slope(const std::vector<double> &x, const std::vector<double> &y);

/* Audio against video on OBS's clock: for each audio block handed over, the
 * difference between where OBS placed it and where OBS placed the pictures
 * of the same moment of the phone's clock (positive: audio later), in ms.
 * Each audio block is matched to the block the sender wrote: within a
 * connection the blocks arrive in order, so one shift per connection, the
 * most common between a block's arrival and the last block written before
 * it. Blocks within settle_ns of a connection's opening are left out. */
std::vector<double> av_offsets_ms(const SendLog &log, const std::vector<PictureEvent> &handoffs,
				  const std::vector<AudioEvent> &audio, uint64_t settle_ns);
