// The monitor's record of one USB device of interest, and the list of these records.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/device_api.h"

namespace vorlin {

// Size of a record's node lists: the device's own node and its first descendants.
inline constexpr int max_devinst_count = 80;

struct usb_device {
  char location[240];    // location path, or a copy of location_information when there is none
  char port_name[1024];  // empty, a COM port name, a HID interface path, or "[no_device]"
  std::uint32_t vid;
  std::uint32_t pid;
  std::uint32_t bcd_device;
  std::uint32_t model_id;
  char serial_text[64];  // empty, or 1 to 63 hexadecimal digits taken from the interface path
  std::uint32_t serial_number;
  std::unique_ptr<usb_device> next;  // the next (older) record
  std::uint32_t usage_page;
  std::uint32_t usage;
  char location_information[200];
  devinst_t devinst;
  guid class_guid;
  devinst_t devinst_list[max_devinst_count];
  guid classguid_list[max_devinst_count];
  std::int32_t devinst_count;
  std::int32_t seen;
  std::int32_t pending;
  char device_path[201];
};

}  // namespace vorlin
