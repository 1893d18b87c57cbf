// How a fuzz target reports a broken property: the message on standard error, then abort, so
// that libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vorlin::fuzz {

[[noreturn]] inline void fail(const std::string& what) {
  std::fprintf(stderr, "property broken: %s\n", what.c_str());
  std::abort();
}

inline void check(bool holds, const char* what) {
  if (!holds) fail(what);
}

}  // namespace vorlin::fuzz
