// Any text is either a world or an error naming its line; a world that parses can be played and
// scanned.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "monitor/usb_monitor.h"
#include "platform/world/world_file.h"
#include "ports/port_updates.h"
#include "streams.h"

using namespace vorlin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  world::world_description description;
  std::string error;
  if (!world::parse_world_file(text, description, error)) {
    std::size_t lines = 1;
    for (const char c : text) lines += c == '\n' ? 1 : 0;
    std::size_t line = 0;
    std::size_t digits_end = 0;
    fuzz::check(error.rfind("line ", 0) == 0, "an error does not start with \"line \"");
    for (digits_end = 5;
         digits_end < error.size() && error[digits_end] >= '0' && error[digits_end] <= '9';
         ++digits_end) {
      line = line * 10 + static_cast<std::size_t>(error[digits_end] - '0');
      if (line > lines + 1) break;
    }
    fuzz::check(digits_end > 5 && line >= 1 && line <= lines + 1,
                "an error names no line of the text");
    fuzz::check(error.compare(digits_end, 2, ": ") == 0 && error.size() > digits_end + 2,
                "an error says nothing after its line number");
    return 0;
  }

  // A world that parses is played: plugged at start, every step applied in turn, scanned after
  // each, with the file's faults and missing operations in force.
  testing::output_capture ignored;
  service_state state(ignored.file());
  port_updates updates(state);
  world::device_world devices;
  world::world_player player(devices, description);
  usb_monitor monitor(devices, updates);
  player.start();
  monitor.load_cfgmgr_functions();
  monitor.scan_usb_devices();
  std::size_t steps = 0;
  for (const world::world_step& step : description.timeline) {
    if (++steps > 64) break;
    player.apply(step);
    monitor.scan_usb_devices();
  }
  fuzz::check(devices.open_handles().total() == 0, "a scan left a handle open");
  fuzz::check(devices.bad_releases() == 0, "a scan released a handle twice");
  return 0;
}
