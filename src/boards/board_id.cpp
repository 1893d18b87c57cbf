#include "boards/board_id.h"

#include <cstddef>

namespace vorlin {

namespace {

constexpr uint32_t family_vid = 0x16C0;
constexpr uint32_t boot_loader_pid = 0x478;

struct interface_entry {
  uint32_t pid;
  int interface_number;
};
constexpr interface_entry hid_serial_interfaces[] = {
    {0x482, 2}, {0x484, 2}, {0x485, 1}, {0x486, 1}, {0x488, 1}, {0x4D0, 1},
    {0x4D1, 0}, {0x4D2, 0}, {0x4D3, 1}, {0x4D4, 2}, {0x4D9, 1},
};

struct model_entry {
  uint32_t release_byte;
  uint32_t model_id;
};
constexpr model_entry models[] = {
    {0x71, 27}, {0x72, 28}, {0x73, 32}, {0x74, 29}, {0x75, 33}, {0x76, 31},
    {0x77, 34}, {0x78, 35}, {0x79, 36}, {0x80, 37}, {0x81, 38},
};

// Reads leading digits in `base` (10 or 16); a number too large for 32 bits reads as all ones.
bool read_leading_number(const char* text, uint32_t base, uint32_t& out) {
  uint64_t value = 0;
  bool any = false;
  for (; *text; ++text) {
    const char c = *text;
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    any = true;
    if (value <= 0xFFFFFFFFu) value = value * base + digit;
  }
  if (!any) return false;
  out = value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
  return true;
}

}  // namespace

bool is_family_device(uint32_t vid, uint32_t pid) {
  if (vid == 0x1FC9 && pid == 0x135) return true;
  return vid == family_vid && pid >= 0x474 && pid <= 0x4D9;
}

int hid_serial_interface(uint32_t vid, uint32_t pid) {
  if (!is_family_device(vid, pid) || pid < 0x482 || pid > 0x4D9) return -1;
  for (const interface_entry& entry : hid_serial_interfaces) {
    if (entry.pid == pid) return entry.interface_number;
  }
  return -1;
}

uint32_t model_id_from_release(uint32_t vid, uint32_t pid, uint32_t release) {
  if (vid != family_vid || pid < 0x474 || pid > 0x4DF) return 0;
  const uint32_t major = (release >> 8) & 0xFF;
  if (major < 2 || major > 5) return 0;
  for (const model_entry& entry : models) {
    if (entry.release_byte == (release & 0xFF)) return entry.model_id;
  }
  return 0;
}

uint32_t serial_number_from_string(const char* text, uint32_t vid, uint32_t pid) {
  if (text == nullptr || *text == '\0') return 0;
  uint32_t value = 0;
  if (vid == family_vid && pid == boot_loader_pid) {
    // The boot loader reports its serial number in hexadecimal, as it is.
    return read_leading_number(text, 16, value) ? value : 0;
  }
  if (!read_leading_number(text, 10, value)) return 0;
  if (value == 0xFFFFFFFFu || value == 12345) return 0;
  // Firmware of some boards appends a zero digit to the serial number.
  if (value <= 99999990 && value % 10 == 0) return value / 10;
  if (value > 9999999) return value;
  return 0;
}

}  // namespace vorlin
