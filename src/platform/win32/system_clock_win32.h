// The Windows system clock, read as a FILETIME count.
#pragma once

#include <cstdint>

namespace vorlin {

// The current system time (UTC) in 100-nanosecond intervals since 1601-01-01.
std::int64_t system_filetime_now();

}  // namespace vorlin
