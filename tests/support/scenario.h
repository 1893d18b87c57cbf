// Scenarios driven by bytes: a desk of USB ports where boards are plugged, unplugged,
// re-enumerated, given their port late, and where device-management operations fail, with scans
// in between and a host that replays every event it reads. The fuzz targets feed them arbitrary
// bytes; the unit tests replay the inputs that once found a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorlin::testing {

// Runs the world-change scenario the bytes describe, checking after every scan that no handle is
// left open and, after every scan without an injected fault, that the port table's present ports
// are the boards the world presents and that the streaming host's view equals the table.
// Returns an empty text when every check held, else what went wrong first.
std::string run_scenario(const std::uint8_t* data, std::size_t size);
inline std::string run_scenario(const std::string& bytes) {
  return run_scenario(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Feeds the bytes to the command loop as standard input, a line at a time, changing the world and
// scanning before each line. Checks that the output is one valid JSON stream of the service's own
// event kinds and, when the input leaves the host streaming, that the host's replay equals the
// table. Returns an empty text when every check held, else what went wrong first.
std::string run_command_stream(const std::uint8_t* data, std::size_t size);
inline std::string run_command_stream(const std::string& bytes) {
  return run_command_stream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace vorlin::testing
