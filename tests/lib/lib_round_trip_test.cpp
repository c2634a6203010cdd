// One-shot calls of the C library: round trips, presets as tav_e's, listing,
// and per-byte costs.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>

#include "lib_test_support.h"

using namespace tavtest;

namespace {

struct RoundTripCase {
  const char* name;
  Bytes text;
  int level;
};

TEST(LibOneShot, RoundTripsAndKeepsTheCallersRoundingMode) {
  const RoundTripCase cases[] = {
      {"empty", {}, 1},
      {"one byte", {'x'}, 1},
      {"English", sample(20000), 1},
      {"noise, default level", noise(3000), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::fesetround(FE_UPWARD);
    Bytes file(c.text.size() + 1024);
    size_t n = 0;
    ASSERT_EQ(tav_compress(c.text.data(), c.text.size(), file.data(), file.size(), &n, c.level), TAV_OK);
    EXPECT_EQ(std::fegetround(), FE_UPWARD);
    file.resize(n);
    Bytes text(c.text.size());
    size_t m = 0;
    ASSERT_EQ(tav_decompress(file.data(), file.size(), text.data(), text.size(), &m), TAV_OK);
    EXPECT_EQ(std::fegetround(), FE_UPWARD);
    std::fesetround(FE_TONEAREST);
    text.resize(m);
    EXPECT_EQ(text, c.text);
  }
}

// A preset is tav_e's preset.  That the same order, budget, block size and
// any threads give tav_e's bytes is guarded with every other entry point in
// tests/programs/same_bytes_test.cpp.
TEST(LibOneShot, PresetIsTavEsPreset) {
  const Bytes text = sample(20000);
  Bytes file(text.size());
  size_t n = 0;
  ASSERT_EQ(tav_compress(text.data(), text.size(), file.data(), file.size(), &n, 1), TAV_OK);
  file.resize(n);
  EXPECT_EQ(file, tav_e("-1", text));
}

TEST(LibList, MembersFromTrailersAndPlainFiles) {
  const Bytes text = sample(20000);
  const Bytes file = compress_with({{TAV_PARAM_ORDER, 3}, {TAV_PARAM_MEMORY_MB, 8}, {TAV_PARAM_BLOCK_SIZE, 7000}}, text);
  size_t count = 0;
  ASSERT_EQ(tav_list(file.data(), file.size(), nullptr, 0, &count), TAV_OK);
  ASSERT_EQ(count, 3u);
  tav_member_info m[3];
  ASSERT_EQ(tav_list(file.data(), file.size(), m, 3, &count), TAV_OK);
  uint64_t offset = 0;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(m[i].offset, offset);
    EXPECT_EQ(m[i].text_bytes, i < 2 ? 7000u : 6000u);
    EXPECT_EQ(m[i].order, 3u);
    EXPECT_EQ(m[i].memory_mb, 8u);
    EXPECT_EQ(m[i].checked, 1);
    offset += m[i].compressed_bytes;
  }
  EXPECT_EQ(offset, file.size());
  EXPECT_NE(m[0].text_hash, m[1].text_hash);

  // A plain file of an earlier build carries no check: refused unless asked
  // for, then one unchecked member, 6000 bytes at order 3.
  std::ifstream f(std::string(TAV_DATA_DIR) + "/english_o3.tav", std::ios::binary);
  const Bytes plain((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(tav_list(plain.data(), plain.size(), m, 3, &count), TAV_ERROR_DAMAGED);
  Bytes text6k(6000);
  size_t n = 0;
  EXPECT_EQ(tav_decompress(plain.data(), plain.size(), text6k.data(), text6k.size(), &n), TAV_ERROR_DAMAGED);
  tav_dctx* d = tav_dctx_create();
  ASSERT_EQ(tav_dctx_set(d, TAV_PARAM_PLAIN, 1), TAV_OK);
  EXPECT_EQ(tav_decompress_dctx(d, plain.data(), plain.size(), text6k.data(), text6k.size(), &n), TAV_OK);
  EXPECT_EQ(n, 6000u);
  // Even so, a file shorter than a header is damaged.
  EXPECT_EQ(tav_decompress_dctx(d, plain.data(), 5, text6k.data(), text6k.size(), &n), TAV_ERROR_DAMAGED);
  tav_dctx_free(d);
}

TEST(LibCosts, SumIsTheStreamTavEWrites) {
  const Bytes text = sample(12000);
  for (int order : {0, 2, 6}) {
    SCOPED_TRACE(order);
    std::vector<double> bits(text.size());
    std::fesetround(FE_DOWNWARD);
    ASSERT_EQ(tav_costs(text.data(), text.size(), order, 16, bits.data()), TAV_OK);
    EXPECT_EQ(std::fegetround(), FE_DOWNWARD);
    std::fesetround(FE_TONEAREST);
    const double bytes = std::accumulate(bits.begin(), bits.end(), 0.0) / 8;
    // The member is header, stream and trailer; the stream ends with the
    // coder's last window (up to 8 bytes) that no byte's cost accounts for.
    const double stream = static_cast<double>(tav_e("--order " + std::to_string(order) + " -m 16", text).size()) - 8 - 36;
    EXPECT_GE(stream, bytes);
    EXPECT_LE(stream, bytes + 10);
    EXPECT_TRUE(std::all_of(bits.begin(), bits.end(), [](double b) { return b > 0 && b < 24; }));
  }
}

}  // namespace
