// Mixing and symbol search.
//
// For one byte: weigh every active level from the highest down, sum the
// weights in binary32, scale the summed mass to MIX_MASS units, add every
// level's entry frequencies times its scaled weight into 256 binary32 masses
// (lowest level first: each addition rounds), and give every byte value an
// equal share of the uniform weight plus 1.0.  A byte's integer frequency is
// its mass plus that share, truncated.  Each arithmetic step below is one
// binary64 operation rounded toward zero, in the order written.
#include "mixer.h"

#include "frequency_kernels.h"

#include <algorithm>

namespace tav {

// clang-format off
const float HIT_BLEND[9][8] = {
    {0.3f, 0, 0, 0, 0, 0, 0, 0},
    {0.3f, 0.45f, 0, 0, 0, 0, 0, 0},
    {0.3f, 0.35f, 0.6f, 0, 0, 0, 0, 0},
    {0.3f, 0.6f, 0.8f, 1, 0, 0, 0, 0},
    {0.3f, 0.45f, 0.75f, 1, 1, 0, 0, 0},
    {0.3f, 0.45f, 0.75f, 0.95f, 1, 1, 0, 0},
    {0.3f, 0.45f, 0.75f, 0.95f, 1, 1, 1, 0},
    {0.3f, 0.4f, 0.8f, 0.95f, 1, 1, 1, 1},
    {0.15f, 0.45f, 0.7f, 0.8f, 1, 1, 1, 1},
};
const float HIT_PRIOR[9][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0.15f, 0, 0, 0, 0},
    {0, 0, 0, 0.15f, 0.11f, 0, 0, 0},
    {0, 0, 0, 0.15f, 0.15f, 0.11f, 0, 0},
    {0, 0, 0, 0.1f, 0.15f, 0.15f, 0.2f, 0},
    {0, 0, 0, 0.05f, 0.15f, 0.15f, 0.25f, 0.1f},
    {0, 0, 0, 0, 0.1f, 0.15f, 0.15f, 0.11f},
};
const float WIN_PRIOR_MULTI[9][8] = {
    {0.031578947f, 0, 0, 0, 0, 0, 0, 0},
    {0.031578947f, 0.03529412f, 0, 0, 0, 0, 0, 0},
    {0.031578947f, 0.03529412f, 0.0375f, 0, 0, 0, 0, 0},
    {0.5263158f, 0.23529412f, 0.1875f, 0.4375f, 0, 0, 0, 0},
    {0, 0, 0.1875f, 0.55f, 0.375f, 0, 0, 0},
    {0, 0, 0, 0.1875f, 0.375f, 0.375f, 0, 0},
    {0, 0, 0, 0, 0.1875f, 0.625f, 0.1875f, 0},
    {0, 0, 0, 0, 0.1875f, 0.625f, 0.1875f, 0.1875f},
    {0.15789473f, 0.1764706f, 0.1875f, 0.1875f, 0.1875f, 0.1875f, 0.1875f, 0.1875f},
};
const float WIN_PRIOR_SINGLE[9][8] = {
    {0.03f, 0, 0, 0, 0, 0, 0, 0},
    {0.03f, 0.03f, 0, 0, 0, 0, 0, 0},
    {0.03f, 0.03f, 0.03f, 0, 0, 0, 0, 0},
    {0.5f, 0.2f, 0.25f, 0.25f, 0, 0, 0, 0},
    {0.4f, 0.4f, 0.4f, 0.4f, 0.45f, 0, 0, 0},
    {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.4f, 0, 0},
    {0.5f, 0.5f, 0.5f, 0.5f, 9999, 0.4f, 0.3f, 0},
    {0.5f, 0.5f, 0.5f, 0.5f, 9999, 0.5f, 0.4f, 0.3f},
    {0.5f, 0.5f, 0.5f, 9999, 9999, 9999, 0.4f, 0.42f},
};
// clang-format on
const float LEVEL_FACTOR[3] = {0.76f, 0.765f, 0.8f};
const float MIX_MASS = 9999743.0f;  // FREQ_TOTAL - 257: room for the +1.0 of every byte value
const double UNIFORM_BIAS = 0.0001;

double context_weight(const NodeView& node, uint32_t level_count, uint32_t level) {
  const uint32_t r = std::min(level_count - 1, 8u);
  const uint32_t k = std::min(level, 7u);
  const double B = HIT_BLEND[r][k];
  const double H = HIT_PRIOR[r][k];
  const double W = node.n == 1 ? WIN_PRIOR_SINGLE[r][k] : WIN_PRIOR_MULTI[r][k];
  const double F = LEVEL_FACTOR[std::min(level, 2u)];

  const double t1 = static_cast<double>(node.hit_count()) + H;
  const double t2 = t1 * B;
  const double t3 = 1.0 - B;
  const double t4 = t2 + t3;
  const double t5 = t4 * F;
  const double t6 = static_cast<double>(node.win_count()) + W;
  const double t7 = t5 * t6;
  const double t8 = H + static_cast<double>(node.total_count());
  const double t9 = W + static_cast<double>(node.visit_count());
  const double t10 = t8 * t9;
  return t7 / t10;
}

void mix(Model& m, uint32_t position) {
  std::fill(std::begin(m.symbol_mass), std::end(m.symbol_mass), 0.0f);
  const uint32_t levels = m.level_count;

  // Highest level first: the binary32 running sum rounds at every step.
  float weight_sum = 0.0f;
  for (uint32_t j = levels; j-- > 0;) {
    const double w = context_weight(m.node_at_level(j), levels, j);
    m.level_weight[j] = static_cast<float>(w);
    weight_sum = static_cast<float>(w + static_cast<double>(weight_sum));
  }

  const double uniform_weight = (1.0 / static_cast<double>(uint64_t{position} + 1)) + UNIFORM_BIAS;
  const double mix_scale =
      static_cast<double>(MIX_MASS) / (static_cast<double>(weight_sum) + uniform_weight);

  // Lowest level first: the order of the rounded additions is fixed.  The
  // first level with entries adds to masses that are all 0.0, so it stores.
  bool fresh = true;
  for (uint32_t j = 0; j < levels; ++j) {
    const double scaled = static_cast<double>(m.level_weight[j]) * mix_scale;
    const NodeView node = m.node_at_level(j);
    if (node.n == 0) continue;
    if (fresh) {
      store_scaled_masses(m.symbol_mass, node.frequencies(), node.symbols(), node.n, scaled);
      fresh = false;
    } else {
      add_scaled_masses(m.symbol_mass, node.frequencies(), node.symbols(), node.n, scaled);
    }
  }

  m.floor_share = 1.0 + ((mix_scale * uniform_weight) / 256.0);
}

SymbolInterval find_symbol(const Model& m, uint32_t target) {
  // Compared as signed 32-bit values; the total stays below FREQ_TOTAL.
  const int32_t t = static_cast<int32_t>(target);
  int32_t cum = 0;
  for (uint32_t s = 0; s < 256; ++s) {
    const int32_t f = symbol_frequency(m, s);
    if (t < cum + f) return {s, static_cast<uint32_t>(cum), static_cast<uint32_t>(f)};
    cum += f;
  }
  return {256, static_cast<uint32_t>(cum), static_cast<uint32_t>(symbol_frequency(m, 255))};
}

SymbolInterval symbol_interval(const Model& m, uint32_t s) {
  int32_t cum = 0;
  for (uint32_t v = 0; v < s; ++v) cum += symbol_frequency(m, v);
  return {s, static_cast<uint32_t>(cum), static_cast<uint32_t>(symbol_frequency(m, s))};
}

void flag_winner(Model& m, uint8_t s) {
  if (m.level_count == 0) return;
  const NodeView top = m.node_at_level(m.level_count - 1);
  if (top.n > 0 && top.symbol(0) == s && top.frequency(0) >= 1.0f) {
    top.set_visit_count(-top.visit_count());
    return;
  }
  // Strictly greater: on a tie the higher level keeps the flag.
  float best = 0.0f;
  uint8_t* winner = nullptr;
  for (uint32_t i = m.level_count; i-- > 0;) {
    const NodeView node = m.node_at_level(i);
    const uint32_t e = node.find(s);
    if (e < node.n && node.frequency(e) > best) {
      best = node.frequency(e);
      winner = node.base;
    }
  }
  if (winner != nullptr) store_f32(winner, -load_f32(winner));
}

}  // namespace tav
