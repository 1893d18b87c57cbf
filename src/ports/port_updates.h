// The monitor's two changes to the port table. While the host streams they also tell the host,
// with an "add" or "remove" event written after table_lock is released.
#pragma once

#include "ports/port_sink.h"
#include "protocol/service_state.h"

namespace vorlin {

class port_updates final : public port_sink {
 public:
  explicit port_updates(service_state& state) : state_(state) {}

  // Records the device's port as present, creating the entry when its location is new.
  void port_table_update(const usb_device& device) override;
  // Marks the entry of `address` not present.
  void port_table_remove(const char* address) override;

 private:
  service_state& state_;
};

}  // namespace vorlin
