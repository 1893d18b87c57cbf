// The portable clock source; the Windows build reads GetSystemTimeAsFileTime in its own backend.
#ifndef _WIN32

#include "platform/system_clock.h"

#include <chrono>

namespace vorlin {

std::int64_t system_filetime_now() {
  constexpr std::int64_t intervals_1601_to_1970 = 116444736000000000;
  const auto since_1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return intervals_1601_to_1970 + since_1970.count() / 100;
}

}  // namespace vorlin

#endif
