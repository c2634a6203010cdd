// Plain comparison sorts that follow the two left-context orders byte by
// byte: the reference the fast sorts are checked against (tests and fuzzing).
#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "context_sort.h"

using namespace tav::tools;

namespace reference {

inline constexpr int LF = 0x0A;

// Byte before position i, reading the start of the text as one LF.
inline int before(const std::vector<std::uint8_t>& t, std::int64_t i) {
  return i < 0 ? LF : static_cast<std::int8_t>(t[i]);
}

// Line-bounded: compare backwards until the first context meets a LF or the
// bytes differ; equal keys by position.
inline bool line_less(const std::vector<std::uint8_t>& t, std::int64_t a, std::int64_t b) {
  if (a == b) return false;
  for (std::int64_t k = 1;; ++k) {
    const int x = before(t, a - k), y = before(t, b - k);
    if (x != y) return x < y;
    if (x == LF) return a < b;
  }
}

// Unbounded: compare backwards to the first difference; a context that ends
// at the start-of-text LF sorts before one that goes on.
inline bool unbounded_less(const std::vector<std::uint8_t>& t, std::int64_t a, std::int64_t b) {
  if (a == b) return false;
  for (std::int64_t k = 1;; ++k) {
    const int x = before(t, a - k), y = before(t, b - k);
    if (x != y) return x < y;
    if (a - k < 0) return true;
    if (b - k < 0) return false;
  }
}

inline std::vector<std::int64_t> reference_positions(const std::vector<std::uint8_t>& t, ContextOrder order) {
  std::vector<std::int64_t> pos(t.size());
  std::iota(pos.begin(), pos.end(), 0);
  std::sort(pos.begin(), pos.end(), [&](std::int64_t a, std::int64_t b) {
    return order == ContextOrder::line_bounded ? line_less(t, a, b) : unbounded_less(t, a, b);
  });
  return pos;
}

}  // namespace reference
