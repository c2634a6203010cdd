#include "member_encode.h"

#include <algorithm>
#include <array>

#include "member_index.h"

namespace tav {

MemberEncodeResult encode_member(std::span<const uint8_t> text, const EncodeSettings& s,
                                 RewindableSink& out, const FallbackObserver& observer) {
  MemberEncodeResult m;
  m.coded = encode_with_fallback(text, s, out, observer);
  EncodeResult& r = m.coded.result;
  if (r.status != EncodeStatus::ok) return m;
  // The bytes the decoder reads as fillers past a plain stream's end.
  const std::array<uint8_t, 4> fillers = {0xFF, 0xFF, 0xFF, 0xFF};
  const uint64_t stream_bytes = r.stream_bytes + r.omitted_ff;
  MemberTrailer t;
  t.text_hash = text_hash(text);
  t.member_bytes = member_bytes_for_stream(stream_bytes);
  t.text_length = static_cast<uint32_t>(text.size());
  if (!out.write({fillers.data(), r.omitted_ff}) || !out.write(write_trailer(t))) {
    r.status = EncodeStatus::io_error;
    return m;
  }
  m.member_bytes = t.member_bytes;
  return m;
}

std::vector<std::span<const uint8_t>> member_blocks(std::span<const uint8_t> text,
                                                    uint64_t max_block) {
  max_block = std::clamp<uint64_t>(max_block, 1, MAX_TEXT_LENGTH);
  std::vector<std::span<const uint8_t>> blocks;
  size_t at = 0;
  do {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(max_block, text.size() - at));
    blocks.push_back(text.subspan(at, n));
    at += n;
  } while (at < text.size());
  return blocks;
}

}  // namespace tav
