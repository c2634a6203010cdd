// Line numbering: worked tags, CR removal, the untagged last line, feeding in
// pieces and the wrap of the tag after 2^20 lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "line_tagging.h"

using namespace tav::tools;

namespace {

using Bytes = std::vector<std::uint8_t>;
const auto MSB = DigitOrder::most_significant_first;
const auto LSB = DigitOrder::least_significant_first;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes number(const Bytes& in, DigitOrder order, std::size_t piece = SIZE_MAX) {
  LineTagger tagger(order);
  Bytes out;
  for (std::size_t at = 0; at < in.size(); at += std::min(piece, in.size() - at))
    tagger.process({in.data() + at, std::min(piece, in.size() - at)}, out);
  return out;
}

struct Case {
  std::string in, msb, lsb;
};

TEST(LineNumbering, WorkedExamplesAndEdgeCases) {
  const std::string T0 = "\x10\x10\x10\x10\x10";
  const Case cases[] = {
      {"", "", ""},
      {"a\rb\r", "ab", "ab"},  // no LF: CRs go, no tag
      {"ab\r\ncd\r\nx", "ab" + T0 + "\ncd\x10\x10\x10\x10\x11\nx", "ab" + T0 + "\ncd\x11\x10\x10\x10\x10\nx"},
      {"\n\n", T0 + "\n\x10\x10\x10\x10\x11\n", T0 + "\n\x11\x10\x10\x10\x10\n"},
      {"a\rb\n", "ab" + T0 + "\n", "ab" + T0 + "\n"},
      {"\r\r\n", T0 + "\n", T0 + "\n"},
      {"\x10\x1F\x80\xFF\n", "\x10\x1F\x80\xFF" + T0 + "\n", "\x10\x1F\x80\xFF" + T0 + "\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(number(bytes_of(c.in), MSB), bytes_of(c.msb)) << c.in;
    EXPECT_EQ(number(bytes_of(c.in), LSB), bytes_of(c.lsb)) << c.in;
  }
}

// The tag of line i is the 5 bytes before the (i+1)-th LF of the output.
Bytes tag_of_line(const Bytes& out, std::size_t line) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < out.size(); ++i)
    if (out[i] == '\n' && seen++ == line) return Bytes(out.begin() + i - 5, out.begin() + i);
  return {};
}

TEST(LineNumbering, TagDigitsAndWrapAfterTwoToTheTwentyLines) {
  const Bytes in((1u << 20) + 2, '\n');
  const Bytes msb = number(in, MSB, 65536), lsb = number(in, LSB, 65536);
  ASSERT_EQ(msb.size(), in.size() * 6);
  const struct {
    std::size_t line;
    Bytes msb;
  } tags[] = {
      {0, {0x10, 0x10, 0x10, 0x10, 0x10}},       {1, {0x10, 0x10, 0x10, 0x10, 0x11}},
      {26, {0x10, 0x10, 0x10, 0x11, 0x1A}},      {291, {0x10, 0x10, 0x11, 0x12, 0x13}},
      {1048575, {0x1F, 0x1F, 0x1F, 0x1F, 0x1F}}, {1048576, {0x10, 0x10, 0x10, 0x10, 0x10}},
      {1048577, {0x10, 0x10, 0x10, 0x10, 0x11}},
  };
  for (const auto& t : tags) {
    EXPECT_EQ(tag_of_line(msb, t.line), t.msb) << "line " << t.line;
    EXPECT_EQ(tag_of_line(lsb, t.line), Bytes(t.msb.rbegin(), t.msb.rend())) << "line " << t.line;
  }
}

// Pieces of any size give the same output, and the two digit orders differ
// only by each tag being reversed.
TEST(LineNumbering, PiecesAndDigitOrdersAgree) {
  std::mt19937 rng(5);
  Bytes in(5000);
  for (auto& c : in) c = static_cast<std::uint8_t>(rng() % 3 == 0 ? "\n\r"[rng() % 2] : rng());
  const Bytes msb = number(in, MSB), lsb = number(in, LSB);
  for (const std::size_t piece : {1, 2, 5, 6, 7, 4096}) {
    EXPECT_EQ(number(in, MSB, piece), msb) << piece;
    EXPECT_EQ(number(in, LSB, piece), lsb) << piece;
  }
  ASSERT_EQ(msb.size(), lsb.size());
  Bytes flipped = msb;
  for (std::size_t i = 0; i < flipped.size(); ++i)
    if (flipped[i] == '\n') std::reverse(flipped.begin() + i - 5, flipped.begin() + i);
  EXPECT_EQ(flipped, lsb);
}

}  // namespace
