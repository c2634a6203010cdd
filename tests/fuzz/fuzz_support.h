// Helpers shared by the fuzz targets.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Fails the run: libFuzzer records the input that got here.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace fuzz
