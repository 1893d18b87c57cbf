// Fixed knowledge about the board family: which ids belong to it, through which HID interface a
// board offers its port, which model a release number stands for, and how a serial text becomes
// a serial number. Pure functions over constant tables.
#pragma once

#include <cstdint>

namespace vorlin {

inline constexpr std::uint32_t family_vendor_id = 0x16C0;
inline constexpr std::uint32_t bootloader_product_id = 0x478;
inline constexpr std::uint32_t bootrom_vendor_id = 0x1FC9;
inline constexpr std::uint32_t bootrom_product_id = 0x135;

// The HID usage of a board's serial-emulation interface, and the usage page of the boot loader's
// interface (whose usage is the board's model id).
inline constexpr std::uint32_t hid_serial_usage_page = 0xFFC9;
inline constexpr std::uint32_t hid_serial_usage = 4;
inline constexpr std::uint32_t bootloader_usage_page = 0xFF9C;

inline bool is_family_bootloader(std::uint32_t vid, std::uint32_t pid) {
  return vid == family_vendor_id && pid == bootloader_product_id;
}
inline bool is_bootrom_pair(std::uint32_t vid, std::uint32_t pid) {
  return vid == bootrom_vendor_id && pid == bootrom_product_id;
}

// The family filter: the boot-ROM pair and the family's USB types.
bool is_family_device(std::uint32_t vid, std::uint32_t pid);

// The USB interface number ("&mi_XX") of the board's HID serial interface, or -1 when the board's
// USB type has none (its port is then a COM port, or found by the boot-loader rules).
int hid_serial_interface(std::uint32_t vid, std::uint32_t pid);

// The board model encoded in a running firmware's release number; 0 when none.
std::uint32_t model_id_from_release(std::uint32_t vid, std::uint32_t pid, std::uint32_t release);

// The serial number encoded in a serial text taken from an interface path; 0 when none. The boot
// loader reports its serial number in hexadecimal, every other device in decimal.
std::uint32_t serial_number_from_string(const char* text, std::uint32_t vid, std::uint32_t pid);

}  // namespace vorlin
