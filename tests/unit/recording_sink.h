// A port sink that records what a scan tells the port table, in order, and keeps the view of
// present ports that the port table would have.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "monitor/usb_device.h"
#include "ports/port_sink.h"

namespace vorlin::testing {

struct sink_call {
  enum class kind { update, remove } what = kind::update;
  std::string location;
  std::string port_name;
  std::uint32_t model_id = 0;
  std::string serial_text;
  std::uint32_t usage_page = 0;

  bool operator==(const sink_call& o) const {
    return what == o.what && location == o.location && port_name == o.port_name &&
           model_id == o.model_id && serial_text == o.serial_text && usage_page == o.usage_page;
  }
};

inline sink_call removed(std::string location) {
  sink_call c;
  c.what = sink_call::kind::remove;
  c.location = std::move(location);
  return c;
}

inline sink_call updated(std::string location, std::string port_name, std::uint32_t model_id = 0,
                         std::string serial_text = "", std::uint32_t usage_page = 0) {
  sink_call c;
  c.location = std::move(location);
  c.port_name = std::move(port_name);
  c.model_id = model_id;
  c.serial_text = std::move(serial_text);
  c.usage_page = usage_page;
  return c;
}

inline void PrintTo(const sink_call& c, std::ostream* os) {
  if (c.what == sink_call::kind::remove) {
    *os << "remove(" << c.location << ")";
  } else {
    *os << "update(" << c.location << ", " << c.port_name << ", model " << c.model_id
        << ", serial '" << c.serial_text << "', usage page " << std::hex << c.usage_page << std::dec
        << ")";
  }
}

class recording_sink : public port_sink {
 public:
  void port_table_update(const usb_device& d) override {
    calls.push_back(updated(d.location, d.port_name, d.model_id, d.serial_text, d.usage_page));
    present[d.location] = d.port_name;
  }
  void port_table_remove(const char* address) override {
    calls.push_back(removed(address));
    present.erase(address);
  }

  std::vector<sink_call> calls;
  std::map<std::string, std::string> present;  // location -> port name
};

}  // namespace vorlin::testing
