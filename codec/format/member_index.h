// Members of a compressed file, and the trailer that closes each one.
//
// A file is either "plain" (one header + stream running to the end of the
// file, no check: files of earlier builds and of other compressors) or one or
// more members.  A member is a complete header + stream, written out in full
// (the decoder never reads past it), followed by a 36-byte trailer.  Bytes
// 20 (version), 24..27 (check) and 28..35 (magic) are the same in every
// version; docs/format.md has the tables.
//
//   version 2 (written since members are numbered in runs):
//    0     8   text_hash     XXH64, seed 0, of the member's decoded text
//    8     4   text_length   bytes of decoded text; equals the header's
//   12     4   number        the member's place in its run, from 0 (mod 2^32)
//   16     4   member_bytes  bits 0..31 of header + stream + trailer
//   20     1   version       2
//   21     1   flags         bit 0: the last member of its run;
//                             bit 1: long-range references (below); others 0
//   22     1   member_bytes  bits 32..39
//   23     1   reserved      0
//   24     4   trailer_check XXH32, seed 0, of bytes 0..23
//   28     8   magic         89 74 61 76 4D 42 0D FF
//
//   version 1 (files of earlier builds; each member stands alone):
//    0     8   text_hash     8  8 member_bytes   16  4 text_length
//   20     1   version 1     21 3 flags and reserved, 0
//
// A member with long-range references (long_range.h) holds, between its
// stream (with the fillers) and its trailer, the reference section of its
// block and then the section's size as a u32; its header's text_length counts
// the literals the model codes, its trailer's text_length and text_hash the
// block rebuilt from them.  Their copies reach back into earlier members of
// the same run only.
//
// A run is what one compression wrote: members numbered 0, 1, 2, ... with the
// last one flagged, so a file cut at a member boundary, or with a member
// dropped, repeated or moved, is refused, while whole runs may follow each
// other (cat a.tav b.tav).  Integers are little-endian.  `xxhsum -H1
// member.txt` prints text_hash as big-endian hex: the 8 stored bytes in
// reverse order.
//
// Why this shape: the magic comes last so a reader walking back from the end
// of the file meets it first; member_bytes lets it jump to the member's start
// without decoding, so N members cost O(N) and can be handed to N threads;
// trailer_check tells a damaged trailer from a text whose checksum differs.
// A strict decoder that reads only the header's stream decodes a one-member
// file unchanged, because the stream never runs into its trailer.
//
// Everything here is a pure function of byte spans: nothing reads outside
// the span it is given, no size is used before it is checked against the
// span, and every fault comes back as a value with the file offset where it
// lies.  Nothing allocates except the index's list of members.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "container.h"

namespace tav {

inline constexpr uint32_t TRAILER_BYTES = 36;
inline constexpr uint8_t TRAILER_VERSION = 2;  // written; version 1 is still read
inline constexpr std::array<uint8_t, 8> TRAILER_MAGIC = {0x89, 0x74, 0x61, 0x76,
                                                         0x4D, 0x42, 0x0D, 0xFF};
// The decoder always reads 8 stream bytes before the first symbol, so a
// member's stream, written in full, is never shorter.
inline constexpr uint64_t MIN_STREAM_BYTES = 8;
inline constexpr uint64_t MIN_MEMBER_BYTES = HEADER_BYTES + MIN_STREAM_BYTES + TRAILER_BYTES;

// The largest member a version-2 trailer can state: 40 bits.
inline constexpr uint64_t MAX_MEMBER_BYTES = (uint64_t{1} << 40) - 1;
// The size of a long-range member's reference section, before its trailer.
inline constexpr uint64_t SECTION_SIZE_BYTES = 4;

struct MemberTrailer {
  uint64_t text_hash = 0;
  uint64_t member_bytes = 0;
  uint32_t text_length = 0;
  uint8_t version = TRAILER_VERSION;
  uint32_t number = 0;  // version 2: the member's place in its run
  bool last = true;     // version 2: the last member of its run
  bool long_range = false;  // version 2: a reference section follows the stream
};

enum class MemberFault {
  none,
  not_a_trailer,          // no trailer magic where a trailer must end
  trailer_damaged,        // the trailer's own check fails
  trailer_unsupported,    // intact, but of a later version or with unknown flags
  trailer_cut_short,      // the file ends inside a trailer
  text_too_long,          // the trailer claims more than 2^31 - 1 bytes of text
  member_too_small,       // member_bytes below a header, 8 stream bytes and a trailer
  member_before_start,    // member_bytes reaches back past the start of the file
  text_length_mismatch,   // header and trailer disagree on the text length
  bytes_before_first_member,
  unclaimed_bytes,        // bytes after an intact trailer that no later trailer accounts for
  header_cut_short,       // a plain file shorter than its header
  section_out_of_bounds,  // a long-range section larger than its member holds
  references_damaged,     // a long-range section that does not rebuild its block
  run_cut_short,          // a run of members ends before its last member
  member_out_of_order,    // a member's number is not the next of its run
  stream_end_mismatch,    // the decoder did not stop where the trailer says the stream ends
  checksum_mismatch,      // the decoded text's XXH64 differs from the trailer's
};

// A short text for a fault, e.g. "trailer damaged" ("" for none).
const char* describe(MemberFault f);

struct MemberDamage {
  uint64_t offset = 0;  // file offset of the fault
  MemberFault fault = MemberFault::none;
  friend bool operator==(const MemberDamage&, const MemberDamage&) = default;
};

struct Member {
  uint64_t offset = 0;  // file offset of the header
  ContainerHeader header;
  uint64_t stream_offset = 0;  // offset + HEADER_BYTES
  uint64_t stream_bytes = 0;   // what the decoder must consume, no more, no less
  uint64_t section_offset = 0; // long range: the reference section's place
  uint64_t section_bytes = 0;  // and size (0 without)
  MemberTrailer trailer;
  // Bytes of text the member gives: the block, whatever its literals.
  uint32_t text_length() const { return trailer.text_length; }
};

// XXH64, seed 0: the value a trailer keeps for a text.
uint64_t text_hash(std::span<const uint8_t> text);

// member_bytes of a member whose stream has `stream_bytes` bytes.
constexpr uint64_t member_bytes_for_stream(uint64_t stream_bytes) {
  return HEADER_BYTES + stream_bytes + TRAILER_BYTES;
}

// The trailer's bytes, in t.version's layout.  Expects t.text_length <=
// MAX_TEXT_LENGTH and MIN_MEMBER_BYTES <= t.member_bytes <= MAX_MEMBER_BYTES
// (the reader refuses anything else).
std::array<uint8_t, TRAILER_BYTES> write_trailer(const MemberTrailer& t);

// Marks the member whose bytes end `member` (trailer included, version 2) as
// the last of its run: its flag and its check are rewritten in place.
void mark_last_member(std::span<uint8_t> member);

struct TrailerParse {
  MemberFault fault = MemberFault::none;  // none: `trailer` holds the fields
  MemberTrailer trailer;
};

// Reads the trailer in bytes[0..TRAILER_BYTES) (a shorter span is
// trailer_cut_short).  Checks, in this order: magic (not_a_trailer), the
// trailer's check (trailer_damaged), version and flags (trailer_unsupported),
// text length and member size against the format's limits.  Both versions
// are read; numbering is checked over the whole file by index_members.
TrailerParse parse_trailer(std::span<const uint8_t> bytes);

struct MemberIndex {
  enum class Kind { plain, members, damaged };
  Kind kind = Kind::plain;
  // members: every member in file order, covering the file exactly.
  // damaged: the intact members found after the damage, in file order.
  // plain: empty; the stream runs from HEADER_BYTES to the end of the file.
  std::vector<Member> members;
  MemberDamage damage;  // kind == damaged only
};

// Finds the members of a whole file by walking trailers back from its end,
// without decoding.  A file that ends in no trailer is plain, unless it holds
// an intact trailer further in, or its end is a trailer with a damaged magic
// or cut short within its last 8 bytes: then it is damaged.  The members'
// runs must add up: version-2 members numbered from 0 with the last flagged
// (run_cut_short, member_out_of_order at the member that breaks the run, or
// at the end of the file); version-1 members stand alone.  Walking costs
// O(members); a plain or damaged file costs one backward scan of its bytes.
// `check_runs` false skips the runs (a member checked before it is marked).
MemberIndex index_members(std::span<const uint8_t> file, bool check_runs = true);

// The checks after decoding a member: the decoder must have consumed
// exactly the member's stream (`consumed` counts every byte it took,
// end-of-span fillers included; reported at the offset where it stopped),
// and the text must have the trailer's hash (reported at the member's start;
// no hash: a long-range member's literals, whose block is checked once
// rebuilt).
std::optional<MemberDamage> verify_member(const Member& m, std::optional<uint64_t> decoded_text_hash,
                                          uint64_t consumed);

}  // namespace tav
