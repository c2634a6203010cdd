#include "member_encode.h"

#include <algorithm>
#include <array>

#include "member_index.h"

namespace tav {

MemberEncodeResult encode_member(std::span<const uint8_t> text, const EncodeSettings& s,
                                 RewindableSink& out, const FallbackObserver& observer, MemberPlace place) {
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
  t.number = place.number;
  t.last = place.last;
  if (!out.write({fillers.data(), r.omitted_ff}) || !out.write(write_trailer(t))) {
    r.status = EncodeStatus::io_error;
    return m;
  }
  m.member_bytes = t.member_bytes;
  return m;
}

}  // namespace tav
