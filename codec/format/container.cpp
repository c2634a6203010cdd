#include "container.h"

#include <algorithm>
#include <cinttypes>

namespace tav {

namespace {

constexpr int FIELD_WIDTHS[3] = {4, 2, 2};

std::string format(const char* fmt, uint32_t a, uint32_t b) {
  char buf[160];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

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

ContainerHeader read_header(std::FILE* in, bool* complete) {
  uint8_t bytes[HEADER_BYTES];
  const size_t got = std::fread(bytes, 1, HEADER_BYTES, in);
  if (complete != nullptr) *complete = got == HEADER_BYTES;
  return parse_header_bytes(bytes, static_cast<uint32_t>(got));
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

std::string header_fault_message(HeaderFault f, const ContainerHeader& h) {
  switch (f) {
    case HeaderFault::none: return "";
    case HeaderFault::text_too_long:
      return format("Text length %" PRIu32 " exceeds the supported maximum of %" PRIu32 " bytes.",
                    h.text_length, MAX_TEXT_LENGTH);
    case HeaderFault::no_node_memory:
      return "Memory budget of 0M leaves no room for the model; the file is invalid.";
    case HeaderFault::too_much_memory:
      return format("Memory budget of %" PRIu32 "M exceeds the supported maximum of %" PRIu32 "M.",
                    h.memory_mb, MAX_MEMORY_MB);
    case HeaderFault::too_many_levels:
      return format("Model order %" PRIu32 " exceeds the supported maximum of %" PRIu32 ".",
                    h.level_limit - 1, MAX_LEVEL_LIMIT - 1);
  }
  return "";
}

std::string header_fault_reason(HeaderFault f, const ContainerHeader& h) {
  switch (f) {
    case HeaderFault::none: return "";
    case HeaderFault::text_too_long: return "invalid header: text length beyond the supported maximum";
    case HeaderFault::no_node_memory: return "invalid header: memory budget of 0M";
    case HeaderFault::too_much_memory:
      return "invalid header: memory budget beyond the supported maximum";
    case HeaderFault::too_many_levels:
      return format("unsupported: model order %" PRIu32 " (the largest this decoder has room for is %" PRIu32 ")",
                    h.level_limit - 1, MAX_LEVEL_LIMIT - 1);
  }
  return "";
}

}  // namespace tav
