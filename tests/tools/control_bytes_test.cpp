// Control filter: the worked examples, fed whole and in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "control_bytes.h"

using namespace tav::tools;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes filter(const Bytes& in, std::size_t piece) {
  ControlFilter f(count_control_bytes(in));
  Bytes out;
  for (std::size_t at = 0; at < in.size(); at += std::min(piece, in.size() - at))
    f.process({in.data() + at, std::min(piece, in.size() - at)}, out);
  return out;
}

TEST(ControlFilter, WorkedExamplesInAnyPieces) {
  Bytes only_control(64);
  for (std::size_t i = 0; i < only_control.size(); ++i) only_control[i] = static_cast<std::uint8_t>(i % 32);
  const std::pair<Bytes, Bytes> cases[] = {
      {{}, {}},
      {bytes_of(" plain text, \x7F\x80\xFF kept"), bytes_of(" plain text, \x7F\x80\xFF kept")},
      {only_control, {}},
      {bytes_of("ab\ncd\n"), bytes_of("ab\ncd\n")},
      {bytes_of("\n\nab\n"), bytes_of("ab\n")},
      {bytes_of("\tA\r\nB"), bytes_of("A\nB")},
      {bytes_of("ABC\r\n"), bytes_of("ABC\n\n")},
      {bytes_of("\x01 a\x7F\x02"), bytes_of(" a\x7F\n")},  // space and DEL are no control bytes
      {bytes_of("\x10\x11x\x1Fyz"), bytes_of("x\nyz")},  // first control byte past the leading part
  };
  for (const auto& [in, expected] : cases)
    for (const std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(3), SIZE_MAX})
      EXPECT_EQ(filter(in, piece), expected) << std::string(in.begin(), in.end()) << " piece " << piece;
}

TEST(ControlFilter, CountsOnlyBytesBelowSpace) {
  Bytes all(256);
  for (int c = 0; c < 256; ++c) all[c] = static_cast<std::uint8_t>(c);
  EXPECT_EQ(count_control_bytes(all), 32u);
}

}  // namespace
