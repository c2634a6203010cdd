#include "settings.h"

#include <algorithm>
#include <cassert>
#include <iterator>

namespace tav {

namespace {

// Bits per byte fall fast up to order 6 and slowly after it, on all three
// kinds of input, while time and node memory keep growing; the budgets grow
// with the order so that the full model fits inputs of some tens of MB.
constexpr Preset PRESETS[] = {
    {2, 64},    // -1
    {3, 128},   // -2
    {4, 256},   // -3
    {5, 512},   // -4
    {6, 768},   // -5
    {8, 1024},  // -6 (default)
    {12, 2048}, // -7
    {16, 3072}, // -8
    {24, 4096}, // -9
};
static_assert(std::size(PRESETS) == MAX_PRESET - MIN_PRESET + 1);
static_assert(PRESETS[DEFAULT_PRESET - MIN_PRESET].order == DEFAULT_ORDER &&
              PRESETS[DEFAULT_PRESET - MIN_PRESET].memory_mb == DEFAULT_MEMORY_MB);

}  // namespace

Preset preset(int level) {
  assert(level >= MIN_PRESET && level <= MAX_PRESET);
  return PRESETS[level - MIN_PRESET];
}

std::vector<uint32_t> fallback_orders(uint32_t order) {
  std::vector<uint32_t> orders{order};
  auto add = [&](int64_t o) {
    if (o >= 0 && o <= MAX_ORDER && std::find(orders.begin(), orders.end(), o) == orders.end())
      orders.push_back(static_cast<uint32_t>(o));
  };
  for (int64_t step = 1; step <= 2; ++step) {
    add(int64_t{order} - step);
    add(int64_t{order} + step);
  }
  add(0);
  return orders;
}

}  // namespace tav
