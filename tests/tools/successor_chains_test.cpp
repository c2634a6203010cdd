// The inverse sort: worked examples and round trips through both sorts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "context_sort.h"
#include "line_tagging.h"
#include "successor_chains.h"

using namespace tav::tools;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t LF = 0x0A;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// threads 0: as many as the machine has.
Bytes unsort(const Bytes& sorted, unsigned threads = 0) {
  Bytes out;
  unsort_context_text(
      sorted, [&](std::span<const std::uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); }, threads);
  return out;
}

Bytes unsort_wide(const Bytes& sorted) {
  Bytes out;
  unsort_context_text_wide(sorted, [&](std::span<const std::uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
  return out;
}

// The inverse as plainly as it can be written: the successor table from
// counts (bytes ranked as signed values), then one chain at a time, one byte
// per step.
Bytes reference_unsort(const Bytes& t) {
  const std::size_t n = t.size();
  std::vector<std::size_t> successor(n), count(256, 0);
  for (std::size_t i = 0; i < n; ++i) successor[i] = count[t[i]]++;
  std::size_t total = 0;
  for (int v = -128; v < 128; ++v) {
    const std::uint8_t c = static_cast<std::uint8_t>(v);
    const std::size_t k = count[c];
    count[c] = total;
    total += k;
  }
  for (std::size_t i = 0; i < n; ++i) successor[i] += count[t[i]];
  Bytes out;
  for (std::size_t j = 0; j < n; ++j) {
    if (t[j] != LF) continue;
    std::size_t p = j;
    do {
      p = successor[p];
      out.push_back(t[p]);
    } while (t[p] != LF);
  }
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

// Inputs that stress the four-bytes-per-step table and the side-by-side
// chains: every byte value, every line length around the step of four, long
// runs (the counting passes split the text in two halves), cycles of the
// successor table without a LF, lines longer than the window of chains.
std::vector<Bytes> adversarial_inputs() {
  std::mt19937 rng(14);
  std::vector<Bytes> inputs{{}, {LF}, {'a'}, {0x80}, {0xFF}, {LF, LF}, {'a', LF}, {LF, 'a'}};
  for (int c = 0; c < 256; ++c) {
    inputs.push_back({static_cast<std::uint8_t>(c)});
    inputs.push_back({static_cast<std::uint8_t>(c), LF});
    inputs.push_back({LF, static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c ^ 0x80)});
  }
  Bytes all;
  for (int c = 255; c >= 0; --c) all.push_back(static_cast<std::uint8_t>(c));
  inputs.push_back(all);
  inputs.push_back(Bytes(1000, LF));
  inputs.push_back(Bytes(1001, 'x'));  // no LF: nothing comes out
  Bytes runs;                          // long runs of equal bytes, odd length
  for (int r = 0; r < 40; ++r) runs.insert(runs.end(), 1 + rng() % 300, r % 3 == 0 ? LF : static_cast<std::uint8_t>(rng()));
  inputs.push_back(runs);
  // Texts sorted by the line-bounded order, so that chains are the lines:
  // every length from 0 to 40 around the step of four, and one line far
  // longer than the window of chains with short lines on both sides.
  for (int length = 0; length <= 40; ++length) {
    Bytes text;
    for (int line = 0; line < 3; ++line) {
      for (int i = 0; i < length + line; ++i) text.push_back(static_cast<std::uint8_t>('a' + rng() % 3));
      text.push_back(LF);
    }
    inputs.push_back(sort_text(text, ContextOrder::line_bounded));
  }
  Bytes long_line = random_lines(rng, 2000, 6, 256);
  const Bytes one = random_lines(rng, 1, 100000, 256);
  long_line.insert(long_line.begin() + 5000, one.begin(), one.end());
  inputs.push_back(sort_text(long_line, ContextOrder::line_bounded));
  // Arbitrary bytes: the successor table has cycles with and without LFs.
  for (int rep = 0; rep < 300; ++rep) {
    Bytes t(rng() % 5000);
    const int lf_odds = 1 + rep % 50;
    for (auto& c : t) c = static_cast<std::uint8_t>(rng() % lf_odds == 0 ? LF : rng() % (rep % 2 ? 256 : 4));
    inputs.push_back(t);
  }
  return inputs;
}

// Both ways of following the chains write exactly what the plain walk writes,
// however many threads share the lines (more threads than lines included).
TEST(ContextUnsort, MatchesOneChainAtATime) {
  const auto inputs = adversarial_inputs();
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const Bytes expected = reference_unsort(inputs[i]);
    for (const unsigned threads : {1u, 2u, 3u, 7u})
      ASSERT_EQ(unsort(inputs[i], threads), expected)
          << "input " << i << ", length " << inputs[i].size() << ", threads " << threads;
    ASSERT_EQ(unsort_wide(inputs[i]), expected) << "input " << i << ", length " << inputs[i].size();
  }
}

// A sink that fails stops the whole inverse with its error, the threads that
// follow later lines included.
TEST(ContextUnsort, SinkFailureStopsEveryThread) {
  std::mt19937 rng(16);
  const Bytes sorted = sort_text(random_lines(rng, 100000, 40, 256), ContextOrder::line_bounded);
  for (const unsigned threads : {1u, 4u}) {
    int calls = 0;
    auto failing = [&](std::span<const std::uint8_t>) {
      if (++calls == 2) throw std::runtime_error("disk full");
    };
    EXPECT_THROW(unsort_context_text(sorted, failing, threads), std::runtime_error);
    EXPECT_EQ(calls, 2);
  }
}

// A text large enough that many chains run side by side for long and the
// output crosses many blocks, with lines of all lengths and all byte values.
TEST(ContextUnsort, MatchesOneChainAtATimeOnLargeText) {
  std::mt19937 rng(15);
  Bytes text;
  while (text.size() < 3000000) {
    const Bytes part = random_lines(rng, 100, rng() % 4 == 0 ? 200 : 12, rng() % 2 ? 256 : 5);
    text.insert(text.end(), part.begin(), part.end());
  }
  const Bytes sorted = sort_text(text, ContextOrder::line_bounded);
  const Bytes expected = reference_unsort(sorted);
  ASSERT_EQ(expected, text);  // the reference itself restores the text
  for (const unsigned threads : {1u, 2u, 5u}) EXPECT_EQ(unsort(sorted, threads), expected) << threads;
  Bytes shuffled = sorted;    // any permutation of bytes, cycles and all
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  const Bytes expected_shuffled = reference_unsort(shuffled);
  for (const unsigned threads : {1u, 3u}) EXPECT_EQ(unsort(shuffled, threads), expected_shuffled) << threads;
}

}  // namespace
