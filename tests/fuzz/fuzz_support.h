// Helpers shared by the fuzz targets: in-memory streams for the codec.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fuzz {

// A read stream over `bytes` (an empty one reads as end of file at once).
inline std::FILE* open_bytes(const uint8_t* bytes, size_t size) {
  if (size == 0) return std::fopen("/dev/null", "rb");
  return fmemopen(const_cast<uint8_t*>(bytes), size, "rb");
}

// Fails the run: libFuzzer records the input that got here.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace fuzz
