// The monitor's list of device records, newest first, and the record tests that the scan uses.
#pragma once

#include <memory>

#include "monitor/usb_device.h"

namespace vorlin {

// Whether the record has a port the host can use: not empty and not the "[no_device]" marker.
bool usb_device_has_port(const usb_device& record);

// A device's identity from one scan to the next: node, interface path, location and location
// information all equal (texts byte for byte).
bool usb_device_matches(const usb_device& record, devinst_t devinst, const char* device_path,
                        const char* location, const char* location_information);

class usb_device_list {
 public:
  usb_device_list() = default;
  usb_device_list(const usb_device_list&) = delete;
  usb_device_list& operator=(const usb_device_list&) = delete;
  ~usb_device_list() { clear(); }

  usb_device* head() const { return head_.get(); }

  // The newest record whose node list holds `devinst`; null when none does.
  usb_device* usb_device_from_devinst(devinst_t devinst) const;

  // A record with every byte zero; null when it cannot be allocated.
  static std::unique_ptr<usb_device> create();
  // Puts the record at the head.
  void add(std::unique_ptr<usb_device> record);
  // Unlinks and frees `record`, whose predecessor is `previous` (null for the head). Returns the
  // record that followed it, so a walk goes on with the same predecessor.
  usb_device* remove(usb_device* previous, usb_device& record);
  void clear();

 private:
  std::unique_ptr<usb_device> head_;
};

}  // namespace vorlin
