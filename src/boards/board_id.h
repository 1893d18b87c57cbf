// Fixed knowledge about the board family: which ids belong to it, which HID interface carries
// the port of USB types without a serial interface, the model behind a release number, and the
// serial number behind the serial text of an interface path.
#pragma once

#include <cstdint>

namespace vorlin {

bool is_family_device(uint32_t vid, uint32_t pid);
// The "&mi_" number of the HID interface that carries the board's port; -1 when the board's
// port is not a HID interface (a COM port, or the boot loader and boot-ROM rules apply).
int hid_serial_interface(uint32_t vid, uint32_t pid);
// 0 when the release number names no model.
uint32_t model_id_from_release(uint32_t vid, uint32_t pid, uint32_t release);
// 0 when the text encodes no serial number.
uint32_t serial_number_from_string(const char* text, uint32_t vid, uint32_t pid);

}  // namespace vorlin
