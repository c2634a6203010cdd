// Control filter: control bytes (0x00..0x1F) are dropped from a leading part
// of the text and turned into LF in the rest.
//
// The leading part is as long as the count K of control bytes in the whole
// text, so the text is read twice: once to count, once to filter.  Bytes from
// 0x20 up (0x7F and 0x80..0xFF included) always pass unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tav::tools {

// Number of bytes below 0x20 in `bytes`.
std::uint64_t count_control_bytes(std::span<const std::uint8_t> bytes);

class ControlFilter {
 public:
  // `leading_length` is K, the control-byte count of the whole text.
  explicit ControlFilter(std::uint64_t leading_length) : leading_left_(leading_length) {}

  // Appends the filtered form of the next piece of the text to `out`.
  void process(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out);

 private:
  std::uint64_t leading_left_;  // bytes of the leading part not yet seen
};

}  // namespace tav::tools
