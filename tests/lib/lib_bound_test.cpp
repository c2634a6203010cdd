// tav_compress_bound against texts the model predicts worst: random bytes at
// low and high orders, every byte value, a long run, the smallest texts, and
// members cut small.  An output sized by the bound must always be enough.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "lib_test_support.h"

using namespace tavtest;

namespace {

struct BoundCase {
  std::string name;
  Bytes text;
  int order;
  int64_t block;  // 0: the default
};

Bytes all_values() {
  Bytes b;
  for (int round = 0; round < 4; ++round)
    for (int v = 0; v < 256; ++v) b.push_back(static_cast<uint8_t>(round % 2 ? 255 - v : v));
  return b;
}

std::vector<BoundCase> cases() {
  std::vector<BoundCase> c;
  const auto named = [](const std::string& what, int order) { return what + ", order " + std::to_string(order); };
  for (int order : {0, 2, 8, 16}) c.push_back({named("random", order), noise(1 << 16, order + 7), order, 0});
  for (int order : {0, 16}) c.push_back({named("all byte values", order), all_values(), order, 0});
  c.push_back({"a long run", Bytes(300000, 'a'), 8, 0});
  for (size_t n = 0; n <= 3; ++n)
    for (int order : {0, 16}) c.push_back({named(std::to_string(n) + " bytes", order), Bytes(n, 0xFF), order, 0});
  c.push_back({"random, 1-byte members", noise(300, 3), 8, 1});
  c.push_back({"random, 1000-byte members", noise(9999, 4), 2, 1000});
  return c;
}

// The capacity a caller computes: one bound, or one per member when blocks
// are smaller than the default.
size_t capacity_for(size_t n, int64_t block) {
  if (block == 0 || n == 0) return tav_compress_bound(n);
  const size_t members = (n + static_cast<size_t>(block) - 1) / static_cast<size_t>(block);
  return members * tav_compress_bound(static_cast<size_t>(block));
}

TEST(LibBound, OutputSizedByTheBoundIsEnough) {
  for (const BoundCase& c : cases()) {
    SCOPED_TRACE(c.name);
    tav_cctx* cctx = tav_cctx_create();
    ASSERT_EQ(tav_cctx_set(cctx, TAV_PARAM_ORDER, c.order), TAV_OK);
    if (c.block != 0) {
      ASSERT_EQ(tav_cctx_set(cctx, TAV_PARAM_BLOCK_SIZE, c.block), TAV_OK);
    }
    const size_t capacity = capacity_for(c.text.size(), c.block);
    Bytes out(capacity);
    size_t n = 0;
    EXPECT_EQ(tav_compress_cctx(cctx, c.text.data(), c.text.size(), out.data(), out.size(), &n), TAV_OK);
    EXPECT_LE(n, capacity);
    tav_cctx_free(cctx);
    out.resize(n);
    EXPECT_EQ(decompress(out), c.text);
  }
}

TEST(LibBound, OneShotAtEveryLevelFits) {
  const Bytes text = noise(4000, 9);
  for (int level = TAV_MIN_LEVEL; level <= TAV_MAX_LEVEL; ++level) {
    SCOPED_TRACE(level);
    Bytes out(tav_compress_bound(text.size()));
    size_t n = 0;
    EXPECT_EQ(tav_compress(text.data(), text.size(), out.data(), out.size(), &n, level), TAV_OK);
  }
}

TEST(LibBound, GrowsWithTheTextAndSaysWhenItCannotBeHeld) {
  EXPECT_LT(tav_compress_bound(1000), tav_compress_bound(1001));
  EXPECT_LT(tav_compress_bound(size_t{64} << 20), tav_compress_bound((size_t{64} << 20) + 1));
  EXPECT_EQ(tav_compress_bound(SIZE_MAX), 0u);
}

}  // namespace
