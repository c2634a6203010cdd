// Mixing of the active contexts into integer frequencies, the symbol search,
// and the winner flag.  Shared by the decoder and the compressor through the
// per-byte sequence of byte_model.h: `mix` (predict), then the decoder
// searches a target and the compressor looks up the interval of its byte,
// then `flag_winner` and `update_contexts` (learn).
#pragma once

#include <cstdint>

#include "model.h"

namespace tav {

// Tuning tables: 9 rows (active levels - 1, capped at 8) by 8 columns (level,
// capped at 7), and the level factor by min(level, 2).
extern const float HIT_BLEND[9][8];
extern const float HIT_PRIOR[9][8];
extern const float WIN_PRIOR_MULTI[9][8];
extern const float WIN_PRIOR_SINGLE[9][8];
extern const float LEVEL_FACTOR[3];
extern const float MIX_MASS;
extern const double UNIFORM_BIAS;

// Weight of one active level, kept in binary64.  Must not be called while the
// node carries the winner flag.
double context_weight(const NodeView& node, uint32_t level_count, uint32_t level);

// Fills m.symbol_mass, m.level_weight and m.floor_share for the byte at
// `position`.
void mix(Model& m, uint32_t position);

// Integer frequency of byte value s after `mix`; at least 1.
inline int32_t symbol_frequency(const Model& m, uint32_t s) {
  return static_cast<int32_t>(static_cast<double>(m.symbol_mass[s]) + m.floor_share);
}

struct SymbolInterval {
  uint32_t symbol;  // 0..255, or 256 when the target lies beyond every byte value
  uint32_t cum_low;
  uint32_t freq;
};

// The byte whose interval holds `target` (searched in byte order), or symbol
// 256 with cum_low = the total of all frequencies when none does.
SymbolInterval find_symbol(const Model& m, uint32_t target);

// The interval of byte value s (0..255).
SymbolInterval symbol_interval(const Model& m, uint32_t s);

// Marks at most one active node, the one that predicted s best, by negating
// its visit_count.  update_contexts consumes the flag for the same byte.
void flag_winner(Model& m, uint8_t s);

}  // namespace tav
