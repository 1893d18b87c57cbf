// The USB device monitor's state and its scan. One scan brings the device list, and through the
// port sink the port table, up to date with the devices present now; the monitor thread only
// decides when to call it.
#pragma once

#include <memory>

#include "monitor/interface_detail.h"
#include "monitor/usb_device_list.h"
#include "platform/device_api.h"
#include "ports/port_sink.h"

namespace vorlin {

class usb_monitor {
 public:
  usb_monitor(device_api& api, port_sink& sink) : api_(api), sink_(sink) {}
  usb_monitor(const usb_monitor&) = delete;
  usb_monitor& operator=(const usb_monitor&) = delete;

  // Looks up the optional configuration-manager operations; once, before the first scan.
  void load_cfgmgr_functions() { cfgmgr_ = api_.load_cfgmgr_functions(); }

  // One whole scan: mark all unseen, device pass, removal of the unseen, nothing-new test, HID
  // pass, Ports pass, report newest first. Every failure skips one item; a later scan retries.
  void scan_usb_devices();

  // The device list, newest first; valid until the next scan.
  const usb_device* devices() const { return devices_.head(); }
  const cfgmgr_functions& cfgmgr() const { return cfgmgr_; }
  // What the last scan counted as new, changed or without a port.
  int change_count() const { return change_count_; }
  std::uint32_t interface_detail_capacity() const { return detail_.capacity(); }

 private:
  void device_pass();
  void found_usb_device(device_set set, const device_info_data& info, const char* device_path,
                        std::uint32_t vid, const char* location, const char* location_information);
  void update_usb_device(usb_device& record);
  void search_port(usb_device& record, bool boot_rom_uses_hid);
  void remove_unseen();
  bool nothing_new();
  void scan_hid_interfaces();
  void scan_ports_class();
  void report();

  device_api& api_;
  port_sink& sink_;
  cfgmgr_functions cfgmgr_{};
  usb_device_list devices_;
  interface_detail_buffer detail_;
  // Where a known device's node lists are collected to compare them with its record's; kept so
  // that the idle scan neither allocates nor clears a whole record per device.
  std::unique_ptr<usb_device> scratch_ = std::make_unique<usb_device>();
  int change_count_ = 0;
};

}  // namespace vorlin
