#pragma once
/* A capabilities record as one list, to check every field in one comparison:
 * flags, zoom_min, zoom_max, ev_min, ev_max, ev_step, awb_count, then the
 * awb_count modes. */

#include "protocol/stream-protocol.h"

#include <algorithm>
#include <vector>

inline std::vector<int32_t> caps_fields(const CameraCaps &caps)
{
	std::vector<int32_t> fields = {caps.flags,  caps.zoom_min, caps.zoom_max, caps.ev_min,
				       caps.ev_max, caps.ev_step,  caps.awb_count};
	int modes = std::clamp<int32_t>(caps.awb_count, 0, CAPS_MAX_AWB_MODES);
	fields.insert(fields.end(), caps.awb_modes, caps.awb_modes + modes);
	return fields;
}
