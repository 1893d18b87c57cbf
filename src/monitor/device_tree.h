// Queries over the device tree for one USB device: where it is plugged in, which nodes belong to
// it, and which of them carries its COM port or its HID serial interface.
#pragma once

#include "monitor/usb_device.h"
#include "platform/device_api.h"

namespace vorlin {

// Size of a location path buffer: at most 239 characters and the terminating zero.
inline constexpr int location_size = 240;

// Builds "usb:<top>/<addr>/.../<device>" from the bus addresses of the device and its ancestors
// up to the nearest System- or Computer-class node, each in upper-case hex. Returns the length
// written (a path longer than 239 characters is cut there and still succeeds), or 0 when any node
// on the way lacks a readable class or address, the root is reached first, or the optional
// property operation is missing; the buffer is then left as it was.
int usb_location_path(device_api& api, const cfgmgr_functions& cfgmgr, devinst_t devinst,
                      char (&location)[location_size]);

// Appends `devinst` and its descendants, depth first with parents before children, to the
// record's node and class lists from index devinst_count on, up to max_devinst_count entries. A
// node whose class cannot be read gets the all-zero GUID.
void collect_devinst_list(device_api& api, const cfgmgr_functions& cfgmgr, usb_device& record,
                          devinst_t devinst);

// Takes the "PortName" of the first Ports-class node of the record's lists that has one: sets
// port_name and pending. Leaves the record alone when none does.
void comport_from_devinst_list(device_api& api, const cfgmgr_functions& cfgmgr, usb_device& record);

// Takes the path of the last HID interface (in enumeration order) that belongs to one of the
// record's nodes and carries "&mi_" with `interface_number`: sets port_name, the serial
// interface's usage page and usage, and pending. Leaves the record alone when none does.
void hiddev_from_devinst_list(device_api& api, usb_device& record, int interface_number);

}  // namespace vorlin
