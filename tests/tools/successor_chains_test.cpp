// The inverse sort: worked examples and round trips through both sorts.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "context_sort.h"
#include "line_tagging.h"
#include "successor_chains.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t LF = 0x0A;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes unsort(const Bytes& sorted) {
  Bytes out;
  unsort_context_text(sorted, [&](std::span<const std::uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
  return out;
}

Bytes sort_text(const Bytes& t, ContextOrder order) {
  Bytes out;
  for (const auto p : context_sorted_positions<std::int32_t>(t, order)) out.push_back(t[p]);
  return out;
}

TEST(ContextUnsort, WorkedExamples) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"abc", ""},                  // no LF, no chain
      {"\n\n\n\n", "\n\n\n\n"},     // every LF its own successor
      {"bax\n\n\n", "b\na\nx\n"},   // line-bounded sort of b a x lines
      {"bxa\n\n\n", "b\nx\na\n"},   // unbounded sort: lines in the order of their first bytes
      {"aabb\n\n", "ab\nab\n"},
  };
  for (const auto& [sorted, expected] : cases) EXPECT_EQ(unsort(bytes_of(sorted)), bytes_of(expected)) << sorted;
}

Bytes random_lines(std::mt19937& rng, int lines, int max_length, int alphabet) {
  Bytes t;
  for (int l = 0; l < lines; ++l) {
    const int length = std::uniform_int_distribution<int>(0, max_length)(rng);
    for (int i = 0; i < length; ++i) {
      std::uint8_t c = static_cast<std::uint8_t>(alphabet == 256 ? rng() : 'a' + rng() % alphabet);
      if (c == LF) c = 0x0B;
      t.push_back(c);
    }
    t.push_back(LF);
  }
  return t;
}

// Any text that ends with LF comes back from its line-bounded sort, for every
// byte value; this needs the inverse to rank 0x80..0xFF below 0x00.
TEST(ContextUnsort, LineBoundedRoundTrip) {
  std::mt19937 rng(11);
  std::vector<Bytes> texts{{}, {LF}, Bytes(100, LF)};
  Bytes all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<std::uint8_t>(c));
  all.push_back(LF);
  texts.push_back(all);
  for (int rep = 0; rep < 60; ++rep)
    texts.push_back(random_lines(rng, 1 + rep * 3, rep % 5 == 0 ? 2000 : 40, rep % 2 ? 256 : 3));
  // Many short lines keep the side-by-side chains busy; one very long line
  // holds up the window.
  texts.push_back(random_lines(rng, 200000, 30, 4));
  Bytes mixed = random_lines(rng, 5000, 20, 256);
  const Bytes long_line = random_lines(rng, 1, 300000, 256);
  mixed.insert(mixed.begin() + 1000, long_line.begin(), long_line.end());
  mixed.insert(mixed.begin(), {'x', LF});
  texts.push_back(mixed);
  for (const auto& t : texts) ASSERT_EQ(unsort(sort_text(t, ContextOrder::line_bounded)), t) << "length " << t.size();
}

// Least-significant-first line tags put the LFs in line order, so the
// unbounded sort of a tagged text comes back as well.
TEST(ContextUnsort, UnboundedRoundTripOfTaggedText) {
  std::mt19937 rng(12);
  for (int rep = 0; rep < 30; ++rep) {
    const Bytes raw = random_lines(rng, 1 + rep * 50, rep % 3 ? 30 : 300, rep % 2 ? 256 : 2);
    Bytes tagged;
    LineTagger(DigitOrder::least_significant_first).process(raw, tagged);
    ASSERT_EQ(unsort(sort_text(tagged, ContextOrder::unbounded)), tagged) << "rep " << rep;
  }
}

// Input that no sort produced still ends, writes no byte twice and writes
// only whole chains ending in LF.
TEST(ContextUnsort, ArbitraryInputEndsAndNeverGrows) {
  std::mt19937 rng(13);
  for (int rep = 0; rep < 200; ++rep) {
    Bytes t(rng() % 3000);
    for (auto& c : t) c = static_cast<std::uint8_t>(rng() % 4 == 0 ? LF : rng());
    const Bytes out = unsort(t);
    ASSERT_LE(out.size(), t.size());
    if (!out.empty()) {
      ASSERT_EQ(out.back(), LF);
    }
  }
  const Bytes no_final_lf = bytes_of("ab\ncd");
  const Bytes out = unsort(sort_text(no_final_lf, ContextOrder::line_bounded));
  EXPECT_NE(out, no_final_lf);
  EXPECT_LE(out.size(), no_final_lf.size());
}

}  // namespace
