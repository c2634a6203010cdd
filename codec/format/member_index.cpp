#include "member_index.h"

#include <algorithm>
#include <cassert>
#include <functional>
#include <iterator>

#define XXH_INLINE_ALL  // header-only: no library to link or cross-build
#include <xxhash.h>

namespace tav {
namespace {

// Field offsets within the trailer (see the header's tables).  Version,
// check and magic sit at the same place in every version.
constexpr size_t HASH_AT = 0, VERSION_AT = 20, FLAGS_AT = 21, CHECK_AT = 24, MAGIC_AT = 28;
constexpr size_t V1_SIZE_AT = 8, V1_LENGTH_AT = 16;
constexpr size_t V2_LENGTH_AT = 8, V2_NUMBER_AT = 12, V2_SIZE_LOW_AT = 16, V2_SIZE_HIGH_AT = 22,
                 V2_RESERVED_AT = 23;
constexpr uint8_t LAST_MEMBER = 0x01, LONG_RANGE = 0x02;  // version 2 flags
// Bytes up to and including the check: what a trailer cut short within its
// magic still holds.
constexpr size_t CHECKED_PART = MAGIC_AT;
constexpr size_t MAGIC_BYTES = TRAILER_MAGIC.size();
static_assert(MAGIC_AT + MAGIC_BYTES == TRAILER_BYTES);

uint64_t load_le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void store_le(uint8_t* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t trailer_check(const uint8_t* t) { return XXH32(t, CHECK_AT, 0); }

// The check holds over bytes 0..23 (at least CHECKED_PART bytes at `t`).
bool check_holds(const uint8_t* t) { return trailer_check(t) == load_le(t + CHECK_AT, 4); }

// Version 1 with no flags and zero reserved bytes, or version 2 with only
// the flags it defines and a zero reserved byte.
bool known_layout(const uint8_t* t) {
  if (t[VERSION_AT] == 1) return t[FLAGS_AT] == 0 && t[FLAGS_AT + 1] == 0 && t[FLAGS_AT + 2] == 0;
  if (t[VERSION_AT] == 2) return (t[FLAGS_AT] & ~(LAST_MEMBER | LONG_RANGE)) == 0 && t[V2_RESERVED_AT] == 0;
  return false;
}

bool magic_ends_at(std::span<const uint8_t> file, uint64_t end) {
  return end >= MAGIC_BYTES &&
         std::equal(TRAILER_MAGIC.begin(), TRAILER_MAGIC.end(), file.begin() + (end - MAGIC_BYTES));
}

// A trailer of this layout whose check holds ends at `end`, with a damaged
// magic, or `cut` bytes later (cut 1..max_cut, at most the magic's 8 bytes)
// but the file stops within its magic.  Random bytes pass the check and the
// fixed layout bytes with odds of 2^-64 per `cut`, so a plain file is not
// mistaken for one.
std::optional<MemberDamage> damaged_trailer_ending_at(std::span<const uint8_t> file,
                                                      uint64_t end, uint64_t max_cut) {
  for (uint64_t cut = 0; cut <= max_cut && cut <= MAGIC_BYTES; ++cut) {
    if (end + cut < TRAILER_BYTES) continue;
    const uint64_t start = end + cut - TRAILER_BYTES;
    const uint8_t* const t = file.data() + start;
    if (!check_holds(t) || !known_layout(t)) continue;
    if (cut == 0) return MemberDamage{start, MemberFault::trailer_damaged};
    if (std::equal(t + MAGIC_AT, file.data() + end, TRAILER_MAGIC.begin()))
      return MemberDamage{start, MemberFault::trailer_cut_short};
  }
  return std::nullopt;
}

// End offset of the last trailer in file[0, limit) whose check holds, or 0.
// One backward scan for the magic: used only when the walk cannot go on.
uint64_t last_intact_trailer_end(std::span<const uint8_t> file, uint64_t limit) {
  using Rev = std::reverse_iterator<std::span<const uint8_t>::iterator>;
  const Rev rend(file.begin());
  const std::boyer_moore_horspool_searcher searcher(TRAILER_MAGIC.rbegin(), TRAILER_MAGIC.rend());
  for (Rev from(file.begin() + limit);;) {
    const Rev hit = std::search(from, rend, searcher);
    if (hit == rend) return 0;
    const uint64_t end = static_cast<uint64_t>(hit.base() - file.begin());
    if (end >= TRAILER_BYTES && check_holds(file.data() + end - TRAILER_BYTES)) return end;
    from = std::next(hit);
  }
}

// Why no trailer ends at `pos`, where a member starts.
MemberDamage explain_gap(std::span<const uint8_t> file, uint64_t pos) {
  if (const auto d = damaged_trailer_ending_at(file, pos, 0)) return *d;
  if (const uint64_t end = last_intact_trailer_end(file, pos))
    return {end, MemberFault::unclaimed_bytes};
  return {0, MemberFault::bytes_before_first_member};
}

MemberIndex damaged_index(MemberDamage d, std::vector<Member> intact = {}) {
  MemberIndex idx;
  idx.kind = MemberIndex::Kind::damaged;
  idx.damage = d;
  idx.members = std::move(intact);
  return idx;
}

// The member whose trailer `t` ends at `end`; a long-range section must fit
// between the shortest stream and the trailer.
std::optional<MemberDamage> member_at(std::span<const uint8_t> file, uint64_t end, const MemberTrailer& t,
                                      Member& m) {
  m.offset = end - t.member_bytes;
  m.header = parse_header_bytes(file.data() + m.offset, HEADER_BYTES);
  m.stream_offset = m.offset + HEADER_BYTES;
  m.stream_bytes = t.member_bytes - HEADER_BYTES - TRAILER_BYTES;
  m.trailer = t;
  if (t.long_range) {
    const uint64_t size_at = end - TRAILER_BYTES - SECTION_SIZE_BYTES;
    if (m.stream_bytes < MIN_STREAM_BYTES + SECTION_SIZE_BYTES)
      return MemberDamage{end - TRAILER_BYTES, MemberFault::member_too_small};
    m.section_bytes = load_le(file.data() + size_at, 4);
    if (m.section_bytes > m.stream_bytes - MIN_STREAM_BYTES - SECTION_SIZE_BYTES)
      return MemberDamage{size_at, MemberFault::section_out_of_bounds};
    m.section_offset = size_at - m.section_bytes;
    m.stream_bytes -= m.section_bytes + SECTION_SIZE_BYTES;
  }
  // Literals never outnumber the text they rebuild; without references
  // they are the text.
  const bool lengths_agree = t.long_range ? m.header.text_length <= t.text_length
                                          : m.header.text_length == t.text_length;
  if (!lengths_agree) return MemberDamage{m.offset, MemberFault::text_length_mismatch};
  return std::nullopt;
}

// The runs of `members` (in file order) must add up: each version-2 run
// numbered from 0 without a gap and closed by its last member.
std::optional<MemberDamage> runs_fault(const std::vector<Member>& members, uint64_t file_size) {
  bool open = false;  // a version-2 run has started and not ended
  uint32_t next = 0;  // the number its next member must carry
  for (const Member& m : members) {
    const MemberTrailer& t = m.trailer;
    if (t.version == 1 || (open && t.number == 0 && next != 0)) {
      if (open) return MemberDamage{m.offset, MemberFault::run_cut_short};
      if (t.version == 1) continue;
    }
    if (t.number != (open ? next : 0)) return MemberDamage{m.offset, MemberFault::member_out_of_order};
    open = !t.last;
    next = t.number + 1;
  }
  if (open) return MemberDamage{file_size, MemberFault::run_cut_short};
  return std::nullopt;
}

// Collects the members ending at the end of the file, last member first,
// until the start of the file or the first fault.  Every step moves back by
// at least MIN_MEMBER_BYTES, so the walk ends.
std::optional<MemberDamage> walk_back(std::span<const uint8_t> file, std::vector<Member>& found) {
  for (uint64_t pos = file.size(); pos > 0;) {
    if (!magic_ends_at(file, pos)) return explain_gap(file, pos);
    if (pos < TRAILER_BYTES) return MemberDamage{0, MemberFault::trailer_cut_short};
    const uint64_t at = pos - TRAILER_BYTES;
    const TrailerParse p = parse_trailer(file.subspan(at, TRAILER_BYTES));
    if (p.fault != MemberFault::none) return MemberDamage{at, p.fault};
    if (p.trailer.member_bytes > pos) return MemberDamage{at, MemberFault::member_before_start};
    Member m;
    if (const auto damage = member_at(file, pos, p.trailer, m)) return damage;
    found.push_back(m);
    pos = m.offset;
  }
  return std::nullopt;
}

}  // namespace

const char* describe(MemberFault f) {
  switch (f) {
    case MemberFault::none: return "";
    case MemberFault::not_a_trailer: return "no member trailer here";
    case MemberFault::trailer_damaged: return "trailer damaged";
    case MemberFault::trailer_unsupported: return "trailer of an unsupported version";
    case MemberFault::trailer_cut_short: return "trailer cut short";
    case MemberFault::text_too_long: return "trailer text length beyond 2^31 - 1 bytes";
    case MemberFault::member_too_small: return "member size too small for a member";
    case MemberFault::member_before_start:
      return "member size points before the start of the file";
    case MemberFault::text_length_mismatch:
      return "header text length does not match the trailer";
    case MemberFault::bytes_before_first_member: return "bytes before the first member";
    case MemberFault::unclaimed_bytes: return "bytes after a member that belong to no member";
    case MemberFault::header_cut_short: return "the file is shorter than a header";
    case MemberFault::section_out_of_bounds: return "long-range section larger than its member";
    case MemberFault::references_damaged: return "long-range references damaged";
    case MemberFault::run_cut_short: return "members missing: the file ends before the last member of its run";
    case MemberFault::member_out_of_order: return "member missing, repeated or out of order";
    case MemberFault::stream_end_mismatch: return "stream does not end where the trailer says";
    case MemberFault::checksum_mismatch: return "checksum mismatch";
  }
  return "unknown fault";
}

uint64_t text_hash(std::span<const uint8_t> text) { return XXH64(text.data(), text.size(), 0); }

std::array<uint8_t, TRAILER_BYTES> write_trailer(const MemberTrailer& t) {
  assert(t.text_length <= MAX_TEXT_LENGTH && t.member_bytes >= MIN_MEMBER_BYTES &&
         t.member_bytes <= MAX_MEMBER_BYTES);
  std::array<uint8_t, TRAILER_BYTES> out{};
  store_le(out.data() + HASH_AT, t.text_hash, 8);
  out[VERSION_AT] = t.version;
  if (t.version == 1) {
    store_le(out.data() + V1_SIZE_AT, t.member_bytes, 8);
    store_le(out.data() + V1_LENGTH_AT, t.text_length, 4);
  } else {
    store_le(out.data() + V2_LENGTH_AT, t.text_length, 4);
    store_le(out.data() + V2_NUMBER_AT, t.number, 4);
    store_le(out.data() + V2_SIZE_LOW_AT, t.member_bytes, 4);
    out[V2_SIZE_HIGH_AT] = static_cast<uint8_t>(t.member_bytes >> 32);
    out[FLAGS_AT] = static_cast<uint8_t>((t.last ? LAST_MEMBER : 0) | (t.long_range ? LONG_RANGE : 0));
  }
  store_le(out.data() + CHECK_AT, trailer_check(out.data()), 4);
  std::copy(TRAILER_MAGIC.begin(), TRAILER_MAGIC.end(), out.begin() + MAGIC_AT);
  return out;
}

void mark_last_member(std::span<uint8_t> member) {
  assert(member.size() >= TRAILER_BYTES);
  uint8_t* const t = member.data() + (member.size() - TRAILER_BYTES);
  assert(t[VERSION_AT] == 2);
  t[FLAGS_AT] |= LAST_MEMBER;
  store_le(t + CHECK_AT, trailer_check(t), 4);
}

TrailerParse parse_trailer(std::span<const uint8_t> bytes) {
  TrailerParse r;
  if (bytes.size() < TRAILER_BYTES) {
    const bool checked = bytes.size() >= CHECKED_PART && check_holds(bytes.data());
    r.fault = checked ? MemberFault::trailer_cut_short : MemberFault::not_a_trailer;
    return r;
  }
  const uint8_t* const t = bytes.data();
  if (!std::equal(TRAILER_MAGIC.begin(), TRAILER_MAGIC.end(), t + MAGIC_AT))
    r.fault = MemberFault::not_a_trailer;
  else if (!check_holds(t))
    r.fault = MemberFault::trailer_damaged;
  else if (!known_layout(t))
    r.fault = MemberFault::trailer_unsupported;
  if (r.fault != MemberFault::none) return r;
  MemberTrailer& f = r.trailer;
  f.text_hash = load_le(t + HASH_AT, 8);
  f.version = t[VERSION_AT];
  if (f.version == 1) {
    f.member_bytes = load_le(t + V1_SIZE_AT, 8);
    f.text_length = static_cast<uint32_t>(load_le(t + V1_LENGTH_AT, 4));
  } else {
    f.text_length = static_cast<uint32_t>(load_le(t + V2_LENGTH_AT, 4));
    f.number = static_cast<uint32_t>(load_le(t + V2_NUMBER_AT, 4));
    f.member_bytes = load_le(t + V2_SIZE_LOW_AT, 4) | uint64_t{t[V2_SIZE_HIGH_AT]} << 32;
    f.last = (t[FLAGS_AT] & LAST_MEMBER) != 0;
    f.long_range = (t[FLAGS_AT] & LONG_RANGE) != 0;
  }
  if (r.trailer.text_length > MAX_TEXT_LENGTH)
    r.fault = MemberFault::text_too_long;
  else if (r.trailer.member_bytes < MIN_MEMBER_BYTES)
    r.fault = MemberFault::member_too_small;
  return r;
}

MemberIndex index_members(std::span<const uint8_t> file, bool check_runs) {
  const uint64_t size = file.size();
  if (!magic_ends_at(file, size)) {
    if (const auto d = damaged_trailer_ending_at(file, size, MAGIC_BYTES))
      return damaged_index(*d);
    if (const uint64_t end = last_intact_trailer_end(file, size))
      return damaged_index({end, MemberFault::unclaimed_bytes});
    return MemberIndex{};
  }
  std::vector<Member> found;
  std::optional<MemberDamage> damage = walk_back(file, found);
  std::reverse(found.begin(), found.end());
  if (!damage && check_runs) damage = runs_fault(found, size);
  if (damage) return damaged_index(*damage, std::move(found));
  MemberIndex idx;
  idx.kind = MemberIndex::Kind::members;
  idx.members = std::move(found);
  return idx;
}

std::optional<MemberDamage> verify_member(const Member& m, std::optional<uint64_t> decoded_text_hash,
                                          uint64_t consumed) {
  if (consumed != m.stream_bytes)
    return MemberDamage{m.stream_offset + consumed, MemberFault::stream_end_mismatch};
  if (decoded_text_hash && *decoded_text_hash != m.trailer.text_hash)
    return MemberDamage{m.offset, MemberFault::checksum_mismatch};
  return std::nullopt;
}

}  // namespace tav
