// What the device scan tells the port table: a device's port is present, or a location is gone.
// The port table implements it; tests wrap it to watch the calls a scan makes.
#pragma once

namespace vorlin {

struct usb_device;

class port_sink {
 public:
  virtual ~port_sink() = default;
  virtual void port_table_update(const usb_device& device) = 0;
  virtual void port_table_remove(const char* address) = 0;
};

}  // namespace vorlin
