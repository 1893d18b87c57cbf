// The system clock as 100-nanosecond intervals since 1601-01-01 UTC, the form the port table's
// time stamps are computed from.
#pragma once

#include <cstdint>

namespace vorlin {

std::int64_t system_filetime_now();

}  // namespace vorlin
