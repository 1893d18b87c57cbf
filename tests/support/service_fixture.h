// A service_state whose standard output is kept in memory, for byte-exact checks.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "monitor/usb_device.h"
#include "ports/port_table.h"
#include "protocol/service_state.h"

namespace vorlin::testing {

class captured_output {
 public:
  captured_output() : file_(open_memstream(&data_, &size_)) {}
  ~captured_output() {
    std::fclose(file_);
    std::free(data_);
  }
  captured_output(const captured_output&) = delete;
  captured_output& operator=(const captured_output&) = delete;

  std::FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

struct service_fixture {
  captured_output out;
  service_state state{out.file()};
};

// A device record as the scan would hand it to the port table.
inline usb_device make_device(const char* location, const char* port_name, std::uint32_t vid,
                              std::uint32_t pid, std::uint32_t bcd_device,
                              std::uint32_t model_id = 0, const char* serial_text = "") {
  usb_device device{};
  copy_bounded(device.location, location, sizeof device.location);
  copy_bounded(device.port_name, port_name, sizeof device.port_name);
  copy_bounded(device.serial_text, serial_text, sizeof device.serial_text);
  device.vid = vid;
  device.pid = pid;
  device.bcd_device = bcd_device;
  device.model_id = model_id;
  return device;
}

}  // namespace vorlin::testing
