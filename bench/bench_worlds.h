// Device worlds of the sizes the scan figures are measured on: N family boards (COM-port and
// HID-only boards mixed, each with its node subtree), next to 20 USB devices of other vendors
// that carry 50 HID interfaces between them.
#pragma once

#include <string>

#include "platform/world/device_world.h"

namespace vorlin::bench {

inline world::board_spec family_board(int i) {
  world::board_spec spec;
  spec.vid = 0x16C0;
  spec.release = 0x0279;
  spec.serial = std::to_string(10000000 + i * 10);
  // Eight boards per hub below the root hub at 14.
  spec.usb_port = {0x14, static_cast<std::uint32_t>(1 + i / 8),
                   static_cast<std::uint32_t>(1 + i % 8)};
  spec.location_information = "Port_#000" + std::to_string(1 + i % 8) + ".Hub_#0001";
  if (i % 2 == 0) {
    spec.pid = 0x483;  // Serial: a COM port
    spec.com_port = "COM" + std::to_string(3 + i);
  } else {
    spec.pid = 0x486;  // RawHID: the port is the HID serial interface 01
    spec.hid = {world::hid_function(0, 0xFFAB, 0x200), world::hid_function(1, 0xFFC9, 4)};
  }
  return spec;
}

inline void add_unrelated_devices(world::device_world& world) {
  for (int i = 0; i < 20; ++i) {
    world::board_spec spec;
    spec.vid = static_cast<std::uint16_t>(0x0400 + i);
    spec.pid = 0x0100;
    spec.usb_port = {0x1A, static_cast<std::uint32_t>(1 + i)};
    if (i < 10) {
      for (int h = 0; h < 5; ++h) spec.hid.push_back(world::hid_function(h, 0x0001, 0x0006));
    }
    world.plug_board(spec);
  }
}

inline void populate(world::device_world& world, int boards) {
  add_unrelated_devices(world);
  for (int i = 0; i < boards; ++i) world.plug_board(family_board(i));
}

}  // namespace vorlin::bench
