#include "line_tagging.h"

namespace tav::tools {

namespace {
constexpr std::uint8_t LF = 0x0A;
constexpr std::uint8_t CR = 0x0D;
}  // namespace

void LineTagger::process(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out) {
  // Reserve the worst case (every byte a LF) and write through a pointer;
  // this loop is the whole cost of the program.
  const std::size_t old_size = out.size();
  out.resize(old_size + input.size() * (LINE_TAG_LENGTH + 1));
  std::uint8_t* w = out.data() + old_size;
  for (const std::uint8_t c : input) {
    if (c != LF && c != CR) {
      *w++ = c;
    } else if (c == LF) {
      const std::uint32_t i = line_index_;
      if (order_ == DigitOrder::most_significant_first) {
        for (int shift = 16; shift >= 0; shift -= 4) *w++ = static_cast<std::uint8_t>(0x10 + ((i >> shift) & 0x0F));
      } else {
        for (int shift = 0; shift <= 16; shift += 4) *w++ = static_cast<std::uint8_t>(0x10 + ((i >> shift) & 0x0F));
      }
      *w++ = LF;
      line_index_ = (i + 1) % LINE_TAG_PERIOD;
    }
  }
  out.resize(static_cast<std::size_t>(w - out.data()));
}

}  // namespace tav::tools
