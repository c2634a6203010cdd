#include "control_bytes.h"

#include <algorithm>

namespace tav::tools {

namespace {
constexpr std::uint8_t FIRST_PRINTABLE = 0x20;
constexpr std::uint8_t LF = 0x0A;
}  // namespace

std::uint64_t count_control_bytes(std::span<const std::uint8_t> bytes) {
  std::uint64_t k = 0;
  for (const std::uint8_t c : bytes) k += c < FIRST_PRINTABLE;
  return k;
}

void ControlFilter::process(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out) {
  const std::size_t old_size = out.size();
  out.resize(old_size + input.size());
  std::uint8_t* w = out.data() + old_size;
  const std::size_t leading = static_cast<std::size_t>(std::min<std::uint64_t>(leading_left_, input.size()));
  for (std::size_t i = 0; i < leading; ++i) {
    const std::uint8_t c = input[i];
    *w = c;
    w += c >= FIRST_PRINTABLE;  // a control byte is overwritten by the next one kept
  }
  leading_left_ -= leading;
  for (std::size_t i = leading; i < input.size(); ++i) {
    const std::uint8_t c = input[i];
    *w++ = c >= FIRST_PRINTABLE ? c : LF;
  }
  out.resize(static_cast<std::size_t>(w - out.data()));
}

}  // namespace tav::tools
