// Members with long-range references, end to end over memory: the same bytes
// for any number of threads, a round trip whatever the window, the blocks and
// the repeats' places, and damage refused where it lies.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "member_files.h"

namespace tav {
namespace {

using Bytes = std::vector<uint8_t>;

// A text whose 3000-byte passages recur at the distances given.
Bytes repeats(size_t size, std::initializer_list<size_t> distances, uint32_t seed = 3) {
  std::mt19937 rng(seed);
  Bytes t(size);
  for (auto& b : t) b = static_cast<uint8_t>('a' + rng() % 26);
  size_t at = 0;
  for (const size_t d : distances) {
    at += 4000;
    for (size_t i = 0; i < 3000 && at + d + i < size; ++i) t[at + d + i] = t[at + i];
  }
  return t;
}

Bytes compress(const Bytes& text, uint64_t block, uint64_t window, unsigned threads = 1) {
  Bytes file = test::compress_run(text, 4, 16, block, window, threads, true);
  EXPECT_FALSE(file.empty());
  return file;
}

TEST(LongRangeMembers, RoundTripsAndGivesTheSameBytesForAnyThreads) {
  ASSERT_TRUE(set_numeric_mode());
  const struct {
    const char* what;
    Bytes text;
    uint64_t block, window;
  } cases[] = {
      {"repeats within a block", repeats(40000, {5000, 9000}), 64 << 10, 1 << 20},
      {"repeats across blocks", repeats(60000, {12000, 20000, 30000}), 8192, 1 << 20},
      {"a repeat just inside the window", repeats(40000, {8191}), 4096, 8192},
      {"a repeat just beyond the window", repeats(40000, {8193}), 4096, 8192},
      {"overlapping copies", Bytes(20000, 'x'), 4096, 1 << 20},
      {"no repeats", repeats(30000, {}), 8192, 1 << 20},
      {"empty", {}, 4096, 1 << 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes one = compress(c.text, c.block, c.window);
    for (const unsigned threads : {2u, 3u}) EXPECT_EQ(compress(c.text, c.block, c.window, threads), one);
    for (const unsigned threads : {1u, 2u}) {
      const test::RunDecoded d = test::decode_run_of(one, threads);
      EXPECT_FALSE(d.failure);
      EXPECT_TRUE(d.text == c.text);
    }
  }
  // The stage pays for itself where there are repeats, and costs little where not.
  const Bytes text = repeats(60000, {12000, 20000, 30000});
  EXPECT_LT(compress(text, 8192, 1 << 20).size() + 3000, compress(text, 8192, 0).size());
  const Bytes plain = repeats(30000, {});
  EXPECT_LT(compress(plain, 8192, 1 << 20).size(), compress(plain, 8192, 0).size() + 16 * 4);
}

// Recomputes the check of the trailer that ends `file` at `end`.
void reseal(Bytes& file, size_t end) {
  const size_t at = end - TRAILER_BYTES;
  const uint32_t c = XXH32(file.data() + at, 24, 0);
  for (int i = 0; i < 4; ++i) file[at + 24 + i] = static_cast<uint8_t>(c >> (8 * i));
}

TEST(LongRangeMembers, DamageIsRefusedWhereItLies) {
  ASSERT_TRUE(set_numeric_mode());
  const Bytes text = repeats(30000, {10000, 14000});
  const Bytes good = compress(text, 8192, 1 << 20);
  const FilePlan plan = plan_file(good);
  ASSERT_EQ(plan.members.size(), 4u);
  const Member& second = plan.members[1];
  ASSERT_TRUE(second.trailer.long_range);
  ASSERT_GT(second.section_bytes, 5u);  // it has references
  const size_t second_end = second.offset + second.trailer.member_bytes;
  // The second member alone, as the whole run of another file: its
  // references reach before the start of its run.
  Bytes alone(good.begin() + static_cast<long>(second.offset), good.begin() + static_cast<long>(second_end));
  MemberTrailer t = second.trailer;
  t.number = 0;
  t.last = true;
  const auto trailer = write_trailer(t);
  std::copy(trailer.begin(), trailer.end(), alone.end() - TRAILER_BYTES);
  Bytes other = compress(repeats(5000, {}), 8192, 1 << 20);
  other.insert(other.end(), alone.begin(), alone.end());

  const struct {
    const char* what;
    std::function<void(Bytes&)> damage;
    MemberFault fault;
  } cases[] = {
      {"a reference's distance", [&](Bytes& f) { f[second.section_offset + second.section_bytes - 2] ^= 0x7F; },
       MemberFault::references_damaged},
      {"the section's size", [&](Bytes& f) { f[second_end - TRAILER_BYTES - 1] = 0x7F; },
       MemberFault::section_out_of_bounds},
      {"a copied byte's check", [&](Bytes& f) { f[second_end - TRAILER_BYTES + 1] ^= 1; reseal(f, second_end); },
       MemberFault::checksum_mismatch},
      {"references into another file", [&](Bytes& f) { f = other; }, MemberFault::references_damaged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = good;
    c.damage(file);
    for (const unsigned threads : {1u, 2u}) {
      const test::RunDecoded d = test::decode_run_of(file, threads);
      ASSERT_TRUE(d.failure);
      EXPECT_EQ(d.failure->fault, RunFault::damaged);
      EXPECT_EQ(d.failure->member_fault, c.fault);
    }
  }
}

}  // namespace
}  // namespace tav
