// Tests of the range coder pair: the decoder's arithmetic against worked
// values of the format, and encoder/decoder round trips driven with chosen
// frequencies (carries, runs of 0xFF, 0xFF-run resets, exhausted ranges).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <random>
#include <vector>

#include "range_decoder.h"
#include "range_encoder.h"

namespace {

using namespace tav;

using Bytes = std::vector<uint8_t>;
using Result = RangeEncoder::Result;

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---------------------------------------------------------------- decoder

TEST(RangeDecoderTest, Target) {
  struct Case {
    uint32_t code, range, want;
  };
  const Case cases[] = {
      {0x40000000, 0x80000000, 5000000},
      {0x12345678, 0xFFFFFFFF, 711111},
      {0, 0x1000000, 0},
      {0xFFFFFF, 0x1000000, 9999999},
      // Out of contract, but the quotient is truncated to 32 bits, not saturated.
      {0xFFFFFFFF, 1, 0xFF676980},
  };
  for (const Case& c : cases) {
    RangeDecoder d;
    d.code = c.code;
    d.range = c.range;
    EXPECT_EQ(d.target(), c.want) << std::hex << c.code << " / " << c.range;
  }
}

TEST(RangeDecoderTest, InitReadsEightBytes) {
  const Bytes f = {0x01, 0x02, 0x03, 0x04, 0x12, 0x34, 0x56, 0x78, 0x9A};
  RangeDecoder d;
  d.init(f);
  EXPECT_EQ(d.code, 0x12345678u);
  EXPECT_EQ(d.range, 0xFFFFFFFFu);
  EXPECT_EQ(d.bytes_read, 8u);
  EXPECT_EQ(d.past_end, 0u);
  EXPECT_EQ(d.target(), 711111u);
  EXPECT_EQ(d.next - f.data(), 8);
}

TEST(RangeDecoderTest, InitOnExhaustedFile) {
  const Bytes f = {};
  RangeDecoder d;
  d.init(f);
  EXPECT_EQ(d.code, 0xFFFFFFFFu);
  EXPECT_EQ(d.range, 0xFFFFFFFFu);
  EXPECT_EQ(d.ff_history & 0xFF, 0xFFu);
  EXPECT_EQ(d.bytes_read, 0u);
  EXPECT_EQ(d.past_end, 8u);
  EXPECT_TRUE(d.damaged());
  EXPECT_EQ(d.target(), FREQ_TOTAL);
}

// One decode_update from a given code and range; the stream continues with
// the bytes 5A 3C 11 77 ... after the eight that init reads.
TEST(RangeDecoderTest, Step) {
  struct Case {
    const char* name;
    uint32_t code, range, cum_low, freq;
    uint32_t want_code, want_range;
    uint64_t want_reads;
  };
  const uint32_t T = FREQ_TOTAL;
  // cum_low 0, freq T at range R+1 narrows to exactly R with code 1 - 1 = 0.
  const Case cases[] = {
      {"worked step", 0x12345678, 0xFFFFFFFF, 688446, 25498, 0x9489BE5A, 0xA71A8B00, 1},
      {"whole scale", 0x12345678, 0xFFFFFFFF, 0, T, 0x12345677, 0xFFFFFFFE, 0},
      {"width 0", 0x00900000, 0x1000000, 5000000, 1, 0xFF5A3C11, 0, 3},
      {"to 0x1000000", 1, 0x1000001, 0, T, 0, 0x1000000, 0},
      {"to 0xFFFFFF", 1, 0x1000000, 0, T, 0x5A, 0xFFFFFF00, 1},
      {"to 0x10000", 1, 0x10001, 0, T, 0x5A, 0x1000000, 1},
      {"to 0xFFFF", 1, 0x10000, 0, T, 0x5A3C, 0xFFFF0000, 2},
      {"to 0x100", 1, 0x101, 0, T, 0x5A3C, 0x1000000, 2},
      {"to 0xFF", 1, 0x100, 0, T, 0x5A3C11, 0xFF000000, 3},
      {"to 1", 1, 2, 0, T, 0x5A3C11, 0x1000000, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes head = {0, 0, 0, 0, uint8_t(c.code >> 24), uint8_t(c.code >> 16),
                        uint8_t(c.code >> 8), uint8_t(c.code)};
    const Bytes f = concat(head, {0x5A, 0x3C, 0x11, 0x77, 0x66, 0x55, 0x44});
    RangeDecoder d;
    d.init(f);
    d.range = c.range;
    ASSERT_TRUE(d.decode_update(c.cum_low, c.freq, T));
    EXPECT_EQ(d.code, c.want_code);
    EXPECT_EQ(d.range, c.want_range);
    EXPECT_EQ(d.bytes_read - 8, c.want_reads);
    EXPECT_EQ(d.resets, 0u);
    EXPECT_EQ(d.damaged(), c.want_range == 0 || c.want_code >= c.want_range);
  }
}

// The 0xFF-run rule: the stream's first 8 bytes are given, followed by
// 11 22 33 44 55 66 77; the step narrows to `narrowed` (code irrelevant).
TEST(RangeDecoderTest, FfRunReset) {
  struct Case {
    const char* name;
    Bytes head;
    uint32_t narrowed;
    uint64_t want_reads, want_resets;
    uint32_t want_range;
  };
  const Case cases[] = {
      {"bytes 2-5 tested", {0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}, 0xFFFFFF, 4, 1, 0xFF000000},
      {"test repeats", {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFF, 7, 2, 0xFF000000},
      {"after two bytes", {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}, 0xFFFF, 5, 1, 0xFF000000},
      {"after three bytes", {0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}, 0xFF, 6, 1, 0xFF000000},
      {"bytes in code do not count", {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFF, 1, 0, 0xFFFFFF00},
      {"run of three", {0, 0xFF, 0xFF, 0xFE, 0xFF, 0, 0, 0}, 0xFFFFFF, 1, 0, 0xFFFFFF00},
      {"first byte is never tested", {0xFF, 0, 0, 0, 0, 0, 0, 0}, 0xFFFF, 2, 0, 0xFFFF0000},
      {"byte 1 left after one read", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 0xFFFFFF, 1, 0, 0xFFFFFF00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes f = concat(c.head, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
    RangeDecoder d;
    d.init(f);
    d.code = 1;
    d.range = c.narrowed + 1;
    ASSERT_TRUE(d.decode_update(0, FREQ_TOTAL, FREQ_TOTAL));
    EXPECT_EQ(d.bytes_read - 8, c.want_reads);
    EXPECT_EQ(d.resets, c.want_resets);
    EXPECT_EQ(d.range, c.want_range);
  }
}

// Past the end of the file every byte is 0xFF, so a reset there repeats
// forever; decode_update must stop it at the first test whose bytes are all
// fillers (tests come after 9, 12, 15, ... bytes read), and not before.
TEST(RangeDecoderTest, EndlessResetStops) {
  struct Case {
    size_t ff_bytes;  // stream of this many 0xFF bytes ...
    Bytes tail;       // ... then these
    bool want_ok;
    uint64_t want_past_end;
  };
  const Case cases[] = {
      {0, {}, false, 9},
      {8, {}, false, 10},
      {10, {}, false, 8},
      {12, {}, false, 9},
      {40, {}, false, 8},
      {40, {0x00, 0x00, 0x00, 0x00}, true, 1},
      {7, {0x00}, true, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ff_bytes << " bytes 0xFF + " << c.tail.size());
    const Bytes stream = concat(Bytes(c.ff_bytes, 0xFF), c.tail);
    const Bytes f = stream;
    RangeDecoder d;
    d.init(f);
    d.code = 0;
    d.range = 0x1000000;
    EXPECT_EQ(d.decode_update(0, FREQ_TOTAL, FREQ_TOTAL), c.want_ok);
    EXPECT_EQ(d.bytes_read, stream.size());
    EXPECT_EQ(d.past_end, c.want_past_end);
    if (c.want_ok) {
      EXPECT_EQ(d.range, 0xFF000000u);
    }
  }
}

// ------------------------------------------------------------ round trips

struct Sym {
  uint32_t cum_low, freq;
};

struct Encoded {
  Result result = Result::ok;
  size_t failed_at = 0;  // index of the symbol whose encode failed
  Bytes file;
  uint64_t length = 0;
  uint64_t carries = 0, resets = 0;
};

Encoded encode_all(const std::vector<Sym>& syms, bool last_is_last = true) {
  Encoded e;
  tav::VectorSink sink;
  RangeEncoder enc(sink);
  for (size_t i = 0; i < syms.size(); ++i) {
    const bool last = last_is_last && i + 1 == syms.size();
    e.result = enc.encode(syms[i].cum_low, syms[i].freq, FREQ_TOTAL, last);
    if (e.result != Result::ok) {
      e.failed_at = i;
      break;
    }
  }
  if (e.result == Result::ok) e.result = enc.finish();
  e.file = sink.bytes;
  e.length = e.file.size();
  EXPECT_EQ(enc.bytes_written(), e.length);
  e.carries = enc.carries();
  e.resets = enc.resets();
  return e;
}

struct DecodeStats {
  uint64_t resets = 0;
  uint64_t repeated_resets = 0;  // steps in which the reset ran twice or more
  uint32_t final_range = 0;      // the decoder's range after the last symbol
};

// Decodes `syms` back from e.file and checks every symbol, the decoder's
// agreement with the encoder on resets, and that the decoder consumes exactly
// the stream.
testing::AssertionResult decodes_back(const Encoded& e, const std::vector<Sym>& syms,
                                      DecodeStats* stats = nullptr) {
  RangeDecoder d;
  d.init(e.file);
  for (size_t i = 0; i < syms.size(); ++i) {
    if (d.damaged())
      return testing::AssertionFailure() << "damaged state before symbol " << i;
    const uint32_t t = d.target();
    if (t < syms[i].cum_low || t - syms[i].cum_low >= syms[i].freq)
      return testing::AssertionFailure() << "symbol " << i << ": target " << t << " outside ["
                                         << syms[i].cum_low << ", +" << syms[i].freq << ")";
    const uint64_t before = d.resets;
    if (!d.decode_update(syms[i].cum_low, syms[i].freq, FREQ_TOTAL))
      return testing::AssertionFailure() << "endless reset at symbol " << i;
    if (stats && d.resets - before >= 2) ++stats->repeated_resets;
  }
  if (d.bytes_read != e.length)
    return testing::AssertionFailure() << "decoder read " << d.bytes_read << " of " << e.length
                                       << " stream bytes";
  if (d.bytes_read + d.past_end < e.length)
    return testing::AssertionFailure() << "stream longer than what the decoder reads";
  if (d.resets != e.resets)
    return testing::AssertionFailure() << "decoder reset " << d.resets << " times, encoder "
                                       << e.resets;
  if (stats) {
    stats->resets += d.resets;
    stats->final_range = d.range;
  }
  return testing::AssertionSuccess();
}

// A frequency table of `n` symbols summing to FREQ_TOTAL, each at least
// min_freq, with a few dominant symbols and many rare ones.
std::vector<uint32_t> random_table(std::mt19937_64& rng, int n, uint32_t min_freq) {
  std::vector<double> w(n);
  std::exponential_distribution<double> ex(1.0);
  for (double& x : w) x = std::pow(ex(rng), 4.0);
  double sum = 0;
  for (double x : w) sum += x;
  std::vector<uint32_t> f(n);
  uint64_t total = 0;
  const uint32_t spare = FREQ_TOTAL - min_freq * n;
  for (int i = 0; i < n; ++i) total += f[i] = min_freq + static_cast<uint32_t>(w[i] / sum * spare);
  f[std::uniform_int_distribution<int>(0, n - 1)(rng)] += FREQ_TOTAL - static_cast<uint32_t>(total);
  return f;
}

std::vector<Sym> random_table_symbols(std::mt19937_64& rng, size_t count) {
  const auto table = random_table(rng, 256, 2);
  std::vector<uint32_t> cum(257, 0);
  for (int i = 0; i < 256; ++i) cum[i + 1] = cum[i] + table[i];
  std::vector<Sym> syms;
  std::uniform_int_distribution<uint32_t> unit(0, FREQ_TOTAL - 1);
  std::uniform_int_distribution<int> any(0, 255);
  for (size_t k = 0; k < count; ++k) {
    // Half drawn by frequency (like real data), half uniformly (rare symbols
    // narrow the range fast and make many normalisations).
    int s;
    if (k % 2) {
      const uint32_t u = unit(rng);
      s = int(std::upper_bound(cum.begin(), cum.end(), u) - cum.begin()) - 1;
    } else {
      s = any(rng);
    }
    syms.push_back({cum[s], table[s]});
  }
  return syms;
}

// Bytes built to steer the coder into hard places: runs of 0xFF, FF FF FF FE
// just below a carry, 0x00 runs, random bytes.
Bytes crafted_stream(std::mt19937_64& rng, size_t pieces) {
  Bytes b(4, 0x00);
  std::uniform_int_distribution<int> kind(0, 5), len(1, 12), byte(0, 255);
  for (size_t p = 0; p < pieces; ++p) {
    switch (kind(rng)) {
      case 0:
        for (int i = len(rng); i > 0; --i) b.push_back(uint8_t(byte(rng)));
        break;
      case 1:
      case 2:
        b.insert(b.end(), size_t(len(rng)), 0xFF);
        break;
      case 3:
        b.insert(b.end(), {0xFF, 0xFF, 0xFF, 0xFE});
        b.insert(b.end(), size_t(len(rng)), 0xFF);
        break;
      case 4:
        b.insert(b.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x00});
        break;
      default:
        b.insert(b.end(), size_t(len(rng) % 4 + 1), 0x00);
        break;
    }
  }
  return b;
}

// The symbols that decode `stream` when each symbol is drawn around the
// decoder's target with a random width (at least 2, so no range reaches 0).
// Encoding them makes the encoder follow the bytes of `stream` closely.
std::vector<Sym> steered_symbols(std::mt19937_64& rng, const Bytes& stream, size_t count) {
  const Bytes f = stream;
  RangeDecoder d;
  d.init(f);
  std::vector<Sym> syms;
  std::uniform_int_distribution<int> scale(0, 3);
  while (syms.size() < count && !d.damaged() && d.past_end == 0) {
    const uint32_t t = d.target();
    static const uint32_t kMaxWidth[] = {20, 2000, 200000, FREQ_TOTAL};
    uint32_t b = std::uniform_int_distribution<uint32_t>(2, kMaxWidth[scale(rng)])(rng);
    uint32_t a = t - std::uniform_int_distribution<uint32_t>(0, b - 1)(rng) % (t + 1);
    if (a + b > FREQ_TOTAL) a = FREQ_TOTAL - b;
    if (t < a || t >= a + b) a = t;
    if (a + b > FREQ_TOTAL) b = FREQ_TOTAL - a;
    syms.push_back({a, b});
    if (!d.decode_update(a, b, FREQ_TOTAL)) break;
  }
  return syms;
}

// Symbols chosen against the encoder's own state: the interval's bottom is
// put just above an aim, which lies near 2^32 in the window (just below, for
// runs of 0xFF; just above, for carries; exactly 2^32 - 1, where a reset finds
// the window's top bytes 0xFF and repeats) or anywhere in the interval.
std::vector<Sym> aimed_symbols(std::mt19937_64& rng, size_t count) {
  tav::VectorSink sink;
  RangeEncoder enc(sink);
  std::vector<Sym> syms;
  std::uniform_int_distribution<int> how(0, 4);
  std::uniform_int_distribution<uint64_t> near(0, 0x200);
  constexpr uint64_t kTop = uint64_t{1} << 32;
  for (size_t k = 0; k < count; ++k) {
    const uint64_t low = enc.low(), r = enc.range();
    uint64_t aim;
    switch (how(rng)) {
      case 0: aim = kTop - 1 - near(rng); break;
      case 1: aim = kTop + near(rng); break;
      case 2: aim = kTop - 1; break;
      default: aim = low + std::uniform_int_distribution<uint64_t>(0, r - 1)(rng); break;
    }
    aim = std::clamp(aim, low, low + r - 1);
    const uint32_t t = std::min<uint32_t>(
        static_cast<uint32_t>((aim - low) * FREQ_TOTAL / r), FREQ_TOTAL - 2);
    // A width that leaves the range needing 0, 1, 2 or 3 bytes (roughly).
    const uint64_t width = uint64_t{1} << std::uniform_int_distribution<int>(2, 31)(rng);
    const uint32_t b = static_cast<uint32_t>(
        std::clamp<uint64_t>(width * FREQ_TOTAL / r, 2, FREQ_TOTAL - t));
    syms.push_back({t, b});
    if (enc.encode(t, b, FREQ_TOTAL, false) != Result::ok) break;
  }
  return syms;
}

TEST(RangeCoderRoundTrip, EmptyAndSingleSymbols) {
  const uint32_t T = FREQ_TOTAL;
  const std::vector<std::vector<Sym>> cases = {
      {},
      {{0, T}},
      {{0, 1}},
      {{T - 1, 1}},
      {{T / 2, 1}},
      {{T - 1, 1}, {T - 1, 1}, {T - 1, 1}},
      {{0, 1}, {0, 1}, {0, 1}},
  };
  for (const auto& syms : cases) {
    SCOPED_TRACE(testing::Message() << syms.size() << " symbols");
    const Encoded e = encode_all(syms);
    ASSERT_EQ(e.result, Result::ok);
    EXPECT_TRUE(decodes_back(e, syms));
  }
}

TEST(RangeCoderRoundTrip, RandomTables) {
  std::mt19937_64 rng(1);
  uint64_t bytes = 0, symbols = 0;
  for (int seq = 0; seq < 300; ++seq) {
    const auto syms = random_table_symbols(rng, 1 + seq * 7);
    const Encoded e = encode_all(syms);
    ASSERT_EQ(e.result, Result::ok) << "sequence " << seq;
    ASSERT_TRUE(decodes_back(e, syms)) << "sequence " << seq;
    bytes += e.length;
    symbols += syms.size();
  }
  RecordProperty("bytes", std::to_string(bytes));
  RecordProperty("symbols", std::to_string(symbols));
}

// Symbols steered along crafted byte strings: carries, long 0xFF runs,
// single and repeated resets, and FF FF FF FE followed by a carry.
TEST(RangeCoderRoundTrip, SteeredThroughCarriesAndFfRuns) {
  std::mt19937_64 rng(7);
  int with_carry = 0, with_reset = 0, with_repeat = 0, conflicts = 0, sequences = 0;
  for (int seq = 0; seq < 6000; ++seq) {
    const auto syms = seq % 2 ? steered_symbols(rng, crafted_stream(rng, 40), 400)
                              : aimed_symbols(rng, 400);
    const Encoded e = encode_all(syms);
    if (e.result == Result::carry_conflict) {
      // No stream is written, and the symbols before the one that caused the
      // carry still make a valid stream.
      ++conflicts;
      const std::vector<Sym> prefix(syms.begin(), syms.begin() + e.failed_at);
      const Encoded p = encode_all(prefix);
      ASSERT_EQ(p.result, Result::ok);
      ASSERT_TRUE(decodes_back(p, prefix));
      continue;
    }
    ASSERT_EQ(e.result, Result::ok) << "sequence " << seq;
    DecodeStats st;
    ASSERT_TRUE(decodes_back(e, syms, &st)) << "sequence " << seq;
    ++sequences;
    with_carry += e.carries > 0;
    with_reset += st.resets > 0;
    with_repeat += st.repeated_resets > 0;
  }
  std::printf("steered: %d sequences, %d with carries, %d with resets, %d with repeated resets, "
              "%d carry conflicts\n",
              sequences, with_carry, with_reset, with_repeat, conflicts);
  EXPECT_GT(with_carry, 0);
  EXPECT_GT(with_reset, 0);
  EXPECT_GT(with_repeat, 0);
  EXPECT_GT(conflicts, 0);
}

// A one-unit symbol at a range below 2 * FREQ_TOTAL can narrow to width 0.
// As a last symbol it still decodes; before another symbol the encoder must
// refuse, unless the 0xFF-run reset happens to restore the range.
TEST(RangeCoderRoundTrip, EmptyIntervalOnlyAsLastSymbol) {
  std::mt19937_64 rng(3);
  int exhausted = 0, rescued = 0;
  for (int attempt = 0; attempt < 400 && exhausted < 20; ++attempt) {
    // Random symbols until the range is small.
    tav::VectorSink sink;
    RangeEncoder enc(sink);
    std::vector<Sym> syms;
    while (enc.range() >= 2 * FREQ_TOTAL && syms.size() < 1000) {
      const uint32_t b = std::uniform_int_distribution<uint32_t>(2, 2u << (rng() % 22))(rng);
      const uint32_t a = std::uniform_int_distribution<uint32_t>(0, FREQ_TOTAL - b)(rng);
      syms.push_back({a, b});
      ASSERT_EQ(enc.encode(a, b, FREQ_TOTAL, false), Result::ok);
    }
    if (enc.range() >= 2 * FREQ_TOTAL) continue;
    // A one-unit symbol whose scaled bounds are one unit apart.
    const uint64_t r = enc.range();
    uint32_t a = std::uniform_int_distribution<uint32_t>(0, FREQ_TOTAL - 1)(rng);
    while (a + 1 < FREQ_TOTAL && (uint64_t{a} + 1) * r / FREQ_TOTAL != a * r / FREQ_TOTAL + 1) ++a;
    if (a + 1 >= FREQ_TOTAL) continue;
    syms.push_back({a, 1});

    const Encoded last = encode_all(syms, true);
    ASSERT_EQ(last.result, Result::ok);
    DecodeStats st;
    ASSERT_TRUE(decodes_back(last, syms, &st));

    const Encoded more = encode_all(syms, false);
    if (st.final_range == 0) {
      // The decoder could not compute another target: the encoder must say so.
      ++exhausted;
      EXPECT_EQ(more.result, Result::range_exhausted);
      EXPECT_EQ(more.failed_at, syms.size() - 1);
    } else {
      ++rescued;
      ASSERT_EQ(more.result, Result::ok);
      syms.push_back({0, FREQ_TOTAL / 2});
      const Encoded next = encode_all(syms);
      ASSERT_EQ(next.result, Result::ok);
      ASSERT_TRUE(decodes_back(next, syms));
    }
  }
  std::printf("width-0 symbols: %d left the range at 0, %d were rescued by a reset\n", exhausted,
              rescued);
  EXPECT_GT(exhausted, 0);
}

}  // namespace
