#include "size_text.h"

#include <array>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <string_view>

namespace tav {

namespace {

struct Suffix {
  std::string_view name;
  unsigned shift;
};

constexpr std::array<Suffix, 7> SUFFIXES{{
    {"", 0}, {"k", 10}, {"kib", 10}, {"m", 20}, {"mib", 20}, {"g", 30}, {"gib", 30}}};

bool shift_of(std::string_view suffix, unsigned& shift) {
  std::string lower(suffix);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const Suffix& s : SUFFIXES)
    if (s.name == lower) return shift = s.shift, true;
  return false;
}

SizeParse failure(std::string message) { return {false, 0, std::move(message)}; }

}  // namespace

SizeParse parse_size(const std::string& text, const std::string& what, uint64_t min, uint64_t max) {
  const std::string quoted = "'" + text + "' for " + what;
  size_t digits = 0;
  uint64_t value = 0;
  bool overflow = false;
  for (; digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])); ++digits) {
    const unsigned d = static_cast<unsigned>(text[digits] - '0');
    overflow |= value > (UINT64_MAX - d) / 10;
    if (!overflow) value = value * 10 + d;
  }
  unsigned shift = 0;
  if (digits == 0 || !shift_of(std::string_view(text).substr(digits), shift))
    return failure("invalid size " + quoted + " (a whole number, optionally followed by K, M or G)");
  overflow |= shift > 0 && value > (UINT64_MAX >> shift);
  const uint64_t bytes = overflow ? UINT64_MAX : value << shift;
  if (overflow || bytes < min || bytes > max)
    return failure("size " + quoted + " out of range (allowed: " + format_size(min) + " to " +
                   format_size(max) + ")");
  return {true, bytes, {}};
}

std::string decimal_text(double x, int places) {
  uint64_t scale = 1;
  for (int i = 0; i < places; ++i) scale *= 10;
  const uint64_t n = static_cast<uint64_t>(x * static_cast<double>(scale) + 0.5);
  char text[48];
  if (places == 0)
    std::snprintf(text, sizeof text, "%" PRIu64, n);
  else
    std::snprintf(text, sizeof text, "%" PRIu64 ".%0*" PRIu64, n / scale, places, n % scale);
  return text;
}

std::string format_size(uint64_t bytes) {
  static constexpr const char* UNITS[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  unsigned u = 0;
  while (u + 1 < std::size(UNITS) && (bytes >> (10 * (u + 1))) != 0) ++u;
  const uint64_t whole = bytes >> (10 * u);
  const uint64_t rest = bytes - (whole << (10 * u));
  std::string s = std::to_string(whole);
  if (rest != 0) {
    // Tenths rounded down; rest < 2^(10u) <= 2^60, so rest * 10 cannot overflow.
    s += '.';
    s += std::to_string(rest * 10 >> (10 * u));
  }
  return s + " " + UNITS[u];
}

}  // namespace tav
