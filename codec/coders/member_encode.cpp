#include "member_encode.h"

#include <algorithm>
#include <array>

#include "member_index.h"

namespace tav {

MemberEncodeResult encode_member(std::span<const uint8_t> text, const EncodeSettings& s,
                                 RewindableSink& out, const FallbackObserver& observer, MemberPlace place,
                                 const LongRangePart* long_range) {
  MemberEncodeResult m;
  m.coded = encode_with_fallback(text, s, out, observer);
  EncodeResult& r = m.coded.result;
  if (r.status != EncodeStatus::ok) return m;
  // The bytes the decoder reads as fillers past a plain stream's end.
  const std::array<uint8_t, 4> fillers = {0xFF, 0xFF, 0xFF, 0xFF};
  uint64_t stream_bytes = r.stream_bytes + r.omitted_ff;
  MemberTrailer t;
  if (long_range == nullptr) t.text_hash = text_hash(text);
  t.text_length = static_cast<uint32_t>(text.size());
  t.number = place.number;
  t.last = place.last;
  bool ok = out.write({fillers.data(), r.omitted_ff});
  if (long_range != nullptr) {
    // The section and its size sit between the stream and the trailer.
    const uint32_t size = static_cast<uint32_t>(long_range->section.size());
    const std::array<uint8_t, 4> size_bytes = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                               static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    ok = ok && out.write(long_range->section) && out.write(size_bytes);
    stream_bytes += long_range->section.size() + SECTION_SIZE_BYTES;
    t.long_range = true;
    t.text_length = long_range->text_length;
    t.text_hash = long_range->text_hash;
  }
  t.member_bytes = member_bytes_for_stream(stream_bytes);
  if (!ok || !out.write(write_trailer(t))) {
    r.status = EncodeStatus::io_error;
    return m;
  }
  m.member_bytes = t.member_bytes;
  return m;
}

}  // namespace tav
