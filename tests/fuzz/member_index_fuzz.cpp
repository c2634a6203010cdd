// The member index over any file bytes: it must never read outside the file,
// and whatever it accepts must hold together.  Accepted members tile the file
// (or, after a damage report, the part after the damage) with trailers that
// write back to the same bytes; the sequential reader agrees with the walk
// back at every member; dropping the last member leaves the others.
#include <algorithm>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "member_index.h"
#include "after_stream.h"

namespace {

using tav::Member;
using tav::MemberIndex;

// The members must lie end to end from `from` to the end of the file.
void check_tiling(std::span<const uint8_t> file, const std::vector<Member>& members, uint64_t from) {
  uint64_t at = from;
  for (const Member& m : members) {
    if (m.offset != at || m.stream_offset != at + tav::HEADER_BYTES) fuzz::fail("members not end to end");
    if (m.stream_bytes < tav::MIN_STREAM_BYTES) fuzz::fail("stream shorter than the decoder reads");
    if (m.header.text_length != m.trailer.text_length) fuzz::fail("text lengths differ");
    at += m.trailer.member_bytes;
    if (at > file.size() || tav::member_bytes_for_stream(m.stream_bytes) != m.trailer.member_bytes)
      fuzz::fail("member size");
    const auto written = tav::write_trailer(m.trailer);
    if (!std::equal(written.begin(), written.end(), file.begin() + (at - tav::TRAILER_BYTES)))
      fuzz::fail("trailer does not write back to its bytes");
    const uint64_t stream_end = m.stream_offset + m.stream_bytes;
    const size_t window = std::min<uint64_t>(file.size() - stream_end, tav::TRAILER_BYTES + 1);
    const tav::AfterStream next =
        tav::read_after_stream(file.subspan(stream_end, window), m.offset, m.header, m.stream_bytes);
    const auto want = at == file.size() ? tav::AfterStream::Kind::last_member
                                        : tav::AfterStream::Kind::more_members;
    if (next.kind != want || next.member.trailer.text_hash != m.trailer.text_hash)
      fuzz::fail("the sequential reader disagrees with the index");
    if (tav::verify_member(m, m.trailer.text_hash, m.stream_bytes)) fuzz::fail("verify refuses a match");
  }
  if (at != file.size()) fuzz::fail("members do not reach the end of the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  const MemberIndex idx = tav::index_members(file);
  switch (idx.kind) {
    case MemberIndex::Kind::plain:
      if (!idx.members.empty()) fuzz::fail("plain file with members");
      break;
    case MemberIndex::Kind::damaged: {
      if (idx.damage.fault == tav::MemberFault::none) fuzz::fail("damage without a fault");
      const uint64_t first = idx.members.empty() ? size : idx.members.front().offset;
      if (idx.damage.offset > first) fuzz::fail("damage reported after an intact member");
      check_tiling(file, idx.members, first);
      break;
    }
    case MemberIndex::Kind::members: {
      check_tiling(file, idx.members, 0);
      if (idx.members.size() < 2) break;
      const MemberIndex shorter = tav::index_members(file.first(idx.members.back().offset));
      if (shorter.kind != MemberIndex::Kind::members || shorter.members.size() + 1 != idx.members.size())
        fuzz::fail("dropping the last member changes the others");
      break;
    }
  }
  if (size >= tav::TRAILER_BYTES) {
    const tav::TrailerParse p = tav::parse_trailer(file.last(tav::TRAILER_BYTES));
    const auto written = tav::write_trailer(p.trailer);
    if (p.fault == tav::MemberFault::none && !std::equal(written.begin(), written.end(), file.end() - tav::TRAILER_BYTES))
      fuzz::fail("an accepted trailer does not write back to its bytes");
  }
  return 0;
}
