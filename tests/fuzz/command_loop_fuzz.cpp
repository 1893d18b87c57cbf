// Arbitrary bytes on standard input, while boards come and go between the lines: the service
// must answer only with whole events of its own kinds, and a streaming host's replay must equal
// the port table.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = vorlin::testing::run_command_stream(data, size);
  if (!failure.empty()) vorlin::fuzz::fail(failure);
  return 0;
}
