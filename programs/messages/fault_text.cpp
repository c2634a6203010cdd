#include "fault_text.h"

#include <cinttypes>
#include <cstdio>

namespace tav {

namespace {

std::string format(const char* fmt, uint32_t a, uint32_t b) {
  char buf[160];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

}  // namespace

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
                    h.order(), MAX_LEVEL_LIMIT - 1);
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
                    h.order(), MAX_LEVEL_LIMIT - 1);
  }
  return "";
}

std::string damage_reason(const RunError& e, bool checked) {
  if (e.member_fault != MemberFault::none) return describe(e.member_fault);
  if (!checked) return describe(e.stream);
  const char* how = e.stream == ByteStatus::endless_reset ? "it ends before its text"
                                                          : "it does not decode to its text";
  return "the stream of member " + std::to_string(e.member + 1) + " is damaged: " + how;
}

}  // namespace tav
