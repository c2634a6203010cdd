// Checks a finished container against the text it should hold, by decoding it
// with the decoder's own model (tav_e --verify).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tav {

// Decodes the whole container (header and stream) and compares it with
// `text`; the decoder must also consume exactly the container's bytes.
// Returns an empty string when all agrees, else a short reason ("the decoded
// text differs at byte 17").  The decoding model may take at most
// `node_memory_limit` bytes of node memory.  Requires the numeric mode to be
// set; needs memory for a second copy of the text and a second model.
std::string verify_container(std::span<const uint8_t> container, std::span<const uint8_t> text,
                             uint64_t node_memory_limit = UINT64_MAX);

// The same for a file of members (tav_e's output): every member must pass
// its checks, and their texts in order must be `text`.
std::string verify_members(std::span<const uint8_t> file, std::span<const uint8_t> text,
                           uint64_t node_memory_limit = UINT64_MAX);

}  // namespace tav
