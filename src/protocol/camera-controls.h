#pragma once
/* The camera controls a phone may announce, one row each, in the order they
 * go out: zoom, ev, torch, ae_lock, awb. The white balance is announced by a
 * mode count, every other control by a capability bit. The source's defaults,
 * the panel's camera group and its labels, the messages to the phone and the
 * reference sender's printout all come from this table: a new control is a
 * row here, its wire constants and its locale texts. */

#include "protocol/stream-protocol.h"

#include <cstddef>
#include <cstdint>

#define CAMERA_CONTROL_COUNT 5 /* rows of camera_controls */
#define CAMERA_CONTROLS_WIRE_SIZE (CAMERA_CONTROL_COUNT * CONTROL_MESSAGE_SIZE)

enum class ControlSetting {
	zoom_factor, /* double, sent as factor x 1000 */
	integer,
	boolean, /* sent as 0 or 1 */
};

/* How the panel shows a control; the ranges come from the capabilities. */
enum class ControlWidget {
	zoom_slider,        /* zoom_min..zoom_max / 1000, step 0.1 */
	exposure_slider,    /* ev_min..ev_max, labelled with the size of one step */
	check_box,          /* on or off */
	white_balance_list, /* the announced modes, by name */
};

struct CameraControlRow {
	const char *key;   /* the source's setting */
	uint8_t command;   /* ControlCommand on the wire */
	uint8_t caps_flag; /* announcing bit of CameraCaps.flags; 0: announced by awb_count */
	ControlSetting setting;
	double default_value;
	const char *text_key; /* the panel's label; for the exposure slider a format */
	ControlWidget widget;
};

extern const CameraControlRow camera_controls[CAMERA_CONTROL_COUNT];

/* Wanted wire values, by row. */
struct ControlValues {
	int32_t value[CAMERA_CONTROL_COUNT];
};

bool camera_control_announced(const CameraControlRow &row, const CameraCaps &caps);
/* Every announcing bit of the table: what a phone with all the controls
 * sets in CameraCaps.flags. */
uint8_t camera_controls_caps_flags(void);
/* The row of a wire command; null for a command no row has. */
const CameraControlRow *camera_control_by_command(uint8_t command);

/* Writes one message per announced control, in the table's order, and
 * returns the number of bytes written (0 when caps are not valid). */
size_t camera_controls_write(const ControlValues &values, const CameraCaps &caps,
			     uint8_t out[CAMERA_CONTROLS_WIRE_SIZE]);
