// Writing members: header, the stream written out in full, then the trailer
// (member_index.h).  "In full" means every byte the decoder will read: the
// range encoder leaves the trailing 0xFF bytes of its final window to the
// fillers a decoder reads past the end of a plain file, and a member appends
// exactly those bytes, so a decoder that reads only the stream never takes a
// trailer byte for stream.  The plain stream itself is not changed: its bytes
// are the ones encode_stream writes, byte for byte.
//
// A text longer than one member may hold is cut into blocks, one member
// each, each coded with its own model (the run engine's block cutter).
#pragma once

#include <cstdint>
#include <span>

#include "byte_io.h"
#include "order_fallback.h"
#include "settings.h"

namespace tav {

// Where a member stands in its run (member_index.h): its number, and whether
// it is known to be the last.  A member coded before the end of its input is
// known is written as not the last; mark_last_member marks it later.
struct MemberPlace {
  uint32_t number = 0;
  bool last = true;
};

// A block whose long repeats the long-range stage took out: the model codes
// its literals, and the member carries the reference section and states the
// whole block (its length and XXH64).
struct LongRangePart {
  std::span<const uint8_t> section;
  uint32_t text_length = 0;
  uint64_t text_hash = 0;
};

struct MemberEncodeResult {
  FallbackResult coded;       // the order used, or the failure that ended the search
  uint64_t member_bytes = 0;  // header + full stream + trailer, on success
};

// Writes one member for `text` (at most MAX_TEXT_LENGTH bytes; with
// `long_range`, the block's literals) to `out`, with
// the order fallback of encode_with_fallback.  `out.rewind()` must go back to
// where this member starts: a sink that holds earlier members rewinds to a
// mark, not to its beginning.  Requires the numeric mode to be set.
MemberEncodeResult encode_member(std::span<const uint8_t> text, const EncodeSettings& s,
                                 RewindableSink& out, const FallbackObserver& observer = {},
                                 MemberPlace place = {}, const LongRangePart* long_range = nullptr);

}  // namespace tav
