// Checks finished members against the text they should hold, by decoding
// them with the decoder's own model (tav_e --verify).
#pragma once

#include <cstdint>
#include <span>

#include "decode_loop.h"
#include "member_index.h"

namespace tav {

// What a verification found; `kind` none when all agrees.
struct VerifyFinding {
  enum class Kind {
    none,
    plan_damaged,    // the trailers do not add up (`member_fault` at `at`, a file offset)
    not_members,     // the bytes carry no trailer
    sizes_differ,    // the headers' text lengths do not add up to the text's
    no_memory,       // no memory for the decoded text
    member_damaged,  // a member's checks fail (`member_fault` at `at`, a file offset)
    stream_failed,   // a member's stream fails (`stream`; `at`: the member's offset)
    text_differs,    // the decoded text differs from the text at byte `at`
  };
  Kind kind = Kind::none;
  uint64_t at = 0;
  MemberFault member_fault = MemberFault::none;
  ByteStatus stream = ByteStatus::ok;
  explicit operator bool() const { return kind != Kind::none; }
};

// Decodes every member of `file` (tav_e's output) and compares their texts,
// in order, with `text`; every member must pass its checks.  For members
// with long-range references, `text` is their literals: the part a model
// coded.  The decoding
// model may take at most `node_memory_limit` bytes of node memory.  Requires
// the numeric mode; needs memory for a second copy of the text and a second
// model.
VerifyFinding verify_members(std::span<const uint8_t> file, std::span<const uint8_t> text,
                             uint64_t node_memory_limit = UINT64_MAX);

}  // namespace tav
