// World changes, injected faults and host commands in any order, with scans in between: after
// every scan without a fault the port table and the streaming host hold exactly the boards the
// world presents.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = vorlin::testing::run_scenario(data, size);
  if (!failure.empty()) vorlin::fuzz::fail(failure);
  return 0;
}
