// Members end to end over memory: files of one and several members decode to
// their text; each member's stream, with its trailer replaced, decodes alone
// to the same text without reading past the stream; and a damaged member is
// named with its position.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "block_cutter.h"
#include "member_decode.h"
#include "member_encode.h"
#include "verify_container.h"

namespace tav {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode_file(const Bytes& text, uint32_t order, uint64_t max_block) {
  Bytes file;
  SpanBlockSource blocks(text, max_block);
  for (BlockRead r; (r = blocks.next()).status == BlockStatus::block;) {
    VectorSink sink;
    const MemberEncodeResult m = encode_member(r.bytes, {order, 8}, sink);
    EXPECT_EQ(m.coded.result.status, EncodeStatus::ok);
    EXPECT_EQ(m.member_bytes, sink.bytes.size());
    file.insert(file.end(), sink.bytes.begin(), sink.bytes.end());
  }
  return file;
}

struct Decoded {
  FileDecodeResult r;
  Bytes text;
};

Decoded decode(const Bytes& file, const FilePlan& plan) {
  Decoded d;
  Bytes buf(plan.text_bytes + 1);
  VectorSink out;
  d.r = decode_file(file, plan, buf.data(), &out);
  d.text = out.bytes;
  return d;
}

Bytes sample(const std::string& kind, size_t n) {
  std::mt19937 rng(5);
  Bytes t;
  for (size_t i = 0; i < n; ++i) {
    if (kind == "english") t.push_back(static_cast<uint8_t>("the cat sat on a mat, then ran\n"[i % 31] + (i / 500) % 2));
    if (kind == "random") t.push_back(static_cast<uint8_t>(rng()));
    if (kind == "zeros") t.push_back(0);
    if (kind == "ff") t.push_back(0xFF);
  }
  return t;
}

TEST(MemberCodec, RoundTripsAndEachStreamStandsAlone) {
  ASSERT_TRUE(set_numeric_mode());
  const struct {
    const char* kind;
    size_t length;
    uint32_t order;
    uint64_t max_block;
    size_t members;
  } cases[] = {
      {"english", 0, 4, MAX_TEXT_LENGTH, 1},   {"english", 1, 0, MAX_TEXT_LENGTH, 1},
      {"english", 5000, 5, MAX_TEXT_LENGTH, 1}, {"english", 5000, 3, 1700, 3},
      {"random", 3000, 2, 1000, 3},             {"zeros", 4000, 8, 4000, 1},
      {"ff", 2000, 1, 999, 3},                  {"english", 7, 2, 1, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(c.length) + "/" + std::to_string(c.max_block));
    const Bytes text = sample(c.kind, c.length);
    const Bytes file = encode_file(text, c.order, c.max_block);
    const FilePlan plan = plan_file(file);
    ASSERT_FALSE(plan.damage);
    ASSERT_TRUE(plan.checked);
    ASSERT_EQ(plan.members.size(), c.members);
    const Decoded d = decode(file, plan);
    EXPECT_TRUE(d.r.ok());
    EXPECT_EQ(d.text, text);
    // A decoder that knows nothing of trailers: the stream followed by other
    // bytes where the trailer was decodes to the same text, reading no filler
    // and no byte past the stream.
    uint64_t at = 0;
    for (const Member& m : plan.members) {
      for (const uint8_t other : {0x00, 0xFF, 0x5A}) {
        Bytes stream(file.begin() + m.stream_offset, file.begin() + m.stream_offset + m.stream_bytes);
        stream.resize(stream.size() + TRAILER_BYTES, other);
        Bytes out(m.header.text_length + 1);
        Model model;
        const StreamResult r = decode_stream(model, m.header, stream, out.data());
        ASSERT_EQ(r.status, ByteStatus::ok);
        EXPECT_EQ(r.stream_bytes, m.stream_bytes);
        EXPECT_TRUE(std::equal(text.begin() + at, text.begin() + at + m.header.text_length, out.begin()));
      }
      at += m.header.text_length;
    }
  }
}

TEST(MemberCodec, DamagedMembersAreNamedWithTheirPosition) {
  ASSERT_TRUE(set_numeric_mode());
  const Bytes text = sample("english", 3000);
  const Bytes good = encode_file(text, 4, 1000);
  const Member second = plan_file(good).members[1];
  const uint64_t trailer_at = second.offset + second.trailer.member_bytes - TRAILER_BYTES;
  // Rewrites the second member's trailer.
  const auto retrail = [&](Bytes& f, MemberTrailer t) {
    const auto b = write_trailer(t);
    std::copy(b.begin(), b.end(), f.begin() + static_cast<long>(trailer_at));
  };
  const struct {
    const char* what;
    std::function<void(Bytes&)> damage;
    MemberFault fault;
    uint64_t offset;
    uint64_t text_written;  // the members before the damaged one
  } cases[] = {
      {"checksum", [&](Bytes& f) { MemberTrailer t = second.trailer; t.text_hash ^= 1; retrail(f, t); },
       MemberFault::checksum_mismatch, second.offset, 1000},
      // One more stream byte than the decoder reads, and a trailer that claims it.
      {"stream longer than read", [&](Bytes& f) {
         f.insert(f.begin() + static_cast<long>(trailer_at), 0x00);
         MemberTrailer t = second.trailer;
         ++t.member_bytes;
         const auto b = write_trailer(t);
         std::copy(b.begin(), b.end(), f.begin() + static_cast<long>(trailer_at) + 1);
       },
       MemberFault::stream_end_mismatch, second.stream_offset + second.stream_bytes, 1000},
  };
  for (const auto& c : cases) {
    Bytes file = good;
    c.damage(file);
    const FilePlan plan = plan_file(file);
    ASSERT_FALSE(plan.damage) << c.what;
    const Decoded d = decode(file, plan);
    ASSERT_TRUE(d.r.last.damage) << c.what;
    EXPECT_EQ(*d.r.last.damage, (MemberDamage{c.offset, c.fault})) << c.what;
    EXPECT_EQ(d.r.text_written, c.text_written) << c.what;
    EXPECT_EQ(d.text, Bytes(text.begin(), text.begin() + static_cast<long>(c.text_written))) << c.what;
  }
  // Bytes after the last member, or a trailer cut: refused without decoding.
  Bytes tail = good;
  tail.push_back(0);
  EXPECT_TRUE(plan_file(tail).damage);
  EXPECT_TRUE(plan_file(Bytes(good.begin(), good.end() - 3)).damage);
}

// tav_e -t: every member decoded and checked, the texts in order.
TEST(MemberCodec, VerifyMembersNamesEachFault) {
  ASSERT_TRUE(set_numeric_mode());
  const Bytes text = sample("english", 2500);
  const Bytes good = encode_file(text, 3, 1000);
  VectorSink plain;
  ASSERT_EQ(encode_with_fallback(text, {3, 8}, plain).result.status, EncodeStatus::ok);
  Bytes other_text = text;
  other_text[2400] ^= 1;
  Bytes bad_hash = good;
  MemberTrailer t = plan_file(good).members[2].trailer;
  t.text_hash ^= 4;
  const auto b = write_trailer(t);
  std::copy(b.begin(), b.end(), bad_hash.end() - TRAILER_BYTES);
  using Kind = VerifyFinding::Kind;
  const struct {
    const char* what;
    Bytes file, text;
    Kind kind;
    uint64_t at;
    MemberFault fault;
  } cases[] = {
      {"good", good, text, Kind::none, 0, MemberFault::none},
      {"other text", good, other_text, Kind::text_differs, 2400, MemberFault::none},
      {"shorter text", good, Bytes(text.begin(), text.end() - 1), Kind::sizes_differ, 0, MemberFault::none},
      {"plain container", plain.bytes, text, Kind::not_members, 0, MemberFault::none},
      {"wrong hash", bad_hash, text, Kind::member_damaged, good.size() - t.member_bytes,
       MemberFault::checksum_mismatch},
      {"cut", Bytes(good.begin(), good.end() - 1), text, Kind::plan_damaged, good.size() - TRAILER_BYTES,
       MemberFault::trailer_cut_short},
  };
  for (const auto& c : cases) {
    const VerifyFinding f = verify_members(c.file, c.text);
    EXPECT_EQ(f.kind, c.kind) << c.what;
    EXPECT_EQ(f.at, c.at) << c.what;
    EXPECT_EQ(f.member_fault, c.fault) << c.what;
  }
}

}  // namespace
}  // namespace tav
