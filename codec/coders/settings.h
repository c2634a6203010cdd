// Compressor settings: defaults, presets, limits and the order of fallbacks.
#pragma once

#include <cstdint>
#include <vector>

#include "container.h"

namespace tav {

// The header's level_limit holds order + 1, and the decoder's context stack
// has room for MAX_LEVEL_LIMIT levels.
inline constexpr uint32_t MAX_ORDER = MAX_LEVEL_LIMIT - 1;

struct Preset {
  uint32_t order;
  uint32_t memory_mb;
};

// Presets -1 .. -9, measured on English text, source code and machine code
// (see the README's table).  Without a preset or explicit settings tav_e
// uses DEFAULT_PRESET.
inline constexpr int MIN_PRESET = 1;
inline constexpr int MAX_PRESET = 9;
inline constexpr int DEFAULT_PRESET = 6;

// The settings of preset `level`, MIN_PRESET <= level <= MAX_PRESET.
Preset preset(int level);

inline constexpr uint32_t DEFAULT_ORDER = 8;
inline constexpr uint32_t DEFAULT_MEMORY_MB = 1024;

// Blocks of a large input, each compressed as its own member by its own
// model; the default of tav_e --block-size and of the library.  32 MiB gives
// a second core work from 32 MiB of input on for 2.5 to 3.2 % more bytes
// than 64 MiB (docs/benchmarks.md, "Block sizes").
inline constexpr uint64_t DEFAULT_BLOCK_BYTES = uint64_t{32} << 20;

// The long-range stage's window when none is named (tav_e --long, the
// library): how far back a reference may reach, and so the text a decoder
// keeps besides the member it decodes.  The stage keeps positions in 32 bits.
inline constexpr uint64_t DEFAULT_LONG_WINDOW = uint64_t{1} << 30;
inline constexpr uint64_t MAX_LONG_WINDOW = (uint64_t{1} << 32) - 1;

// The most threads a run may be asked for (tav_e -T, the library).
inline constexpr unsigned MAX_THREADS = 4096;

// Orders to try, in turn, when `order` cannot code an input: the requested one,
// then its neighbours (below first, up to two steps away), then order 0, which
// every input can use.
std::vector<uint32_t> fallback_orders(uint32_t order);

}  // namespace tav
