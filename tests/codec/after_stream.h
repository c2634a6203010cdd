// Reading a file forwards, as a decoder that knows nothing of the end of
// the file would: what follows a stream that has just been decoded.  The
// tests hold it beside the backward walk of index_members, which must agree.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "member_index.h"

namespace tav {

// What follows a stream that has just been decoded from a file read in
// order.  `next` holds the bytes after the stream's last consumed byte: at
// least TRAILER_BYTES + 1 of them, or all of them where the file ends sooner.
struct AfterStream {
  enum class Kind { end_of_file, last_member, more_members, damaged };
  Kind kind = Kind::end_of_file;
  Member member;        // last_member, more_members: the member just decoded
  MemberDamage damage;  // damaged only
};

// `member_offset` is the file offset of the stream's header, `header` the
// header read there, and `stream_bytes` every byte the decoder took from the
// stream.  end_of_file means nothing follows (a plain file, or a member
// without trailer: no check is possible).  A trailer must end exactly where
// it says its member ends, with the header's text length.
AfterStream read_after_stream(std::span<const uint8_t> next, uint64_t member_offset,
                              const ContainerHeader& header, uint64_t stream_bytes);

inline AfterStream read_after_stream(std::span<const uint8_t> next, uint64_t member_offset,
                              const ContainerHeader& header, uint64_t stream_bytes) {
  AfterStream r;
  if (next.empty()) return r;
  const uint64_t stream_end = member_offset + HEADER_BYTES + stream_bytes;
  const auto fail = [&r](uint64_t offset, MemberFault f) {
    r.kind = AfterStream::Kind::damaged;
    r.damage = {offset, f};
    return r;
  };
  const TrailerParse p = parse_trailer(next.first(std::min<size_t>(next.size(), TRAILER_BYTES)));
  if (p.fault != MemberFault::none) return fail(stream_end, p.fault);
  if (p.trailer.member_bytes != member_bytes_for_stream(stream_bytes))
    return fail(stream_end, MemberFault::stream_end_mismatch);
  if (p.trailer.text_length != header.text_length)
    return fail(member_offset, MemberFault::text_length_mismatch);
  r.kind = next.size() > TRAILER_BYTES ? AfterStream::Kind::more_members
                                       : AfterStream::Kind::last_member;
  r.member.offset = member_offset;
  r.member.header = header;
  r.member.stream_offset = member_offset + HEADER_BYTES;
  r.member.stream_bytes = stream_bytes;
  r.member.trailer = p.trailer;
  return r;
}

}  // namespace tav
