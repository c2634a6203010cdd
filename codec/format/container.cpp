#include "container.h"

#include <algorithm>

namespace tav {

namespace {

constexpr int FIELD_WIDTHS[3] = {4, 2, 2};

}  // namespace

void write_header_bytes(const ContainerHeader& h, uint8_t out[HEADER_BYTES]) {
  for (int b = 0; b < 4; ++b) out[b] = static_cast<uint8_t>(h.text_length >> (8 * b));
  for (int b = 0; b < 2; ++b) {
    out[4 + b] = static_cast<uint8_t>(h.level_limit >> (8 * b));
    out[6 + b] = static_cast<uint8_t>(h.memory_mb >> (8 * b));
  }
}

ContainerHeader parse_header_bytes(const uint8_t* bytes, uint32_t available) {
  ContainerHeader h;
  uint32_t* const fields[3] = {&h.text_length, &h.level_limit, &h.memory_mb};
  uint32_t at = 0;
  for (int f = 0; f < 3; ++f) {
    for (int b = 0; b < FIELD_WIDTHS[f]; ++b, ++at) {
      if (at >= available) return h;
      *fields[f] = (*fields[f] & ~(0xFFu << (8 * b))) | (uint32_t{bytes[at]} << (8 * b));
    }
  }
  return h;
}

ContainerView split_container(std::span<const uint8_t> file) {
  const size_t header_bytes = std::min<size_t>(file.size(), HEADER_BYTES);
  ContainerView v;
  v.header = parse_header_bytes(file.data(), static_cast<uint32_t>(header_bytes));
  v.header_complete = header_bytes == HEADER_BYTES;
  v.stream = file.subspan(header_bytes);
  return v;
}

bool write_header(const ContainerHeader& h, ByteSink& out) {
  uint8_t bytes[HEADER_BYTES];
  write_header_bytes(h, bytes);
  return out.write(bytes);
}

HeaderFault check_header(const ContainerHeader& h) {
  if (h.text_length > MAX_TEXT_LENGTH) return HeaderFault::text_too_long;
  if (h.memory_mb == 0) return HeaderFault::no_node_memory;
  if (h.memory_mb > MAX_MEMORY_MB) return HeaderFault::too_much_memory;
  if (h.level_limit > MAX_LEVEL_LIMIT) return HeaderFault::too_many_levels;
  return HeaderFault::none;
}

}  // namespace tav
