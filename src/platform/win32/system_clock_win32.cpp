#include "platform/win32/system_clock_win32.h"

#include <windows.h>

namespace vorlin {

std::int64_t system_filetime_now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t intervals =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>(intervals);
}

}  // namespace vorlin
