// Compressor settings: defaults, limits and the order of fallbacks.
#pragma once

#include <cstdint>
#include <vector>

namespace tav {

// Defaults measured on English text; see the README.
inline constexpr uint32_t DEFAULT_ORDER = 8;
inline constexpr uint32_t DEFAULT_MEMORY_MB = 1024;
// level_limit is a 16-bit field holding order + 1.
inline constexpr uint32_t MAX_ORDER = 65534;

// Orders to try, in turn, when `order` cannot code an input: the requested one,
// then its neighbours (below first, up to two steps away), then order 0, which
// every input can use.
std::vector<uint32_t> fallback_orders(uint32_t order);

}  // namespace tav
