// Sizes as the user writes and reads them: "64M", "512KiB", "2 GiB".
//
// Parsing takes a decimal number with an optional suffix of binary multiples
// (K/KiB = 2^10, M/MiB = 2^20, G/GiB = 2^30; case-insensitive), nothing
// else: no sign, no spaces, no fraction.  Errors are values with a message
// ready to follow "PROGRAM: ", so options like --block-size report them alike.
#pragma once

#include <cstdint>
#include <string>

namespace tav {

struct SizeParse {
  bool ok = false;
  uint64_t bytes = 0;
  std::string error;  // when !ok: e.g. "invalid size 'x' for --block-size (...)"
};

// Parses `text` as a size for option `what` (used in the message) and checks
// min <= size <= max.
SizeParse parse_size(const std::string& text, const std::string& what, uint64_t min, uint64_t max);

// `bytes` in the largest binary unit it reaches, exact when it is a whole
// number of that unit ("6 GiB"), else with one decimal rounded down
// ("2.1 GiB"), so a shown limit is never above the real one.
std::string format_size(uint64_t bytes);

// `x` (not negative) with `places` decimals (0..9), rounded to nearest.
// printf rounds in the current rounding mode, which in tav_e is the model's,
// toward zero: 0.0319 would show as 0.031, a ratio shown lower than it is.
std::string decimal_text(double x, int places);

}  // namespace tav
