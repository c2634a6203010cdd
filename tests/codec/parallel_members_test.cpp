// Members on worker threads: the first failure in file order and the text
// handed over before it do not depend on the number of threads.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "decoder_types.h"
#include "member_index.h"
#include "parallel_members.h"

namespace tav {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> blocks() {
  std::vector<Bytes> b;
  for (int k = 0; k < 5; ++k) {
    Bytes t;
    for (int i = 0; i < 3000 + 500 * k; ++i) t.push_back(static_cast<uint8_t>("member text, line\n"[i % 18] + k % 2));
    b.push_back(t);
  }
  return b;
}

// Compresses `input` with `threads`; block `fail_read` gives a read error,
// member `fail_write` cannot be written (-1: none).
struct Compressed {
  CompressOutcome outcome;
  Bytes file;
};
Compressed compress(const std::vector<Bytes>& input, unsigned threads, int fail_read = -1, int fail_write = -1) {
  Compressed c;
  size_t next = 0;
  CompressJobs jobs;
  jobs.next_block = [&] {
    BlockRead r;
    if (static_cast<int>(next) == fail_read) return r.status = BlockStatus::error, r.error = EIO, r;
    if (next < input.size()) r.status = BlockStatus::block, r.bytes = input[next++];
    return r;
  };
  jobs.write = [&](size_t i, const CodedMember& m) {
    if (static_cast<int>(i) == fail_write) return errno = ENOSPC, false;
    c.file.insert(c.file.end(), m.bytes.begin(), m.bytes.end());
    return true;
  };
  jobs.settings = {3, 8};
  jobs.verify = true;
  c.outcome = compress_blocks(jobs, threads);
  return c;
}

// The bytes do not depend on the threads either: tests/programs/same_bytes_test.cpp
// compares them from every entry point.
TEST(ParallelMembers, CompressionFailsAtTheSameMemberForAnyThreads) {
  ASSERT_TRUE(set_numeric_mode());
  const std::vector<Bytes> input = blocks();
  const Compressed one = compress(input, 1);
  ASSERT_FALSE(one.outcome.failure);
  EXPECT_EQ(one.outcome.members, input.size());
  EXPECT_EQ(index_members(one.file).members.size(), input.size());
  const Compressed empty = compress({}, 3);  // no block at all: one empty member
  EXPECT_EQ(empty.outcome.members, 1u);
  EXPECT_EQ(index_members(empty.file).members.size(), 1u);
  for (unsigned threads : {2u, 3u, 8u}) {
    const Compressed r = compress(input, threads, 3);
    ASSERT_TRUE(r.outcome.failure) << threads;
    EXPECT_EQ(r.outcome.failure->fault, RunFault::read);
    EXPECT_EQ(r.outcome.failure->member, 3u);
    EXPECT_EQ(r.outcome.members, 3u);
    const Compressed w = compress(input, threads, -1, 2);
    ASSERT_TRUE(w.outcome.failure) << threads;
    EXPECT_EQ(w.outcome.failure->fault, RunFault::write);
    EXPECT_EQ(w.outcome.failure->error, ENOSPC);
    EXPECT_EQ(w.outcome.failure->member, 2u);
    EXPECT_EQ(w.outcome.members, 2u);
  }
}

// Gives member `i` of `file` another text hash, with a valid trailer check.
void change_hash(Bytes& file, const Member& m) {
  const size_t at = m.offset + m.trailer.member_bytes - TRAILER_BYTES;
  MemberTrailer t = m.trailer;
  t.text_hash ^= 1;
  const auto bytes = write_trailer(t);
  std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<long>(at));
}

TEST(ParallelMembers, DecodingHandsOverInOrderUpToTheFirstFault) {
  ASSERT_TRUE(set_numeric_mode());
  const std::vector<Bytes> input = blocks();
  const Bytes good = compress(input, 1).file;
  const FilePlan plan = plan_file(good);
  Bytes text;
  for (const Bytes& b : input) text.insert(text.end(), b.begin(), b.end());
  Bytes bad = good;
  change_hash(bad, plan.members[1]);
  change_hash(bad, plan.members[3]);
  const FilePlan bad_plan = plan_file(bad);
  for (unsigned threads : {1u, 2u, 3u, 8u}) {
    for (const bool damaged : {false, true}) {
      const Bytes& file = damaged ? bad : good;
      Bytes out;
      std::vector<size_t> order;
      DecodeJobs jobs;
      jobs.file = file;
      jobs.plan = damaged ? &bad_plan : &plan;
      jobs.write = [&](size_t i, std::span<const uint8_t> t) {
        order.push_back(i);
        out.insert(out.end(), t.begin(), t.end());
        return true;
      };
      const ParallelDecodeResult r = decode_members(jobs, threads);
      if (!damaged) {
        EXPECT_TRUE(r.file.ok()) << threads;
        EXPECT_EQ(out, text) << threads;
        EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4}));
        continue;
      }
      ASSERT_TRUE(r.file.last.damage) << threads;
      EXPECT_EQ(r.file.last.damage->fault, MemberFault::checksum_mismatch);
      EXPECT_EQ(r.file.last.damage->offset, plan.members[1].offset);
      EXPECT_EQ(r.file.member, 1u);
      EXPECT_EQ(out, input[0]) << threads;
      EXPECT_EQ(r.file.text_written, input[0].size());
    }
  }
}

}  // namespace
}  // namespace tav
