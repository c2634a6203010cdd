// The suffix-array sort against a plain comparison sort that follows the
// order's definition byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "context_sort.h"
#include "reference_sort.h"

using namespace tav::tools;

using reference::line_less;
using reference::reference_positions;
using reference::unbounded_less;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int LF = 0x0A;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

template <class Index>
std::vector<std::int64_t> fast_positions(const Bytes& t, ContextOrder order) {
  const auto p = context_sorted_positions<Index>(t, order);
  return std::vector<std::int64_t>(p.begin(), p.end());
}

Bytes sorted_text(const Bytes& t, ContextOrder order) {
  Bytes out;
  for (const auto p : context_sorted_positions<std::int32_t>(t, order)) out.push_back(t[p]);
  return out;
}

struct WorkedExample {
  std::string text, line_bounded, unbounded;
};

TEST(ContextSort, WorkedExamples) {
  const WorkedExample cases[] = {
      {"", "", ""},
      {"q", "q", "q"},
      {"\x62\x61\x0A\xE9\x61\x0A", "\x61\x62\xE9\x0A\x0A\x61", "\x61\x62\xE9\x0A\x0A\x61"},
      {"\x62\x0A\x61\x0A\x78\x0A", "\x62\x61\x78\x0A\x0A\x0A", "\x62\x78\x61\x0A\x0A\x0A"},
      {"ab\nab\n", "aabb\n\n", "aabb\n\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sorted_text(bytes_of(c.text), ContextOrder::line_bounded), bytes_of(c.line_bounded)) << c.text;
    EXPECT_EQ(sorted_text(bytes_of(c.text), ContextOrder::unbounded), bytes_of(c.unbounded)) << c.text;
  }
  const auto tied = context_sorted_positions<std::int32_t>(bytes_of("ab\nab\n"), ContextOrder::line_bounded);
  EXPECT_EQ(std::vector<std::int32_t>(tied.begin(), tied.end()), (std::vector<std::int32_t>{0, 3, 1, 4, 2, 5}));
}

// Inputs that stress ties, long equal stretches, the start of the text and
// the bytes that rank next to LF or flip sign.
std::vector<Bytes> adversarial_inputs(std::mt19937& rng) {
  std::vector<Bytes> in;
  in.push_back({});
  in.push_back({LF});
  in.push_back({0x80});
  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);
  in.push_back(all);
  in.push_back(Bytes(all.rbegin(), all.rend()));
  in.push_back(Bytes(300, 'a'));
  in.push_back(Bytes(300, LF));
  in.push_back(Bytes(300, 0xFF));
  std::string s;
  for (int i = 0; i < 40; ++i) s += "same line\n";
  in.push_back(bytes_of(s));
  in.push_back(bytes_of(s.substr(0, s.size() - 1)));  // no final LF
  s.clear();
  for (int i = 0; i < 30; ++i) s += std::string(i % 7, 'a') + "\n" + std::string(7 - i % 7, 'a');
  in.push_back(bytes_of(s));
  s.clear();
  for (int i = 1; i < 25; ++i) s += std::string(i, 'x') + "\n";
  in.push_back(bytes_of(s));
  in.push_back(bytes_of("abababababababababababababab"));
  in.push_back(bytes_of("\n\nab\n\nab\n\n\nab"));
  for (const int alphabet_size : {2, 3, 4}) {
    const std::uint8_t alphabet[] = {LF, 'a', 0x09, 0x80};
    for (int rep = 0; rep < 30; ++rep) {
      Bytes t(std::uniform_int_distribution<int>(1, 400)(rng));
      for (auto& c : t) c = alphabet[std::uniform_int_distribution<int>(0, alphabet_size - 1)(rng)];
      in.push_back(t);
    }
  }
  for (int rep = 0; rep < 40; ++rep) {
    Bytes t(std::uniform_int_distribution<int>(0, 1500)(rng));
    for (auto& c : t) c = static_cast<std::uint8_t>(rng());
    in.push_back(t);
  }
  for (int rep = 0; rep < 20; ++rep) {  // lines drawn from a few variants of one prefix
    Bytes t;
    const int lines = std::uniform_int_distribution<int>(1, 60)(rng);
    for (int l = 0; l < lines; ++l) {
      const std::string line = std::string("prefix") + std::string(rng() % 3, "abc"[rng() % 3]);
      t.insert(t.end(), line.begin(), line.end());
      t.push_back(LF);
    }
    in.push_back(t);
  }
  return in;
}

TEST(ContextSort, MatchesComparisonSortOnAdversarialAndRandomInputs) {
  std::mt19937 rng(20240531);
  for (const auto& t : adversarial_inputs(rng)) {
    for (const auto order : {ContextOrder::line_bounded, ContextOrder::unbounded}) {
      const auto expected = reference_positions(t, order);
      ASSERT_EQ(fast_positions<std::int32_t>(t, order), expected)
          << "order " << int(order) << ", length " << t.size();
      ASSERT_EQ(fast_positions<std::int64_t>(t, order), expected)
          << "64-bit, order " << int(order) << ", length " << t.size();
    }
  }
}

// Large enough for the predecessor table to be built in several slices and
// for a quadratic tie search to show; checked pairwise against the reference
// comparison rather than by a full reference sort.
TEST(ContextSort, LargeRepetitiveTextIsOrderedPairwise) {
  std::mt19937 rng(7);
  Bytes t;
  while (t.size() < (1u << 23) + 12345) {
    const std::string line = "the same long line of text " + std::string(rng() % 4, 'z');
    t.insert(t.end(), line.begin(), line.end());
    t.push_back(LF);
  }
  for (const auto order : {ContextOrder::line_bounded, ContextOrder::unbounded}) {
    const auto pos = context_sorted_positions<std::int32_t>(t, order);
    ASSERT_EQ(pos.size(), t.size());
    std::vector<bool> seen(t.size());
    for (const auto p : pos) {
      ASSERT_FALSE(seen[p]);
      seen[p] = true;
    }
    const auto less = order == ContextOrder::line_bounded ? line_less : unbounded_less;
    for (std::size_t k = 1; k < pos.size(); ++k) ASSERT_TRUE(less(t, pos[k - 1], pos[k])) << "at " << k;
  }
}

}  // namespace
