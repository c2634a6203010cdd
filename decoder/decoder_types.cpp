#include "decoder_types.h"

#include <cfenv>

namespace tav {

bool set_numeric_mode() { return std::fesetround(FE_TOWARDZERO) == 0 && numeric_mode_is_set(); }

bool numeric_mode_is_set() { return std::fegetround() == FE_TOWARDZERO; }

void write_header_bytes(const ContainerHeader& h, uint8_t out[HEADER_BYTES]) {
  const uint32_t fields[3] = {h.text_length, h.level_limit, h.memory_mb};
  const int widths[3] = {4, 2, 2};
  int at = 0;
  for (int f = 0; f < 3; ++f)
    for (int b = 0; b < widths[f]; ++b) out[at++] = static_cast<uint8_t>(fields[f] >> (8 * b));
}

ContainerHeader parse_header_bytes(const uint8_t* bytes, uint32_t available) {
  ContainerHeader h;
  uint32_t* const fields[3] = {&h.text_length, &h.level_limit, &h.memory_mb};
  const int widths[3] = {4, 2, 2};
  uint32_t at = 0;
  for (int f = 0; f < 3; ++f) {
    for (int b = 0; b < widths[f]; ++b, ++at) {
      if (at >= available) return h;
      *fields[f] = (*fields[f] & ~(0xFFu << (8 * b))) | (uint32_t{bytes[at]} << (8 * b));
    }
  }
  return h;
}

}  // namespace tav
