// Line numbering: appends a LineTag before every LF and drops every CR.
//
// LineTag: 5 bytes, each 0x10 plus one 4-bit digit of the line index modulo
// 2^20 (the index counts the LFs already written, from 0).  Most significant
// digit first, the tag is 0x10+bits 19..16, ..., 0x10+bits 3..0; least
// significant first it is the same 5 bytes reversed.  Bytes after the last
// LF get no tag.  All other bytes pass unchanged, 0x10..0x1F included.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tav::tools {

enum class DigitOrder { most_significant_first, least_significant_first };

inline constexpr std::uint32_t LINE_TAG_PERIOD = 1u << 20;
inline constexpr int LINE_TAG_LENGTH = 5;

class LineTagger {
 public:
  explicit LineTagger(DigitOrder order) : order_(order) {}

  // Appends the line-numbered form of `input` to `out`.  A text may be fed in
  // pieces of any size; the line index carries over.
  void process(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out);

 private:
  DigitOrder order_;
  std::uint32_t line_index_ = 0;  // kept modulo LINE_TAG_PERIOD
};

}  // namespace tav::tools
