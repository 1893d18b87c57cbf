// The interface-detail record shared by the scan's device pass and HID pass: it grows to the
// largest record met plus 1024 bytes, never shrinks, and lives as long as its monitor, so the
// common scan allocates nothing.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/device_api.h"

namespace vorlin {

class interface_detail_buffer {
 public:
  // Reads the detail of one enumerated interface; `info` (its size field set by the caller)
  // receives the owning device's node and setup class. false when the interface is to be
  // skipped: the size is unknown, the buffer cannot grow, the query fails, or the path it
  // returned has no terminating zero.
  bool read_interface_detail(device_api& api, device_set set, const device_interface_data& iface,
                             device_info_data& info);

  // The interface path of the last successful read.
  const char* path() const { return buffer_.get() + interface_detail_path_offset; }
  std::uint32_t capacity() const { return capacity_; }

 private:
  std::unique_ptr<char[]> buffer_;
  std::uint32_t capacity_ = 0;
};

}  // namespace vorlin
