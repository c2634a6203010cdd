// SHA-256 (FIPS 180-4) for the tests that compare files by digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tav::test {

// Lower-case hex digest of `size` bytes at `data`.
std::string sha256_hex(const void* data, size_t size);

}  // namespace tav::test
