// The long-range stage: whole runs through encode, section, parse and
// rebuild; the copy step's overlapping copies; and a table of damaged
// sections, each of which must come back as its fault at its offset.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

#include "long_range.h"

namespace tav {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct RunResult {
  uint64_t copied = 0;
  uint64_t section_bytes = 0;
  uint64_t max_distance = 0;
};

// Encodes `text` cut at `cuts` (block lengths; the rest is one last block),
// checks what the encoder promises, rebuilds it and compares.
RunResult round_trip(const Bytes& text, std::vector<size_t> cuts, const LongRangeSettings& s) {
  RunResult res;
  EXPECT_EQ(check_settings(s), LongRangeSettingsFault::none);
  LongRangeEncoder enc(s);
  LongRangeDecoder dec(s.window_bytes);
  size_t at = 0;
  cuts.push_back(text.size());
  for (size_t cut : cuts) {
    size_t n = std::min(cut, text.size() - at);
    std::span<const uint8_t> block(text.data() + at, n);
    LongRangeBlock b = enc.encode_block(block);
    uint64_t covered = b.literals.size();
    for (const Reference& r : b.references) {
      EXPECT_GE(r.length, s.min_match);
      EXPECT_LE(r.distance, s.window_bytes);
      covered += r.length;
      res.copied += r.length;
      res.max_distance = std::max(res.max_distance, r.distance);
    }
    EXPECT_EQ(covered, n);
    Bytes section = write_section(b.references, s.window_bytes, n);
    res.section_bytes += section.size();
    auto out = dec.decode_block(section, b.literals);
    EXPECT_EQ(out.damage.fault, SectionFault::none) << describe(out.damage.fault);
    EXPECT_TRUE(std::equal(out.text.begin(), out.text.end(), block.begin(), block.end()))
        << "block at " << at;
    at += n;
  }
  return res;
}

LongRangeSettings settings(LongRangeMethod m, uint64_t window) {
  LongRangeSettings s;
  s.method = m;
  s.window_bytes = window;
  s.min_match = 64;
  s.chunk_log = 10;
  s.chunk_extend = true;
  return s;
}

class RoundTrip : public ::testing::TestWithParam<LongRangeMethod> {};

TEST_P(RoundTrip, RepeatsAcrossBlocksAndEmptyBlocks) {
  Bytes a = random_bytes(40000, 1), b = random_bytes(30000, 2);
  Bytes text = cat({a, b, a, b, a});
  // Blocks of every kind: cut inside the repeats, empty ones between.
  auto r = round_trip(text, {0, 25000, 0, 50000, 1, 0, 33333}, settings(GetParam(), 1 << 20));
  EXPECT_GT(r.copied, 100000u);
}

TEST_P(RoundTrip, NoRepeatsCostAFewBytes) {
  Bytes text = random_bytes(300000, 3);
  auto r = round_trip(text, {100000, 100000}, settings(GetParam(), 1 << 20));
  EXPECT_EQ(r.copied, 0u);
  EXPECT_EQ(r.section_bytes, 3u * 5u);  // 01, window 2^20 in 3 bytes, 00
}

TEST_P(RoundTrip, WindowEdges) {
  // The second copy of `a` lies 50000 bytes after the first: a window of
  // exactly 50000 may reach it, a window one byte shorter may not.
  Bytes a = random_bytes(20000, 4), gap = random_bytes(30000, 5);
  Bytes text = cat({a, gap, a});
  auto inside = round_trip(text, {30000}, settings(GetParam(), 50000));
  EXPECT_GE(inside.copied, 15000u);
  EXPECT_EQ(inside.max_distance, 50000u);
  auto outside = round_trip(text, {30000}, settings(GetParam(), 49999));
  EXPECT_LE(outside.max_distance, 49999u);
}

TEST(LongRange, OverlappingRunsAreFound) {
  // A short pattern repeated: references shorter in distance than length.
  Bytes text = random_bytes(1000, 6);
  for (int i = 0; i < 5000; ++i) text.insert(text.end(), {'a', 'b', 'c'});
  auto s = settings(LongRangeMethod::anchors, 1 << 20);
  s.min_match = 32;
  s.hash_bytes = 16;
  s.anchor_log = 0;  // a period of 3 has 3 hashes, maybe none an anchor at other rates
  auto r = round_trip(text, {7000}, s);
  EXPECT_GT(r.copied, 13000u);
}

INSTANTIATE_TEST_SUITE_P(Methods, RoundTrip,
                         ::testing::Values(LongRangeMethod::anchors, LongRangeMethod::chunks));

TEST(LongRange, CopiesOverlapByteByByte) {
  for (uint8_t d : {1, 2, 3}) {
    Bytes section = {1, 100, 1, 10, 3, d, 7};
    Bytes lits = {'x', 'y', 'z'};
    LongRangeDecoder dec;
    auto out = dec.decode_block(section, lits);
    ASSERT_EQ(out.damage.fault, SectionFault::none);
    std::string got(out.text.begin(), out.text.end());
    std::string want = "xyz";
    for (int i = 0; i < 7; ++i) want += want[want.size() - d];
    EXPECT_EQ(got, want);
  }
}

// A valid section: window 100, two references, text 20 bytes from 11
// literals.  Field offsets: version 0, window 1, count 2, text_bytes 3,
// then literals/distance/length at 4/5/6 and 7/8/9.
const Bytes GOOD = {1, 100, 2, 20, 2, 2, 6, 1, 0, 3};

struct Damage {
  const char* what;
  Bytes section;
  uint64_t literal_count;
  uint64_t run_position;
  SectionFault fault;
  uint64_t offset;
};

Bytes with(size_t at, uint8_t v) {
  Bytes b = GOOD;
  b[at] = v;
  return b;
}

TEST(LongRange, DamagedSectionsAreFaults) {
  const Damage cases[] = {
      {"intact", GOOD, 11, 0, SectionFault::none, 0},
      {"intact, later in the run", with(5, 3), 11, 1, SectionFault::none, 0},
      {"empty", {}, 11, 0, SectionFault::cut_short, 0},
      {"version", with(0, 2), 11, 0, SectionFault::bad_version, 0},
      {"window 0", with(1, 0), 11, 0, SectionFault::bad_window, 1},
      {"window over 2^40", {1, 0x81, 0x80, 0x80, 0x80, 0x80, 0x40, 0}, 0, 0, SectionFault::bad_window, 1},
      {"varint of 11 bytes", {1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 1, 0}, 0, 0,
       SectionFault::varint_too_long, 1},
      {"count too large", with(2, 3), 11, 0, SectionFault::too_many_references, 2},
      {"first distance repeated", with(5, 0), 11, 0, SectionFault::no_previous_distance, 5},
      {"distance beyond window", with(5, 101), 11, 1000, SectionFault::distance_beyond_window, 5},
      {"distance before the run", with(5, 3), 11, 0, SectionFault::distance_before_start, 5},
      {"length 0", with(6, 0), 11, 0, SectionFault::zero_length, 6},
      {"length past the block", with(6, 19), 11, 0, SectionFault::length_past_block, 6},
      {"literals beyond those decoded", with(4, 12), 11, 0, SectionFault::literals_overrun, 4},
      {"literals past the block", with(3, 1), 11, 0, SectionFault::literal_count_mismatch, 4},
      {"text_bytes too large", with(3, 21), 11, 0, SectionFault::literal_count_mismatch, 3},
      {"one literal too many", GOOD, 12, 0, SectionFault::literal_count_mismatch, 3},
      {"cut in the last field", Bytes(GOOD.begin(), GOOD.end() - 1), 11, 0, SectionFault::too_many_references, 2},
      {"last varint unfinished", with(9, 0x83), 11, 0, SectionFault::cut_short, 9},
      {"trailing byte", cat({GOOD, {0}}), 11, 0, SectionFault::trailing_bytes, 10},
      {"trailing byte, no references", {1, 100, 0, 7}, 11, 0, SectionFault::trailing_bytes, 3},
  };
  for (const Damage& c : cases) {
    ParsedSection p = parse_section(c.section, c.literal_count, c.run_position);
    EXPECT_EQ(p.damage, (SectionDamage{c.fault, c.offset})) << c.what << ": " << describe(p.damage.fault);
  }
}

TEST(LongRange, EveryCutAndByteChangeIsHandled) {
  // Each prefix of a section with references is a fault; each changed byte
  // is a fault or a block of the stated length (never a read outside).
  Bytes lits(11, 'q');
  for (size_t n = 0; n < GOOD.size(); ++n) {
    EXPECT_NE(parse_section(std::span(GOOD).first(n), 11, 0).damage.fault, SectionFault::none) << n;
  }
  for (size_t at = 0; at < GOOD.size(); ++at) {
    for (int v = 0; v < 256; ++v) {
      LongRangeDecoder dec;
      auto out = dec.decode_block(with(at, static_cast<uint8_t>(v)), lits);
      if (out.damage.fault == SectionFault::none) {
        EXPECT_GT(out.text.size(), 0u);
      }
    }
  }
}

// The index gives the same answers before and after its slots move from the
// map into the table (64 of 4096 slots used), as a plain table would.
TEST(LongRange, AnchorTableAnswersAsAPlainTable) {
  AnchorTable table(12);
  std::vector<uint32_t> plain(4096, 0);
  std::mt19937 rng(7);
  for (uint32_t i = 1; i <= 20000; ++i) {
    const uint32_t slot = rng() % (i < 500 ? 300 : 4096);
    ASSERT_EQ(table.exchange(slot, i), std::exchange(plain[slot], i)) << i;
  }
}

TEST(LongRange, DecoderHoldsTheRunToItsWindow) {
  LongRangeDecoder dec(100);
  EXPECT_EQ(dec.decode_block(Bytes{1, 101, 0}, Bytes{}).damage, (SectionDamage{SectionFault::bad_window, 1}));
  ASSERT_EQ(dec.decode_block(Bytes{1, 100, 0}, Bytes(5, 'a')).damage.fault, SectionFault::none);
  // Another window within the same run is refused; the run's own goes on.
  EXPECT_EQ(dec.decode_block(Bytes{1, 99, 0}, Bytes{}).damage, (SectionDamage{SectionFault::bad_window, 1}));
  auto out = dec.decode_block(Bytes{1, 100, 1, 4, 0, 5, 4}, Bytes{});
  ASSERT_EQ(out.damage.fault, SectionFault::none);
  EXPECT_EQ(std::string(out.text.begin(), out.text.end()), "aaaa");
}

TEST(LongRange, SettingsAreChecked) {
  LongRangeSettings s;
  EXPECT_EQ(check_settings(s), LongRangeSettingsFault::none);
  s.window_bytes = 0;
  EXPECT_EQ(check_settings(s), LongRangeSettingsFault::window);
  s = {};
  s.hash_bytes = s.min_match + 1;
  EXPECT_EQ(check_settings(s), LongRangeSettingsFault::hash_bytes);
}

}  // namespace
}  // namespace tav
