// Bounded copies into the device record's fixed-size text fields: the text is cut to the field
// size minus one and always terminated.
#pragma once

#include <cstddef>

namespace vorlin {

// Copies at most `max_chars` characters of `src`, stopping at its terminating zero, so a source
// that is a raw buffer without a terminator can be copied too.
template <std::size_t N>
void copy_text(char (&dst)[N], const char* src, std::size_t max_chars = N - 1) {
  std::size_t i = 0;
  for (; i < N - 1 && i < max_chars && src[i] != '\0'; ++i) dst[i] = src[i];
  dst[i] = '\0';
}

}  // namespace vorlin
