// The vector loops over node frequencies must give the bits of the scalar
// arithmetic: every instruction set this build and processor support is run
// against a plain reference written here, on awkward values (zeros,
// subnormals, values next to 1.0) and on every remainder of the lane count,
// and a model fed with real text must compute the same integer frequencies
// whichever set it uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "frequency_kernels.h"
#include "mixer.h"
#include "model_feed.h"

namespace tav {
namespace {

const KernelSet ALL_SETS[] = {KernelSet::scalar, KernelSet::sse2, KernelSet::avx};
const uint32_t COUNTS[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 31, 100, 255, 256};

class FrequencyKernels : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(set_numeric_mode());
    saved_ = current_kernel_set();
  }
  void TearDown() override { use_kernel_set(saved_); }

  // Frequencies as nodes hold them, plus the values where a wrong rounding or
  // a fused multiply-add shows first.
  static std::vector<float> awkward_values(uint32_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float special[] = {0.0f, 1.0f, f32_from_bits(0x3F7FFFFF), f32_from_bits(0x00000001),
                             f32_from_bits(0x007FFFFF), f32_from_bits(0x3EC0C0C0), 1e-30f};
    std::vector<float> v(count);
    for (uint32_t e = 0; e < count; ++e)
      v[e] = (rng() % 4 == 0) ? special[rng() % std::size(special)] : unit(rng);
    return v;
  }

  static std::vector<uint8_t> as_bytes(const std::vector<float>& v) {
    std::vector<uint8_t> b(4 * v.size() + 1);  // +1: start at an odd address below
    if (!v.empty()) std::memcpy(b.data() + 1, v.data(), 4 * v.size());
    return b;
  }

  static std::vector<uint8_t> distinct_symbols(uint32_t count, uint32_t seed) {
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    std::shuffle(all.begin(), all.end(), std::mt19937(seed));
    all.resize(count);
    return all;
  }

 private:
  KernelSet saved_ = KernelSet::scalar;
};

TEST_F(FrequencyKernels, DecayMatchesScalarArithmetic) {
  // keep and add as an update computes them: 1 - 1/visit and (t/b)/visit.
  const double keeps[] = {1.0 - 1.0 / 1.9921875, 1.0 - 1.0 / 69.9, 0.5};
  const double adds[] = {(0.25 / 3.0) * (1.0 / 1.9921875), 1e-9, 0.0};
  for (const KernelSet k : ALL_SETS) {
    if (!use_kernel_set(k)) continue;
    for (const uint32_t count : COUNTS)
      for (size_t c = 0; c < std::size(keeps); ++c) {
        const std::vector<float> in = awkward_values(count, count * 7 + c);
        std::vector<uint8_t> bytes = as_bytes(in);
        decay_frequencies(bytes.data() + 1, count, keeps[c], adds[c]);
        for (uint32_t e = 0; e < count; ++e) {
          const float want = static_cast<float>(keeps[c] * static_cast<double>(in[e]) + adds[c]);
          EXPECT_EQ(bits_of(load_f32(bytes.data() + 1 + 4 * e)), bits_of(want))
              << kernel_set_name(k) << " count " << count << " entry " << e;
        }
      }
  }
}

TEST_F(FrequencyKernels, MassStepsMatchScalarArithmetic) {
  const double scale = 6526821.587882214;
  for (const KernelSet k : ALL_SETS) {
    if (!use_kernel_set(k)) continue;
    for (const uint32_t count : COUNTS) {
      const std::vector<float> f = awkward_values(count, count);
      const std::vector<uint8_t> bytes = as_bytes(f);
      const std::vector<uint8_t> sym = distinct_symbols(count, count + 1);
      const std::vector<float> base = awkward_values(256, count + 2);

      std::vector<float> stored(256, 0.0f), added(base);
      store_scaled_masses(stored.data(), bytes.data() + 1, sym.data(), count, scale);
      add_scaled_masses(added.data(), bytes.data() + 1, sym.data(), count, scale);

      std::vector<float> want_stored(256, 0.0f), want_added(base);
      for (uint32_t e = 0; e < count; ++e) {
        const double product = static_cast<double>(f[e]) * scale;
        want_stored[sym[e]] = static_cast<float>(product + 0.0);
        want_added[sym[e]] = static_cast<float>(product + static_cast<double>(base[sym[e]]));
      }
      for (int s = 0; s < 256; ++s) {
        EXPECT_EQ(bits_of(stored[s]), bits_of(want_stored[s]))
            << kernel_set_name(k) << " store, count " << count << " symbol " << s;
        EXPECT_EQ(bits_of(added[s]), bits_of(want_added[s]))
            << kernel_set_name(k) << " add, count " << count << " symbol " << s;
      }
    }
  }
}

// Every integer frequency of every byte of a real text, at an order where
// nodes of all sizes occur, hashed: the same for every instruction set.
TEST_F(FrequencyKernels, ModelFrequenciesIndependentOfInstructionSet) {
  std::ifstream in(TAV_SAMPLE_PATH, std::ios::binary);
  ASSERT_TRUE(in) << TAV_SAMPLE_PATH;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.resize(std::min<size_t>(text.size(), 60000));
  ASSERT_GT(text.size(), 10000u);

  std::vector<uint64_t> hashes;
  std::vector<KernelSet> sets;
  for (const KernelSet k : ALL_SETS) {
    if (!use_kernel_set(k)) continue;
    ModelFeed feed(static_cast<uint32_t>(text.size()), 5, 64);
    uint64_t h = 1469598103934665603ull;
    for (const char c : text) {
      mix(feed.model, feed.position);
      for (uint32_t s = 0; s < 256; ++s)
        h = (h ^ static_cast<uint32_t>(symbol_frequency(feed.model, s))) * 1099511628211ull;
      const uint8_t b = static_cast<uint8_t>(c);
      feed.text[feed.position] = b;
      flag_winner(feed.model, b);
      update_contexts(feed.model, b, feed.position);
      ++feed.position;
    }
    hashes.push_back(h);
    sets.push_back(k);
  }
  ASSERT_GE(hashes.size(), 1u);
  for (size_t i = 1; i < hashes.size(); ++i)
    EXPECT_EQ(hashes[i], hashes[0]) << kernel_set_name(sets[i]) << " vs " << kernel_set_name(sets[0]);
}

}  // namespace
}  // namespace tav
