#include "protocol/camera-controls.h"

constexpr CameraControlRow camera_controls[CAMERA_CONTROL_COUNT] = {
	{"zoom", CONTROL_ZOOM, CAPS_ZOOM, ControlSetting::zoom_factor, 1.0, "Zoom", ControlWidget::zoom_slider},
	{"ev", CONTROL_EV, CAPS_EV, ControlSetting::integer, 0, "ExposureStep", ControlWidget::exposure_slider},
	{"torch", CONTROL_TORCH, CAPS_TORCH, ControlSetting::boolean, 0, "Torch", ControlWidget::check_box},
	{"ae_lock", CONTROL_AE_LOCK, CAPS_AE_LOCK, ControlSetting::boolean, 0, "AELock", ControlWidget::check_box},
	{"awb", CONTROL_AWB, 0, ControlSetting::integer, 1, "AWB", ControlWidget::white_balance_list},
};
/* A row added without raising CAMERA_CONTROL_COUNT does not compile; a count
 * raised without its row would leave an empty last row. */
static_assert(camera_controls[CAMERA_CONTROL_COUNT - 1].key != nullptr, "CAMERA_CONTROL_COUNT has no row");

const CameraControlRow *camera_control_by_command(uint8_t command)
{
	for (const CameraControlRow &row : camera_controls) {
		if (row.command == command)
			return &row;
	}
	return nullptr;
}

uint8_t camera_controls_caps_flags(void)
{
	uint8_t flags = 0;
	for (const CameraControlRow &row : camera_controls)
		flags |= row.caps_flag;
	return flags;
}

bool camera_control_announced(const CameraControlRow &row, const CameraCaps &caps)
{
	return row.caps_flag ? (caps.flags & row.caps_flag) != 0 : caps.awb_count > 0;
}

size_t camera_controls_write(const ControlValues &values, const CameraCaps &caps,
			     uint8_t out[CAMERA_CONTROLS_WIRE_SIZE])
{
	if (!caps.valid)
		return 0;
	size_t used = 0;
	for (size_t i = 0; i < CAMERA_CONTROL_COUNT; i++) {
		if (!camera_control_announced(camera_controls[i], caps))
			continue;
		control_message_write(ControlMessage{camera_controls[i].command, values.value[i]}, out + used);
		used += CONTROL_MESSAGE_SIZE;
	}
	return used;
}
