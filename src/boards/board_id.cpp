#include "boards/board_id.h"

#include <cstdint>

namespace vorlin {
namespace {

struct hid_serial_row {
  std::uint32_t pid;
  int interface_number;
};
constexpr hid_serial_row hid_serial_table[] = {
    {0x482, 2}, {0x484, 2}, {0x485, 1}, {0x486, 1}, {0x488, 1}, {0x4D0, 1},
    {0x4D1, 0}, {0x4D2, 0}, {0x4D3, 1}, {0x4D4, 2}, {0x4D9, 1},
};

struct model_row {
  std::uint32_t release_low_byte;
  std::uint32_t model_id;
};
constexpr model_row model_table[] = {
    {0x71, 27}, {0x72, 28}, {0x73, 32}, {0x74, 29}, {0x75, 33}, {0x76, 31},
    {0x77, 34}, {0x78, 35}, {0x79, 36}, {0x80, 37}, {0x81, 38},
};

constexpr std::uint32_t first_family_pid = 0x474;
constexpr std::uint32_t last_family_pid = 0x4D9;
// Release numbers are decoded over a range six ids wider than the family filter.
constexpr std::uint32_t last_model_pid = 0x4DF;

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the leading digits of `text` in `base` (10 or 16). A number past 32 bits saturates at
// 0xFFFFFFFF. Returns false when the text does not begin with a digit.
bool read_leading_number(const char* text, std::uint32_t base, std::uint32_t& value) {
  std::uint64_t total = 0;
  bool any = false;
  for (const char* p = text; *p != '\0'; ++p) {
    const int digit = hex_digit_value(*p);
    if (digit < 0 || static_cast<std::uint32_t>(digit) >= base) break;
    any = true;
    total = total * base + static_cast<std::uint64_t>(digit);
    if (total > 0xFFFFFFFFu) total = 0x100000000u;  // stays saturated, never overflows
  }
  if (!any) return false;
  value = total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(total);
  return true;
}

}  // namespace

bool is_family_device(std::uint32_t vid, std::uint32_t pid) {
  if (is_bootrom_pair(vid, pid)) return true;
  return vid == family_vendor_id && pid >= first_family_pid && pid <= last_family_pid;
}

int hid_serial_interface(std::uint32_t vid, std::uint32_t pid) {
  if (!is_family_device(vid, pid)) return -1;
  for (const auto& row : hid_serial_table) {
    if (row.pid == pid) return row.interface_number;
  }
  return -1;
}

std::uint32_t model_id_from_release(std::uint32_t vid, std::uint32_t pid, std::uint32_t release) {
  if (vid != family_vendor_id || pid < first_family_pid || pid > last_model_pid) return 0;
  const std::uint32_t major = (release >> 8) & 0xFF;
  if (major < 2 || major > 5) return 0;
  const std::uint32_t low = release & 0xFF;
  for (const auto& row : model_table) {
    if (row.release_low_byte == low) return row.model_id;
  }
  return 0;
}

std::uint32_t serial_number_from_string(const char* text, std::uint32_t vid, std::uint32_t pid) {
  if (text == nullptr || *text == '\0') return 0;
  std::uint32_t value = 0;
  if (is_family_bootloader(vid, pid)) {
    // The boot loader reports the serial number itself, in hexadecimal.
    return read_leading_number(text, 16, value) ? value : 0;
  }
  if (!read_leading_number(text, 10, value)) return 0;
  if (value == 0xFFFFFFFFu || value == 12345) return 0;
  // Older firmware reports the number times ten.
  if (value <= 99999990u && value % 10 == 0) return value / 10;
  if (value > 9999999u) return value;
  return 0;
}

}  // namespace vorlin
