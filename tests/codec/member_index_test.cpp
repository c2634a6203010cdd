// Member trailers and the member index over synthetic files: the index never
// decodes, so a member's stream can be any bytes.  Damage of every kind must
// come back as a damage report, never as a different list of members.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <tuple>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "member_index.h"
#include "after_stream.h"

namespace tav {
namespace {

using Bytes = std::vector<uint8_t>;
using Kind = MemberIndex::Kind;
using F = MemberFault;

// A member with `stream` random stream bytes; its hash is arbitrary.  By
// default a whole run of one member.
Bytes member(uint32_t text_length, size_t stream, uint32_t seed, uint8_t version = TRAILER_VERSION,
             uint32_t number = 0, bool last = true) {
  Bytes m(HEADER_BYTES);
  write_header_bytes({text_length, 9, 16}, m.data());
  std::mt19937 rng(seed);
  for (size_t i = 0; i < stream; ++i) m.push_back(static_cast<uint8_t>(rng()));
  const auto t = write_trailer(
      {0x0123456789ABCDEFull * seed, member_bytes_for_stream(stream), text_length, version, number, last});
  m.insert(m.end(), t.begin(), t.end());
  return m;
}

Bytes three_members() {
  Bytes f = member(100, 40, 1);
  for (const Bytes& m : {member(0, 8, 2), member(77, 61, 3)}) f.insert(f.end(), m.begin(), m.end());
  return f;
}

// Recomputes the check of the trailer at `at`, as a hostile writer would.
void reseal(Bytes& f, size_t at) {
  const uint32_t c = XXH32(f.data() + at, 24, 0);
  for (int i = 0; i < 4; ++i) f[at + 24 + i] = static_cast<uint8_t>(c >> (8 * i));
}

void put_le(Bytes& f, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// member_bytes of the version-2 trailer at `at`: 32 bits at 16, 8 more at 22.
void put_member_bytes(Bytes& f, size_t at, uint64_t v) {
  put_le(f, at + 16, v, 4);
  f[at + 22] = static_cast<uint8_t>(v >> 32);
}

// What the index says about a member: where it lies and what its trailer holds.
auto keys(std::span<const Member> ms) {
  std::vector<std::tuple<uint64_t, uint64_t, uint64_t, uint32_t, uint64_t, uint64_t>> k;
  for (const Member& m : ms)
    k.emplace_back(m.offset, m.stream_offset, m.stream_bytes, m.header.text_length, m.trailer.text_hash,
                   m.trailer.member_bytes);
  return k;
}

TEST(MemberTrailer, RoundTripsAndHashesAsXxhsumShowsIt) {
  for (const MemberTrailer t : {MemberTrailer{0, MIN_MEMBER_BYTES, 0},
                                MemberTrailer{~0ull, MAX_MEMBER_BYTES, MAX_TEXT_LENGTH, 2, ~0u, false},
                                MemberTrailer{0x8000000000000001ull, 123456789, 4242, 2, 7, true},
                                MemberTrailer{~0ull, 1ull << 50, MAX_TEXT_LENGTH, 1}}) {
    const TrailerParse p = parse_trailer(write_trailer(t));
    ASSERT_EQ(p.fault, F::none);
    EXPECT_EQ(p.trailer.text_hash, t.text_hash);
    EXPECT_EQ(p.trailer.member_bytes, t.member_bytes);
    EXPECT_EQ(p.trailer.text_length, t.text_length);
    EXPECT_EQ(p.trailer.version, t.version);
    if (t.version == 2) {
      EXPECT_EQ(p.trailer.number, t.number);
      EXPECT_EQ(p.trailer.last, t.last);
    }
  }
  // `printf abc | xxhsum -H1` prints 44bc2cf5ad770999: the stored bytes reversed.
  const Bytes abc = {'a', 'b', 'c'};
  const auto t = write_trailer({text_hash(abc), MIN_MEMBER_BYTES, 3});
  EXPECT_EQ(Bytes(t.begin(), t.begin() + 8), (Bytes{0x99, 0x09, 0x77, 0xAD, 0xF5, 0x2C, 0xBC, 0x44}));
}

TEST(MemberTrailer, RefusesWhatItCannotTrust) {
  const struct {
    const char* what;
    void (*edit)(Bytes&);
    F fault;
  } cases[] = {
      {"magic", [](Bytes& t) { t[35] ^= 1; }, F::not_a_trailer},
      {"hash byte", [](Bytes& t) { t[3] ^= 1; }, F::trailer_damaged},
      {"check byte", [](Bytes& t) { t[26] ^= 1; }, F::trailer_damaged},
      {"version 3", [](Bytes& t) { t[20] = 3; reseal(t, 0); }, F::trailer_unsupported},
      {"version 0", [](Bytes& t) { t[20] = 0; reseal(t, 0); }, F::trailer_unsupported},
      {"an unknown flag", [](Bytes& t) { t[21] |= 0x80; reseal(t, 0); }, F::trailer_unsupported},
      {"reserved byte", [](Bytes& t) { t[23] = 1; reseal(t, 0); }, F::trailer_unsupported},
      {"version 1 with a flag", [](Bytes& t) { t[20] = 1; reseal(t, 0); }, F::trailer_unsupported},
      {"text 2^31", [](Bytes& t) { put_le(t, 8, 1u << 31, 4); reseal(t, 0); }, F::text_too_long},
      {"member 0", [](Bytes& t) { put_member_bytes(t, 0, 0); reseal(t, 0); }, F::member_too_small},
      {"cut in magic", [](Bytes& t) { t.resize(30); }, F::trailer_cut_short},
      {"cut in fields", [](Bytes& t) { t.resize(20); }, F::not_a_trailer},
  };
  const auto good = write_trailer({7, 100, 5});
  for (const auto& c : cases) {
    Bytes t(good.begin(), good.end());
    c.edit(t);
    EXPECT_EQ(parse_trailer(t).fault, c.fault) << c.what;
  }
}

TEST(MemberIndex, FindsOneTwoThreeMembers) {
  const Bytes parts[] = {member(100, 40, 1), member(0, 8, 2), member(77, 61, 3)};
  Bytes file;
  for (int n = 1; n <= 3; ++n) {
    file.insert(file.end(), parts[n - 1].begin(), parts[n - 1].end());
    const MemberIndex idx = index_members(file);
    ASSERT_EQ(idx.kind, Kind::members) << n;
    ASSERT_EQ(idx.members.size(), size_t(n));
    uint64_t at = 0;
    for (int i = 0; i < n; ++i) {
      const Member& m = idx.members[i];
      EXPECT_EQ(m.offset, at);
      EXPECT_EQ(m.stream_offset, at + HEADER_BYTES);
      EXPECT_EQ(m.stream_bytes, parts[i].size() - HEADER_BYTES - TRAILER_BYTES);
      EXPECT_EQ(m.header.level_limit, 9u);
      EXPECT_EQ(m.trailer.text_hash, 0x0123456789ABCDEFull * (i + 1));
      at += parts[i].size();
    }
  }
}

TEST(MemberIndex, FilesWithoutTrailerArePlain) {
  Bytes stream = member(5, 200, 9);  // a header and a stream, the trailer dropped
  stream.resize(stream.size() - TRAILER_BYTES);
  Bytes magic_start(100, 0x33);  // ends like a trailer's magic, with nothing to check it
  magic_start.insert(magic_start.end(), TRAILER_MAGIC.begin(), TRAILER_MAGIC.end() - 1);
  for (const Bytes& f : {Bytes{}, Bytes{1, 2, 3, 4}, Bytes(HEADER_BYTES, 0), Bytes(300, 0xFF), stream, magic_start})
    EXPECT_EQ(index_members(f).kind, Kind::plain) << f.size();
}

// Every byte of a trailer and of a header's text length is checked; the other
// header bytes and the stream are the decoder's to check.
TEST(MemberIndex, EverySingleByteChangeIsFoundOrHarmless) {
  const Bytes good = three_members();
  const MemberIndex want = index_members(good);
  std::vector<bool> checked(good.size(), false);
  for (const Member& m : want.members) {
    std::fill_n(checked.begin() + m.offset, 4, true);
    std::fill_n(checked.begin() + m.offset + m.trailer.member_bytes - TRAILER_BYTES, TRAILER_BYTES, true);
  }
  int damaged = 0;
  for (size_t i = 0; i < good.size(); ++i) {
    for (int x = 1; x < 256; ++x) {
      Bytes f = good;
      f[i] ^= static_cast<uint8_t>(x);
      const MemberIndex idx = index_members(f);
      const bool is_damaged = idx.kind == Kind::damaged;
      damaged += is_damaged;
      ASSERT_EQ(is_damaged, checked[i]) << "byte " << i << " ^ " << x;
      const auto& intact = idx.members;
      const size_t skip = is_damaged ? want.members.size() - std::min(intact.size(), want.members.size()) : 0;
      ASSERT_EQ(keys(intact), keys(std::span(want.members).subspan(skip))) << "byte " << i << " ^ " << x;
    }
  }
  EXPECT_EQ(damaged, 255 * 3 * (4 + 36));
}

TEST(MemberIndex, EveryTruncationIsFoundOrAShorterFile) {
  const Bytes good = three_members();
  const MemberIndex want = index_members(good);
  const uint64_t end1 = want.members[1].offset, end2 = want.members[2].offset;
  int counts[3] = {};
  for (size_t len = 0; len < good.size(); ++len) {
    const MemberIndex idx = index_members({good.data(), len});
    ++counts[static_cast<int>(idx.kind)];
    if (len == end1 || len == end2) {
      ASSERT_EQ(idx.kind, Kind::members) << len;
      EXPECT_EQ(keys(idx.members), keys(std::span(want.members).first(len == end1 ? 1 : 2)));
    } else if (len + 8 < end1) {  // nothing left shows that members were there
      EXPECT_EQ(idx.kind, Kind::plain) << len;
    } else {
      ASSERT_EQ(idx.kind, Kind::damaged) << len;
      const uint64_t next_end = len < end1 ? end1 : len < end2 ? end2 : good.size();
      const bool in_magic = len + 8 >= next_end;
      EXPECT_EQ(idx.damage.fault, in_magic ? F::trailer_cut_short : F::unclaimed_bytes) << len;
      EXPECT_EQ(idx.damage.offset, in_magic ? next_end - TRAILER_BYTES : len < end2 ? end1 : end2) << len;
    }
  }
  EXPECT_EQ(counts[int(Kind::plain)], int(end1 - 8));
  EXPECT_EQ(counts[int(Kind::members)], 2);
  EXPECT_EQ(counts[int(Kind::damaged)], int(good.size() - (end1 - 8) - 2));
}

// Members numbered within their run, the last flagged: anything but whole
// runs one after another is refused where the run breaks.
TEST(MemberIndex, RunsMustBeWhole) {
  // Member k of a run of n (seed s): a distinct stream for each.
  const auto m = [](uint32_t k, uint32_t n, uint32_t s = 1) { return member(10 * k, 8 + k, s * 10 + k, 2, k, k + 1 == n); };
  const auto v1 = [](uint32_t seed) { return member(5, 9, seed, 1); };
  const struct {
    const char* what;
    std::vector<Bytes> parts;
    F fault;           // none: the file is whole
    int fault_member;  // where: the index of the member that breaks it, -1 the end of the file
  } cases[] = {
      {"one run", {m(0, 3), m(1, 3), m(2, 3)}, F::none, 0},
      {"two runs", {m(0, 2), m(1, 2), m(0, 3, 2), m(1, 3, 2), m(2, 3, 2)}, F::none, 0},
      {"old members around a run", {v1(1), m(0, 2), m(1, 2), v1(2)}, F::none, 0},
      {"cut after a member", {m(0, 3), m(1, 3)}, F::run_cut_short, -1},
      {"cut, then another run", {m(0, 3), m(1, 3), m(0, 1, 2)}, F::run_cut_short, 2},
      {"cut, then an old member", {m(0, 3), v1(1)}, F::run_cut_short, 1},
      {"first member dropped", {m(1, 3), m(2, 3)}, F::member_out_of_order, 0},
      {"middle member dropped", {m(0, 3), m(2, 3)}, F::member_out_of_order, 1},
      {"member repeated", {m(0, 3), m(1, 3), m(1, 3), m(2, 3)}, F::member_out_of_order, 2},
      {"members swapped", {m(0, 3), m(2, 3), m(1, 3)}, F::member_out_of_order, 1},
  };
  for (const auto& c : cases) {
    Bytes file;
    std::vector<uint64_t> starts;
    for (const Bytes& p : c.parts) {
      starts.push_back(file.size());
      file.insert(file.end(), p.begin(), p.end());
    }
    const MemberIndex idx = index_members(file);
    if (c.fault == F::none) {
      EXPECT_EQ(idx.kind, Kind::members) << c.what;
      EXPECT_EQ(idx.members.size(), c.parts.size()) << c.what;
      continue;
    }
    ASSERT_EQ(idx.kind, Kind::damaged) << c.what;
    EXPECT_EQ(idx.damage.fault, c.fault) << c.what;
    EXPECT_EQ(idx.damage.offset, c.fault_member < 0 ? file.size() : starts[c.fault_member]) << c.what;
    EXPECT_EQ(index_members(file, false).kind, Kind::members) << c.what;  // each member is intact
  }
}

TEST(MemberIndex, HostileMemberSizes) {
  Bytes two = member(100, 40, 1);
  const Bytes second = member(77, 61, 3);
  two.insert(two.end(), second.begin(), second.end());
  const size_t trailer_at = two.size() - TRAILER_BYTES;
  const struct {
    uint64_t member_bytes;
    F fault;  // none: some fault, whichever the bytes it lands on give
  } cases[] = {
      {0, F::member_too_small},          {MIN_MEMBER_BYTES - 1, F::member_too_small},
      {MAX_MEMBER_BYTES, F::member_before_start},   {two.size() + 1, F::member_before_start},
      {two.size(), F::text_length_mismatch},  // swallows the first member
      {second.size() - 1, F::none},     {second.size() + 20, F::none},  // overlapping
  };
  for (const auto& c : cases) {
    Bytes f = two;
    put_member_bytes(f, trailer_at, c.member_bytes);
    reseal(f, trailer_at);
    const MemberIndex idx = index_members(f);
    ASSERT_EQ(idx.kind, Kind::damaged) << c.member_bytes;
    if (c.fault != F::none) {
      EXPECT_EQ(idx.damage.fault, c.fault) << c.member_bytes;
    }
    EXPECT_TRUE(idx.members.empty());
  }
  // A file made only of magics: every trailer candidate fails its check.
  Bytes magics;
  for (int i = 0; i < 1000; ++i) magics.insert(magics.end(), TRAILER_MAGIC.begin(), TRAILER_MAGIC.end());
  EXPECT_EQ(index_members(magics).damage.fault, F::trailer_damaged);
  Bytes prefixed = two;
  prefixed.insert(prefixed.begin(), 0);
  const MemberIndex idx = index_members(prefixed);
  EXPECT_EQ(idx.damage.fault, F::bytes_before_first_member);
  EXPECT_EQ(idx.members.size(), 2u);
}

TEST(MemberIndex, AfterAStreamAndAfterDecoding) {
  const Bytes m = member(100, 40, 1);
  const ContainerHeader h{100, 9, 16};
  const Bytes trailer(m.end() - TRAILER_BYTES, m.end());
  Bytes more = trailer;
  more.push_back(0);
  const struct {
    Bytes next;
    uint64_t consumed;
    AfterStream::Kind kind;
    F fault;
    uint64_t offset;
  } cases[] = {
      {{}, 40, AfterStream::Kind::end_of_file, F::none, 0},
      {trailer, 40, AfterStream::Kind::last_member, F::none, 0},
      {more, 40, AfterStream::Kind::more_members, F::none, 0},
      {trailer, 39, AfterStream::Kind::damaged, F::stream_end_mismatch, 1000 + 8 + 39},
      {Bytes(trailer.begin(), trailer.begin() + 30), 40, AfterStream::Kind::damaged, F::trailer_cut_short, 1048},
      {Bytes(trailer.begin() + 1, trailer.end()), 41, AfterStream::Kind::damaged, F::not_a_trailer, 1049},
      {Bytes(50, 0), 40, AfterStream::Kind::damaged, F::not_a_trailer, 1048},
  };
  for (const auto& c : cases) {
    const AfterStream a = read_after_stream(c.next, 1000, h, c.consumed);
    EXPECT_EQ(a.kind, c.kind) << c.next.size();
    EXPECT_EQ(a.damage, (MemberDamage{c.offset, c.fault})) << c.next.size();
  }
  EXPECT_EQ(read_after_stream(trailer, 1000, {99, 9, 16}, 40).damage.fault, F::text_length_mismatch);

  const Member got = read_after_stream(trailer, 1000, h, 40).member;
  const uint64_t hash = got.trailer.text_hash;
  EXPECT_FALSE(verify_member(got, hash, 40).has_value());
  EXPECT_EQ(verify_member(got, hash, 44), (MemberDamage{1000 + 8 + 44, F::stream_end_mismatch}));
  EXPECT_EQ(verify_member(got, hash ^ 1, 40), (MemberDamage{1000, F::checksum_mismatch}));
}

}  // namespace
}  // namespace tav
